#pragma once

#include <memory>

class CDeviceItem;
class ChipEngine;
class Settings;
class UsbDriverTable;

// Builds the chip engine for a device record's family (its `kind`). The
// engine is neither connected to anything nor started.
namespace EngineFactory {
std::unique_ptr<ChipEngine> create(CDeviceItem &record, UsbDriverTable &usb, Settings &settings);
} // namespace EngineFactory
