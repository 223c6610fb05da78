#include "UeventSender.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace kvemu {

namespace {

// The header libudev puts before the properties of a monitor message.
struct MonitorHeader
{
    char prefix[8];
    std::uint32_t magic;
    std::uint32_t headerSize;
    std::uint32_t propertiesOffset;
    std::uint32_t propertiesLength;
    std::uint32_t subsystemHash;
    std::uint32_t devtypeHash;
    std::uint32_t tagBloomHigh;
    std::uint32_t tagBloomLow;
};

constexpr std::uint32_t MonitorMagic = 0xFEEDCAFE;

std::atomic<unsigned long long> sequenceNumber{1};

bool isListener(const char *name)
{
    if (std::strncmp(name, "event", 5) != 0 || name[5] == '\0')
        return false;
    for (const char *c = name + 5; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

} // namespace

UeventSender::UeventSender(std::string rootDirectory) : m_root(std::move(rootDirectory)) {}

// MurmurHash2, 32 bits, seeded with the length: what libudev's socket
// filter compares the subsystem and device type against.
unsigned UeventSender::hash(const std::string &text)
{
    constexpr std::uint32_t m = 0x5BD1E995;
    constexpr int r = 24;
    std::size_t length = text.size();
    std::uint32_t h = static_cast<std::uint32_t>(length);
    const auto *data = reinterpret_cast<const unsigned char *>(text.data());
    while (length >= 4) {
        std::uint32_t k;
        std::memcpy(&k, data, 4);
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        data += 4;
        length -= 4;
    }
    switch (length) {
    case 3:
        h ^= static_cast<std::uint32_t>(data[2]) << 16;
        [[fallthrough]];
    case 2:
        h ^= static_cast<std::uint32_t>(data[1]) << 8;
        [[fallthrough]];
    case 1:
        h ^= data[0];
        h *= m;
        break;
    default:
        break;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

int UeventSender::send(const std::string &action, const std::string &devpath,
                       const std::string &subsystem, const std::string &devtype,
                       const Properties &properties) const
{
    std::string body;
    const auto add = [&body](const std::string &key, const std::string &value) {
        body += key;
        body += '=';
        body += value;
        body += '\0';
    };
    add("ACTION", action);
    add("DEVPATH", devpath);
    add("SUBSYSTEM", subsystem);
    add("SEQNUM", std::to_string(sequenceNumber++));
    if (!devtype.empty())
        add("DEVTYPE", devtype);
    for (const auto &property : properties)
        add(property.first, property.second);

    MonitorHeader header{};
    std::memcpy(header.prefix, "libudev", 8);
    header.magic = htonl(MonitorMagic);
    header.headerSize = sizeof header;
    header.propertiesOffset = sizeof header;
    header.propertiesLength = static_cast<std::uint32_t>(body.size());
    header.subsystemHash = htonl(hash(subsystem));
    if (!devtype.empty())
        header.devtypeHash = htonl(hash(devtype));

    iovec parts[2] = {{&header, sizeof header}, {body.data(), body.size()}};
    int delivered = 0;
    DIR *dir = opendir(m_root.c_str());
    if (!dir)
        return 0;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    while (fd >= 0) {
        const dirent *entry = readdir(dir);
        if (!entry)
            break;
        if (!isListener(entry->d_name))
            continue;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = m_root + "/" + entry->d_name;
        if (path.size() >= sizeof address.sun_path)
            continue;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        msghdr message{};
        message.msg_name = &address;
        message.msg_namelen = sizeof address;
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        // A listener that is gone (ECONNREFUSED) or full (EAGAIN) misses it.
        if (sendmsg(fd, &message, MSG_NOSIGNAL) >= 0)
            ++delivered;
    }
    if (fd >= 0)
        close(fd);
    closedir(dir);
    return delivered;
}

} // namespace kvemu
