#include "SysfsUsbDevice.h"

#include <umockdev.h>

#include <cstdio>

namespace kvemu {

namespace {

constexpr int UsbMajor = 189;

std::string format(const char *pattern, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

} // namespace

std::string usbDeviceNode(int bus, int devnum)
{
    return format("/dev/bus/usb/%03d/%03d", bus, devnum);
}

bool writeDescriptorNode(const std::string &root, const std::string &devnode,
                         const DescriptorSet &set)
{
    const std::string path = root + devnode;
    gchar *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    std::vector<std::uint8_t> contents = set.device;
    contents.insert(contents.end(), set.configuration.begin(), set.configuration.end());
    return g_file_set_contents(path.c_str(), reinterpret_cast<const gchar *>(contents.data()),
                               static_cast<gssize>(contents.size()), nullptr);
}

std::string addSysfsUsbDevice(UMockdevTestbed *testbed, const std::string &name, BusPlace place,
                              const DescriptorSet &set,
                              const std::vector<std::string> &extraAttributes,
                              UeventSender::Properties &properties)
{
    const int bus = place.bus;
    const int devnum = place.devnum;
    const int minor = (bus - 1) * 128 + devnum - 1;
    const auto &d = set.device;
    const unsigned vendor = d[8] | (d[9] << 8);
    const unsigned product = d[10] | (d[11] << 8);
    const unsigned release = d[12] | (d[13] << 8);
    properties = {{"DEVNAME", usbDeviceNode(bus, devnum)},
                  {"BUSNUM", format("%03d", bus)},
                  {"DEVNUM", format("%03d", devnum)},
                  {"MAJOR", std::to_string(UsbMajor)},
                  {"MINOR", std::to_string(minor)},
                  {"PRODUCT", format("%x/%x/%x", vendor, product, release)}};
    std::vector<std::string> props = {"SUBSYSTEM", "usb", "DEVTYPE", "usb_device"};
    for (const auto &p : properties) {
        props.push_back(p.first);
        props.push_back(p.second);
    }
    std::vector<std::string> attributes = {"busnum",
                                           format("%d\n", bus),
                                           "devnum",
                                           format("%d\n", devnum),
                                           "dev",
                                           format("%d:%d\n", UsbMajor, minor),
                                           "speed",
                                           place.highSpeed ? "480\n" : "12\n",
                                           "idVendor",
                                           format("%04x\n", vendor),
                                           "idProduct",
                                           format("%04x\n", product),
                                           "bcdDevice",
                                           format("%04x\n", release),
                                           "bDeviceClass",
                                           format("%02x\n", d[4]),
                                           "bMaxPacketSize0",
                                           format("%d\n", d[7]),
                                           "bNumConfigurations",
                                           format("%d\n", d[17]),
                                           "bConfigurationValue",
                                           format("%d\n", set.layout.value),
                                           "bNumInterfaces",
                                           format("%2d\n", set.layout.interfaceCount),
                                           "version",
                                           " 2.00\n",
                                           "authorized",
                                           "1\n"};
    attributes.insert(attributes.end(), extraAttributes.begin(), extraAttributes.end());

    std::vector<gchar *> attributeArray, propertyArray;
    for (std::string &a : attributes)
        attributeArray.push_back(a.data());
    attributeArray.push_back(nullptr);
    for (std::string &p : props)
        propertyArray.push_back(p.data());
    propertyArray.push_back(nullptr);
    gchar *syspath = umockdev_testbed_add_devicev(testbed, "usb", name.c_str(), nullptr,
                                                  attributeArray.data(), propertyArray.data());
    if (!syspath)
        return {};
    std::string path = syspath;
    g_free(syspath);
    std::vector<std::uint8_t> all = set.device;
    all.insert(all.end(), set.configuration.begin(), set.configuration.end());
    umockdev_testbed_set_attribute_binary(testbed, path.c_str(), "descriptors", all.data(),
                                          static_cast<gint>(all.size()));
    return path;
}

} // namespace kvemu
