#pragma once

#include "Descriptors.h"
#include "UeventSender.h"

#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace kvemu {

// Where a USB device sits on an emulated bus, and how fast its link runs.
struct BusPlace
{
    int bus = 1;
    int devnum = 1;
    bool highSpeed = true;
};

// Adds a USB device to the testbed's sysfs as the kernel shows it (the
// attributes libusb and udev read, and the "descriptors" file) under
// /sys/devices/<name>; no uevent is sent. Returns its syspath, or nothing
// when umockdev refused it. `properties` gets what its uevents carry.
std::string addSysfsUsbDevice(UMockdevTestbed *testbed, const std::string &name, BusPlace place,
                              const DescriptorSet &set,
                              const std::vector<std::string> &extraAttributes,
                              UeventSender::Properties &properties);

// "/dev/bus/usb/BBB/DDD".
std::string usbDeviceNode(int bus, int devnum);

// Writes a device node under the testbed's `root` as a plain file holding
// the device and configuration descriptors, as a read() on usbfs gives them.
bool writeDescriptorNode(const std::string &root, const std::string &devnode,
                         const DescriptorSet &set);

} // namespace kvemu
