#include "ConfigReader.h"

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

constexpr chips::Nanos Us = chips::Microsecond;
constexpr chips::Nanos Ms = chips::Millisecond;

[[noreturn]] void unknownKey(const Entry &e, const std::string &where)
{
    throw ConfigError("unknown key \"" + e.key + "\" in " + where, e.line);
}

ChipFamily familyOf(const Entry &e)
{
    const std::string &v = e.value;
    if (v == "nand")
        return ChipFamily::Nand;
    if (v == "spi")
        return ChipFamily::SpiNor;
    if (v == "dataflash")
        return ChipFamily::DataFlash;
    if (v == "eeprom")
        return ChipFamily::Eeprom;
    if (v == "none")
        return ChipFamily::None;
    throw ConfigError("family must be nand, spi, dataflash, eeprom or none", e.line);
}

// `value` relative to the profile's folder (empty: the current folder).
std::string inFolder(const std::string &value, const std::string &folder)
{
    return value.empty() || value.front() == '/' || folder.empty() ? value : folder + "/" + value;
}

// The parameter page a chip sends: the file's first 512 bytes (the most
// READ PARAMETER PAGE answers), at least 256 of them.
std::vector<std::uint8_t> parameterPageFile(const Entry &e, const std::string &folder)
{
    constexpr std::size_t Answered = 512;
    const std::string path = inFolder(e.value, folder);
    std::ifstream in(path, std::ios::binary);
    if (e.value.empty() || !in)
        throw ConfigError("cannot read the parameter page file \"" + path + "\"", e.line);
    std::vector<std::uint8_t> page(Answered);
    in.read(reinterpret_cast<char *>(page.data()), static_cast<std::streamsize>(page.size()));
    if (in.bad())
        throw ConfigError("cannot read the parameter page file \"" + path + "\"", e.line);
    page.resize(static_cast<std::size_t>(in.gcount()));
    if (page.size() < chips::NandChipConfig::MinParameterPageBytes)
        throw ConfigError("the parameter page file \"" + path + "\" holds " +
                              std::to_string(page.size()) + " bytes, a page at least " +
                              std::to_string(chips::NandChipConfig::MinParameterPageBytes),
                          e.line);
    return page;
}

