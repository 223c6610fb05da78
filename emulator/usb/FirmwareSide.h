#pragma once

#include "UsbTypes.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <span>

namespace kvemu {

// The firmware running in the emulated programmer, as the USB model sees
// it: the model hands it the bulk traffic while the device is in
// DeviceState::Firmware.
//
// The model calls these functions with its own lock held, one at a time;
// an implementation must not call back into the model. Packet boundaries
// are not modelled: one call is one transfer.
class FirmwareSide
{
public:
    FirmwareSide() = default;
    FirmwareSide(const FirmwareSide &) = delete;
    FirmwareSide &operator=(const FirmwareSide &) = delete;
    virtual ~FirmwareSide();

    // The CPU started this image; the device enumerated at `speed`.
    virtual void onStart(const ImageInfo &image, LinkSpeed speed) = 0;
    // The host sends `data` to OUT endpoint `endpoint`. Ok with the bytes
    // taken, Nak when it cannot take them now, Stall to halt the endpoint.
    virtual TransferResult bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) = 0;
    // The host asks IN endpoint `endpoint` for up to buffer.size() bytes.
    // Ok with the bytes written (0: a zero-length packet), Nak when there
    // is no answer yet (the host keeps waiting), Stall to halt the endpoint.
    virtual TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) = 0;
    // Vendor control requests other than the firmware load (0xA0). The
    // default refuses them with a stall.
    virtual TransferResult vendorRequest(const SetupPacket &setup, std::span<std::uint8_t> data);
    // The CPU stopped: held in reset, disconnected or unplugged.
    virtual void onStop() = 0;

    // Installed by the model. Called by wake().
    void setWakeHandler(std::function<void()> handler);

protected:
    // Tells the model that a transfer answered with Nak may now proceed.
    // Safe from any thread, but not from inside bulkOut/bulkIn while the
    // implementation holds a lock of its own that wake handlers could need.
    void wake();

private:
    std::mutex m_wakeMutex;
    std::function<void()> m_wakeHandler;
};

} // namespace kvemu
