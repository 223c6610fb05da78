#pragma once

#include "ConfigReader.h"
#include "ProgrammerFirmware.h"

#include <QTest>

#include <memory>
#include <string>
#include <vector>

// Helpers for the tests of the emulated programmer's firmware: a firmware
// built from a profile text and started as one image, packets padded as
// the program sends them, answers read back.
namespace ProgrammerTest {

using Bytes = std::vector<std::uint8_t>;

// `bytes` followed by zeros up to `length`.
inline Bytes packet(std::initializer_list<int> bytes, std::size_t length)
{
    Bytes p;
    for (const int b : bytes)
        p.push_back(static_cast<std::uint8_t>(b));
    if (p.size() < length)
        p.resize(length, 0);
    return p;
}

inline kvemu::ImageInfo image(const char *name)
{
    const std::string n(name);
    const bool nand = n.rfind("NAND", 0) == 0;
    return {nand ? kvemu::ImageFamily::Nand : kvemu::ImageFamily::Spi,
            static_cast<std::uint8_t>(n.back() - '0'), n};
}

struct Rig
{
    explicit Rig(const std::string &profile, const char *imageName = "NAND image 1",
                 kvemu::LinkSpeed speed = kvemu::LinkSpeed::High)
        : Rig(kvemu::ConfigReader::read(profile), imageName, speed)
    {}

    Rig(const kvemu::EmulatorConfig &config, const char *imageName,
        kvemu::LinkSpeed speed = kvemu::LinkSpeed::High)
    {
        firmware = std::make_shared<kvemu::ProgrammerFirmware>(
            config.firmware, std::make_unique<kvemu::ChipBoard>(config.board));
        firmware->onStart(image(imageName), speed);
        firmware->log().clear();
    }

    void send(const Bytes &bytes, std::uint8_t endpoint = 0x02)
    {
        const auto r = firmware->bulkOut(endpoint, bytes);
        QVERIFY(r.ok());
        QCOMPARE(r.length, bytes.size());
    }

    // Reads up to `length` bytes from an IN endpoint.
    Bytes answer(std::size_t length, std::uint8_t endpoint = 0x88)
    {
        Bytes out(length, 0xEE);
        const auto r = firmware->bulkIn(endpoint, out);
        if (!r.ok())
            return {};
        out.resize(r.length);
        return out;
    }

    Bytes chip(unsigned which, std::uint64_t offset, std::size_t length)
    {
        Bytes out(length, 0xEE);
        if (!firmware->chipContents(which, offset, out))
            return {};
        return out;
    }

    std::vector<std::string> log() { return firmware->log().lines(); }
    std::string lastLogLine()
    {
        const auto lines = log();
        return lines.empty() ? std::string() : lines.back();
    }

    std::shared_ptr<kvemu::ProgrammerFirmware> firmware;
};

} // namespace ProgrammerTest
