#pragma once

#include "Descriptors.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace kvemu {

// Another USB device on the emulated bus: a hub, a HID device, a serial
// bridge, whatever its descriptors say, with a kernel driver bound to its
// interfaces or none. It does nothing, but its node keeps a list of what
// clients did to it (opens and usbfs requests), so a test proves that a
// program looking for the programmer left it alone. It sits in sysfs before
// any libusb context starts (no uevent), on a bus of its own.
class UmockdevBystander
{
public:
    struct Options
    {
        int busNumber = 1;
        // The driver that holds its interfaces; empty: none.
        std::string driver;
    };

    // Creates a testbed of its own; a programmer joins it with
    // UmockdevProgrammer(bystander.testbed(), ...) on another bus.
    UmockdevBystander(DescriptorSet descriptors, Options options);
    ~UmockdevBystander();
    UmockdevBystander(const UmockdevBystander &) = delete;
    UmockdevBystander &operator=(const UmockdevBystander &) = delete;

    UMockdevTestbed *testbed() const;

    // "open", then one entry per usbfs request by its name ("GET_CAPABILITIES",
    // "GETDRIVER", "CLAIMINTERFACE", "DISCONNECT", "CONTROL", "SUBMITURB", ...).
    std::vector<std::string> contacts() const;

    class Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

} // namespace kvemu
