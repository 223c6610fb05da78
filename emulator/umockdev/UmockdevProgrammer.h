#pragma once

#include "EzUsbDevice.h"
#include "FirmwareSide.h"
#include "UsbConfig.h"
#include "UsbTypes.h"

#include <cstdint>
#include <memory>
#include <string>

// umockdev's testbed, declared here so that this header pulls in no GLib
// header (GLib's headers clash with Qt's keyword macros).
typedef struct _UMockdevTestbed UMockdevTestbed;

namespace kvemu {

struct UmockdevOptions
{
    // Answer to USBDEVFS_GET_CAPABILITIES: zero-length packets, bulk
    // continuation, no packet-size limit, scatter-gather, reap after
    // disconnect (one URB per libusb transfer).
    static constexpr std::uint32_t DefaultCapabilities = 0x1F;

    int busNumber = 1;
    std::uint32_t capabilities = DefaultCapabilities;
};

// What the usbfs side has answered so far.
struct UsbfsStats
{
    std::uint64_t ioctls = 0;
    std::uint64_t submits = 0;
    std::uint64_t reaps = 0;
    std::uint64_t discards = 0;
    std::uint64_t reads = 0;
    std::uint64_t unknownIoctls = 0;
    // Bulk URBs on an interface the client had not claimed (the kernel
    // claims it for the client, as done here).
    std::uint64_t implicitClaims = 0;
};

// The emulated programmer on an emulated USB bus: a umockdev testbed gets a
// root hub and the device, and every usbfs ioctl that a client (the real
// libusb-1.0, in this process) issues on the device's node is answered by
// the EzUsbDevice model. When the model disconnects (firmware start,
// unplug) the device leaves sysfs with a "remove" uevent, its URBs in
// flight fail with -ESHUTDOWN (libusb: LIBUSB_ERROR_NO_DEVICE) and every
// further ioctl on its node fails with ENODEV; when the model enumerates
// again, the device comes back with the new descriptors and device number.
// A thread of its own drives the model's timed steps.
//
// The process must run with libumockdev-preload.so.0 preloaded (see
// kvemu_umockdev_test_environment() in CMake). Create the libusb context
// after the programmer and exit it before the programmer goes away: libusb
// binds its hotplug monitor to the testbed that exists at libusb_init().
// One programmer per testbed it creates; several at a time share one
// testbed (second constructor) on different bus numbers.
class UmockdevProgrammer
{
public:
    // Creates a testbed of its own (destroyed with the programmer).
    // Throws std::invalid_argument for a bad config.runningImage.
    explicit UmockdevProgrammer(UsbConfig config = {}, std::shared_ptr<FirmwareSide> firmware = {},
                                UmockdevOptions options = {});
    // Adds the root hub and the device to `testbed` (a reference is taken).
    UmockdevProgrammer(UMockdevTestbed *testbed, UsbConfig config = {},
                       std::shared_ptr<FirmwareSide> firmware = {}, UmockdevOptions options = {});
    ~UmockdevProgrammer();
    UmockdevProgrammer(const UmockdevProgrammer &) = delete;
    UmockdevProgrammer &operator=(const UmockdevProgrammer &) = delete;

    // The device model: RAM, control log, events, state. Changes made
    // through it (unplug, replug, finishReenumeration) reach the bus too.
    EzUsbDevice &model();
    const EzUsbDevice &model() const;
    UMockdevTestbed *testbed() const;
    std::string rootDirectory() const;

    // The device as the bus shows it: Gone while it is not in sysfs.
    DeviceState state() const;
    int busNumber() const;
    // Device number in sysfs and in the node's name; 0 while gone.
    int deviceNumber() const;
    // "/dev/bus/usb/BBB/DDD" of the device; empty while gone.
    std::string deviceNode() const;
    // The model's enumeration count that the bus shows (see
    // EzUsbDevice::enumerationCount); kept while gone.
    std::uint32_t enumerationCount() const;

    // Waits until the bus shows `state`; false on timeout.
    bool waitForState(DeviceState state, int timeoutMs);
    // Waits until the bus shows enumeration `count` or a later one.
    bool waitForEnumeration(std::uint32_t count, int timeoutMs);

    // Pulls the plug: transfers in flight fail at once, the device leaves
    // the bus shortly after (waitForState(DeviceState::Gone, ...)).
    void unplug();
    // Plugs it in again (see EzUsbDevice::replug); false when not unplugged.
    bool replug();

    UsbfsStats stats() const;

    // Whether libumockdev-preload is in LD_PRELOAD (the testbed is only
    // seen by code running under it).
    static bool preloadActive();

    class Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

} // namespace kvemu
