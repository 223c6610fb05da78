#include "EngineFactory.h"

#include "CDeviceItem.h"
#include "CDeviceItemNand.h"
#include "ConnectionEngine.h"
#include "NandEngine.h"

std::unique_ptr<ChipEngine> EngineFactory::create(CDeviceItem &record, UsbDriverTable &usb,
                                                  Settings &settings)
{
    if (record.kind == CDeviceItem::NandKind)
        return std::make_unique<NandEngine>(usb, static_cast<CDeviceItemNand &>(record), settings);
    // The SPI family gets the connection of the engine base with its
    // firmware image until its chip engine takes over here.
    return std::make_unique<ConnectionEngine>(usb, record, settings);
}