// A real chip's SFDP area: the file's bytes from SFDP address 0, 1 to
// 65536 of them.
std::vector<std::uint8_t> sfdpFile(const Entry &e, const std::string &folder)
{
    constexpr std::size_t MaxBytes = 65536;
    const std::string path = inFolder(e.value, folder);
    std::ifstream in(path, std::ios::binary);
    if (e.value.empty() || !in)
        throw ConfigError("cannot read the SFDP file \"" + path + "\"", e.line);
    std::vector<std::uint8_t> area(MaxBytes + 1);
    in.read(reinterpret_cast<char *>(area.data()), static_cast<std::streamsize>(area.size()));
    if (in.bad())
        throw ConfigError("cannot read the SFDP file \"" + path + "\"", e.line);
    area.resize(static_cast<std::size_t>(in.gcount()));
    if (area.empty() || area.size() > MaxBytes)
        throw ConfigError("the SFDP file \"" + path + "\" must hold 1 to " +
                              std::to_string(MaxBytes) + " bytes",
                          e.line);
    return area;
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

// A key of a NAND chip; false when `e` is none.
bool readNandKey(const Entry &e, chips::NandChipConfig &n, const std::string &folder)
{
    if (e.key == "id") {
        n.id = config::bytes(e.value, e.line);
    } else if (e.key == "data_bytes") {
        n.dataBytes = u32(e);
    } else if (e.key == "spare_bytes") {
        n.spareBytes = u32(e);
    } else if (e.key == "pages_per_block") {
        n.pagesPerBlock = u32(e);
    } else if (e.key == "blocks") {
        n.blocks = u32(e);
    } else if (e.key == "column_cycles") {
        n.columnCycles = static_cast<unsigned>(config::number(e.value, e.line, 4));
    } else if (e.key == "row_cycles") {
        n.rowCycles = static_cast<unsigned>(config::number(e.value, e.line, 4));
    } else if (e.key == "onfi") {
        n.onfi = config::boolean(e.value, e.line);
        if (!n.onfi)
            n.parameterPage.clear(); // also one a [ceN] inherits from [chip]
    } else if (e.key == "onfi_file") {
        n.parameterPage = parameterPageFile(e, folder);
    } else if (e.key == "manufacturer") {
        n.manufacturer = e.value;
    } else if (e.key == "model") {
        n.model = e.value;
    } else if (e.key == "bad_blocks") {
        n.factoryBadBlocks = config::blocks(e.value, e.line);
    } else if (e.key == "erase_fail_blocks") {
        n.eraseFailBlocks = config::blocks(e.value, e.line);
    } else if (e.key == "program_fail_blocks") {
        n.programFailBlocks = config::blocks(e.value, e.line);
    } else if (e.key == "flip_seed") {
        n.flipSeed = config::number(e.value, e.line);
    } else if (e.key == "flip_rate") {
        n.flipRate = config::fraction(e.value, e.line);
    } else if (e.key == "read_us") {
        n.readTime = config::number(e.value, e.line, 10000000) * Us;
    } else if (e.key == "program_us") {
        n.programTime = config::number(e.value, e.line, 10000000) * Us;
    } else if (e.key == "erase_us") {
        n.eraseTime = config::number(e.value, e.line, 100000000) * Us;
    } else {
        return false;
    }
    return true;
}

bool readNorKey(const Entry &e, chips::SpiNorConfig &n, const std::string &folder)
{
    if (e.key == "id") {
        n.id = config::bytes(e.value, e.line);
    } else if (e.key == "size") {
        n.size = config::size(e.value, e.line);
    } else if (e.key == "page_size") {
        n.pageSize = static_cast<std::uint32_t>(config::size(e.value, e.line));
    } else if (e.key == "sfdp") {
        n.sfdp = config::boolean(e.value, e.line);
        if (!n.sfdp)
            n.sfdpArea.clear();
    } else if (e.key == "sfdp_file") {
        n.sfdpArea = sfdpFile(e, folder);
        n.sfdp = true;
    } else if (e.key == "dual") {
        n.dual = config::boolean(e.value, e.line);
    } else if (e.key == "quad") {
        n.quad = config::boolean(e.value, e.line);
    } else if (e.key == "status1") {
        n.status1 = static_cast<std::uint8_t>(config::number(e.value, e.line, 0xFF));
    } else if (e.key == "status2") {
        n.status2 = static_cast<std::uint8_t>(config::number(e.value, e.line, 0xFF));
    } else if (e.key == "program_us") {
        n.pageProgramTime = config::number(e.value, e.line, 10000000) * Us;
    } else if (e.key == "erase_4k_ms") {
        n.erase4kTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "erase_32k_ms") {
        n.erase32kTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "erase_64k_ms") {
        n.erase64kTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "chip_erase_ms") {
        n.chipEraseTime = config::number(e.value, e.line, 10000000) * Ms;
    } else if (e.key == "status_write_ms") {
        n.statusWriteTime = config::number(e.value, e.line, 1000000) * Ms;
    } else {
        return false;
    }
    return true;
}

bool readDataFlashKey(const Entry &e, chips::DataFlashConfig &d)
{
    if (e.key == "id") {
        d.id = config::bytes(e.value, e.line);
    } else if (e.key == "pages") {
        d.pages = u32(e);
    } else if (e.key == "page_size") {
        const std::uint32_t size = u32(e);
        if (size == 264 || size == 528 || size == 1056) {
            d.standardPageSize = size;
            d.binaryPages = false;
        } else if (size == 256 || size == 512 || size == 1024) {
            d.standardPageSize = size / 32 * 33;
            d.binaryPages = true;
        } else {
            throw ConfigError("a DataFlash page holds 264, 528 or 1056 bytes (256, 512 or 1024 "
                              "in power-of-two mode)",
                              e.line);
        }
    } else if (e.key == "pages_per_block") {
        d.pagesPerBlock = u32(e);
    } else if (e.key == "pages_per_sector") {
        d.pagesPerSector = u32(e);
    } else if (e.key == "program_ms") {
        d.pageProgramTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "erase_program_ms") {
        d.pageEraseProgramTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "page_erase_ms") {
        d.pageEraseTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "block_erase_ms") {
        d.blockEraseTime = config::number(e.value, e.line, 1000000) * Ms;
    } else if (e.key == "sector_erase_ms") {
        d.sectorEraseTime = config::number(e.value, e.line, 10000000) * Ms;
    } else if (e.key == "chip_erase_ms") {
        d.chipEraseTime = config::number(e.value, e.line, 100000000) * Ms;
    } else {
        return false;
    }
    return true;
}

bool readEepromKey(const Entry &e, chips::SpiEepromConfig &p)
{
    if (e.key == "id")
        p.id = config::bytes(e.value, e.line);
    else if (e.key == "size")
        p.size = static_cast<std::uint32_t>(config::size(e.value, e.line));
    else if (e.key == "page_size")
        p.pageSize = u32(e);
    else if (e.key == "address_bytes")
        p.addressBytes = static_cast<unsigned>(config::number(e.value, e.line, 3));
    else if (e.key == "write_ms")
        p.writeTime = config::number(e.value, e.line, 1000000) * Ms;
    else
        return false;
    return true;
}

std::string check(ChipFamily family, const ChipBoardLayout &b)
{
    switch (family) {
    case ChipFamily::SpiNor:
        return b.nor.check();
    case ChipFamily::DataFlash:
        return b.dataFlash.check();
    case ChipFamily::Eeprom:
        return b.eeprom.check();
    default:
        return {};
    }
}

void readChip(const IniFile &ini, const std::string &folder, EmulatorConfig &c, bool &adapterGiven)
{
    const Section *s = ini.section("chip");
    ChipBoardLayout &b = c.board;
    chips::NandChipConfig nand;
    unsigned chipEnables = 1;
    bool idGiven = false;
    if (s) {
        for (const Entry &e : s->entries)
            if (e.key == "family")
                b.family = familyOf(e);
        const std::string where = std::string("[chip] of family ") + familyName(b.family);
        for (const Entry &e : s->entries) {
            if (e.key == "family")
                continue;
            if (e.key == "id")
                idGiven = true;
            if (e.key == "image") {
                b.imagePath = inFolder(e.value, folder);
                continue;
            }
            bool known = false;
            switch (b.family) {
            case ChipFamily::None:
                break;
            case ChipFamily::Nand:
                if (e.key == "chip_enables") {
                    chipEnables = static_cast<unsigned>(config::number(e.value, e.line, 4));
                    if (chipEnables == 0)
                        throw ConfigError("chip_enables must be 1 to 4", e.line);
                    known = true;
                } else {
                    known = readNandKey(e, nand, folder);
                }
                break;
            case ChipFamily::SpiNor:
                known = readNorKey(e, b.nor, folder);
                break;
            case ChipFamily::DataFlash:
                known = readDataFlashKey(e, b.dataFlash);
                break;
            case ChipFamily::Eeprom:
                known = readEepromKey(e, b.eeprom);
                break;
            }
            if (!known)
                unknownKey(e, where);
        }
        const std::string problem = check(b.family, b);
        if (!problem.empty())
            throw ConfigError("[chip]: " + problem, s->line);
    }
    if (!idGiven && (b.family == ChipFamily::SpiNor || b.family == ChipFamily::DataFlash))
        throw ConfigError("[chip] needs the chip's id bytes", s ? s->line : 0);

    for (unsigned ce = 0; ce < ChipBoardLayout::MaxChipEnables; ++ce) {
        const std::string name = "ce" + std::to_string(ce);
        const Section *section = ini.section(name);
        if (section && b.family != ChipFamily::Nand)
            throw ConfigError("[" + name + "] applies to NAND chips only", section->line);
        if (section && ce >= chipEnables)
            throw ConfigError("[" + name + "] but chip_enables is " + std::to_string(chipEnables),
                              section->line);
    }
    if (b.family == ChipFamily::Nand) {
        for (unsigned ce = 0; ce < chipEnables; ++ce) {
            const std::string name = "ce" + std::to_string(ce);
            const Section *section = ini.section(name);
            chips::NandChipConfig chip = nand;
            bool present = true;
            if (section)
                for (const Entry &e : section->entries) {
                    if (e.key == "present")
                        present = config::boolean(e.value, e.line);
                    else if (!readNandKey(e, chip, folder))
                        unknownKey(e, "[" + name + "]");
                }
            if (!present) {
                b.chipEnables.push_back(std::nullopt);
                continue;
            }
            std::string problem = chip.check();
            if (problem.empty() && chip.id.empty())
                problem = "the chip needs its id bytes";
            if (!problem.empty())
                throw ConfigError("[" + name + "]: " + problem, section ? section->line : s->line);
            b.chipEnables.push_back(std::move(chip));
        }
    }
    if (!adapterGiven)
        c.firmware.adapter = b.family == ChipFamily::SpiNor || b.family == ChipFamily::DataFlash ||
                                     b.family == ChipFamily::Eeprom
                                 ? AdapterKind::Spi
                                 : AdapterKind::Nand;
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
        if (n != "programmer" && n != "faults" && n != "chip" && n != "ce0" && n != "ce1" &&
            n != "ce2" && n != "ce3")
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
    readChip(ini, folder, c, adapterGiven);
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
