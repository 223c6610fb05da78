#include "UsbTypes.h"

namespace kvemu {

const char *stateName(DeviceState state)
{
    switch (state) {
    case DeviceState::Bare:
        return "Bare";
    case DeviceState::Gone:
        return "Gone";
    case DeviceState::Firmware:
        return "Firmware";
    }
    return "?";
}

const char *statusName(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Ok:
        return "Ok";
    case TransferStatus::Nak:
        return "Nak";
    case TransferStatus::Stall:
        return "Stall";
    case TransferStatus::NoDevice:
        return "NoDevice";
    case TransferStatus::Invalid:
        return "Invalid";
    }
    return "?";
}

const char *eventName(EventKind kind)
{
    switch (kind) {
    case EventKind::CpuHeld:
        return "CpuHeld";
    case EventKind::CpuReleased:
        return "CpuReleased";
    case EventKind::Disconnected:
        return "Disconnected";
    case EventKind::Enumerated:
        return "Enumerated";
    case EventKind::BadFirmware:
        return "BadFirmware";
    case EventKind::DownloadFault:
        return "DownloadFault";
    case EventKind::WriteWhileRunning:
        return "WriteWhileRunning";
    case EventKind::Unplugged:
        return "Unplugged";
    case EventKind::Replugged:
        return "Replugged";
    case EventKind::BusReset:
        return "BusReset";
    case EventKind::ByteBudgetSpent:
        return "ByteBudgetSpent";
    }
    return "?";
}

SetupPacket SetupPacket::fromBytes(const std::uint8_t *bytes)
{
    SetupPacket s;
    s.requestType = bytes[0];
    s.request = bytes[1];
    s.value = static_cast<std::uint16_t>(bytes[2] | (bytes[3] << 8));
    s.index = static_cast<std::uint16_t>(bytes[4] | (bytes[5] << 8));
    s.length = static_cast<std::uint16_t>(bytes[6] | (bytes[7] << 8));
    return s;
}

} // namespace kvemu
