#include "EngineFactory.h"

#include "CDeviceItem.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "NandEngine.h"
#include "SpiEngine.h"

std::unique_ptr<ChipEngine> EngineFactory::create(CDeviceItem &record, UsbDriverTable &usb,
                                                  Settings &settings)
{
    if (record.kind == CDeviceItem::NandKind)
        return std::make_unique<NandEngine>(usb, static_cast<CDeviceItemNand &>(record), settings);
    return std::make_unique<SpiEngine>(usb, static_cast<CDeviceItemSPIFlash &>(record));
}
