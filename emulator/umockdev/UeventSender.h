#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kvemu {

// Sends udev events to the listeners of a umockdev testbed: every udev
// monitor opened under libumockdev-preload is a datagram socket named
// <root>/event<N>. Unlike umockdev's own sender, a listener that closes while
// an event is on its way is skipped, not fatal: a client may end its libusb
// context at any moment, for example right after the command that makes
// the device disconnect.
class UeventSender
{
public:
    using Properties = std::vector<std::pair<std::string, std::string>>;

    explicit UeventSender(std::string rootDirectory);

    // `devpath` without "/sys" ("/devices/usb1/1-1"); `properties` come after
    // ACTION, DEVPATH, SUBSYSTEM and SEQNUM. Returns how many listeners got it.
    int send(const std::string &action, const std::string &devpath, const std::string &subsystem,
             const std::string &devtype, const Properties &properties) const;

    // The filter hash libudev puts in and checks on the message header.
    static unsigned hash(const std::string &text);

private:
    std::string m_root;
};

} // namespace kvemu
