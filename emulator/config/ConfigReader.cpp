#include "ConfigReader.h"

#include "ChipSection.h"
#include "ConfigError.h"
#include "ConfigValues.h"
#include "FirmwareImage.h"
#include "IniFile.h"

#include <fstream>
#include <sstream>

namespace kvemu {

namespace {

using Entry = IniFile::Entry;
using Section = IniFile::Section;

[[noreturn]] void unknownKey(const Entry &e, const std::string &where)
{
    throw ConfigError("unknown key \"" + e.key + "\" in " + where, e.line);
}

std::uint32_t u32(const Entry &e)
{
    return static_cast<std::uint32_t>(config::number(e.value, e.line, UINT32_MAX));
}

void readProgrammer(const Section &s, EmulatorConfig &c)
{
    // The vendor decides the part's defaults; everything else refines them.
    for (const Entry &e : s.entries)
        if (e.key == "vendor") {
            const auto vendor = static_cast<std::uint16_t>(config::number(e.value, e.line, 0xFFFF));
            const UsbConfig defaults = UsbConfig::forVendor(vendor);
            c.usb.vendorId = defaults.vendorId;
            c.usb.productId = defaults.productId;
            c.usb.speed = defaults.speed;
        }
    for (const Entry &e : s.entries) {
        if (e.key == "vendor") {
            continue;
        } else if (e.key == "link") {
            if (e.value != "high" && e.value != "full")
                throw ConfigError("link must be high or full", e.line);
            c.usb.speed = e.value == "high" ? LinkSpeed::High : LinkSpeed::Full;
        } else if (e.key == "firmware") {
            if (e.value == "none") {
                c.usb.runningImage.clear();
            } else if (firmware::infoFromName(e.value)) {
                c.usb.runningImage = e.value;
            } else {
                throw ConfigError("firmware must be none or the name of an image, e.g. "
                                  "\"NAND image 1\"",
                                  e.line);
            }
            c.firmware.startsRunning = !c.usb.runningImage.empty();
        } else if (e.key == "adapter") {
            if (e.value == "nand")
                c.firmware.adapter = AdapterKind::Nand;
            else if (e.value == "spi")
                c.firmware.adapter = AdapterKind::Spi;
            else if (e.value == "none")
                c.firmware.adapter = AdapterKind::None;
            else
                throw ConfigError("adapter must be nand, spi or none", e.line);
        } else if (e.key == "board") {
            const auto board = config::number(e.value, e.line, 2);
            if (board < 1)
                throw ConfigError("board must be 1 or 2", e.line);
            c.firmware.board = static_cast<unsigned>(board);
        } else if (e.key == "identification") {
            c.firmware.identification = u32(e);
        } else if (e.key == "timing") {
            if (e.value != "instant" && e.value != "realistic")
                throw ConfigError("timing must be instant or realistic", e.line);
            c.firmware.realistic = e.value == "realistic";
        } else if (e.key == "high_speed_rate") {
            c.firmware.highSpeedRate = config::rate(e.value, e.line);
        } else if (e.key == "full_speed_rate") {
            c.firmware.fullSpeedRate = config::rate(e.value, e.line);
        } else if (e.key == "reenumeration_ms") {
            c.usb.reenumerationDelayMs =
                static_cast<unsigned>(config::number(e.value, e.line, 60000));
        } else {
            unknownKey(e, "[programmer]");
        }
    }
}

void readFaults(const Section &s, EmulatorConfig &c)
{
    for (const Entry &e : s.entries) {
        if (e.key == "unplug_after_bytes")
            c.usb.unplugAfterBytes = config::number(e.value, e.line);
        else if (e.key == "replug_ms")
            c.replugDelayMs = static_cast<unsigned>(config::number(e.value, e.line, 3600000));
        else if (e.key == "fail_download")
            c.usb.failDownloadRequest =
                static_cast<unsigned>(config::number(e.value, e.line, 65536));
        else if (e.key == "fail_read")
            c.firmware.failRead =
                static_cast<unsigned>(config::number(e.value, e.line, UINT32_MAX));
        else
            unknownKey(e, "[faults]");
    }
}

// The unit belongs to the chip in its socket: a serial chip sits on the SPI
// unit, so it identifies as one (the program then checks for the SPI
// adapter); an empty socket goes with its adapter. A profile may name the
// word itself (a NAND chip on an SPI adapter stays on the NAND unit).
void identifyByChip(EmulatorConfig &c, bool identificationGiven)
{
    if (identificationGiven)
        return;
    const ChipFamily family = c.board.family;
    const bool spiUnit = family == ChipFamily::SpiNor || family == ChipFamily::DataFlash ||
                         family == ChipFamily::Eeprom ||
                         (family == ChipFamily::None && c.firmware.adapter == AdapterKind::Spi);
    c.firmware.identification =
        spiUnit ? FirmwareSettings::SpiIdentification : FirmwareSettings::NandIdentification;
}

} // namespace

EmulatorConfig ConfigReader::read(std::string_view text, const std::string &folder)
{
    const IniFile ini = IniFile::parse(text);
    for (const Section &s : ini.sections()) {
        const std::string &n = s.name;
        if (n != "programmer" && n != "faults" && n != "chip" && n != "second_chip" && n != "ce0" &&
            n != "ce1" && n != "ce2" && n != "ce3")
            throw ConfigError("unknown section [" + n + "]", s.line);
    }
    EmulatorConfig c;
    bool adapterGiven = false;
    bool identificationGiven = false;
    if (const Section *s = ini.section("programmer")) {
        readProgrammer(*s, c);
        for (const Entry &e : s->entries) {
            adapterGiven = adapterGiven || e.key == "adapter";
            identificationGiven = identificationGiven || e.key == "identification";
        }
    }
    if (const Section *s = ini.section("faults"))
        readFaults(*s, c);
    c.board = ChipSection::read(ini, "chip", folder);
    if (const Section *s = ini.section("second_chip")) {
        c.secondBoard = ChipSection::read(ini, "second_chip", folder, c.board.family);
        if (!c.board.imagePath.empty() && c.secondBoard->imagePath == c.board.imagePath)
            throw ConfigError("[second_chip] needs an image file of its own", s->line);
    }
    if (!adapterGiven)
        c.firmware.adapter = c.board.family == ChipFamily::SpiNor ||
                                     c.board.family == ChipFamily::DataFlash ||
                                     c.board.family == ChipFamily::Eeprom
                                 ? AdapterKind::Spi
                                 : AdapterKind::Nand;
    identifyByChip(c, identificationGiven);
    return c;
}

EmulatorConfig ConfigReader::readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ConfigError("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw ConfigError("cannot read " + path);
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    try {
        return read(text.str(), folder.empty() && slash == 0 ? "/" : folder);
    } catch (const ConfigError &e) {
        throw ConfigError(path + ": " + e.what());
    }
}

} // namespace kvemu
