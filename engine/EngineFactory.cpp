#include "EngineFactory.h"

#include "CDeviceItem.h"
#include "ConnectionEngine.h"

std::unique_ptr<ChipEngine> EngineFactory::create(const CDeviceItem &record, UsbDriverTable &usb,
                                                  Settings &settings)
{
    // Both families get the connection of the engine base with their own
    // firmware image until their chip engines take over here.
    return std::make_unique<ConnectionEngine>(usb, record, settings);
}
