#include "ChipSection.h"

#include "ConfigError.h"
#include "ConfigValues.h"

#include <fstream>

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

// The chips of a NAND socket: one per chip enable, [ceN] refining the
// section's keys for chip enable N when `ceSections` says so.
void nandChipEnables(const IniFile &ini, const Section &s, const chips::NandChipConfig &nand,
                     unsigned chipEnables, bool ceSections, const std::string &folder,
                     ChipBoardLayout &b)
{
    for (unsigned ce = 0; ce < chipEnables; ++ce) {
        const std::string name = ceSections ? "ce" + std::to_string(ce) : s.name;
        const Section *section = ceSections ? ini.section(name) : nullptr;
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
            throw ConfigError("[" + name + "]: " + problem, section ? section->line : s.line);
        b.chipEnables.push_back(std::move(chip));
    }
}

} // namespace

ChipBoardLayout ChipSection::read(const IniFile &ini, const std::string &name,
                                  const std::string &folder, std::optional<ChipFamily> family)
{
    const Section *s = ini.section(name);
    const bool ceSections = !family;
    ChipBoardLayout b;
    if (family)
        b.family = *family;
    chips::NandChipConfig nand;
    unsigned chipEnables = 1;
    bool idGiven = false;
    if (s) {
        for (const Entry &e : s->entries) {
            if (e.key != "family")
                continue;
            const ChipFamily given = familyOf(e);
            if (family && given != *family)
                throw ConfigError("[" + name + "] holds a " + familyName(given) +
                                      " chip, but the chip it swaps with is " +
                                      familyName(*family) + ": both must be of one family",
                                  e.line);
            b.family = given;
        }
        const std::string where = "[" + name + "] of family " + familyName(b.family);
        for (const Entry &e : s->entries) {
            if (e.key == "family")
                continue;
            if (e.key == "id")
                idGiven = true;
            if (e.key == "image") {
                b.imagePath = inFolder(e.value, folder);
                continue;
            }
            if (e.key == "demo_data") {
                b.demoData = config::boolean(e.value, e.line);
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
            throw ConfigError("[" + name + "]: " + problem, s->line);
    }
    if (!idGiven && (b.family == ChipFamily::SpiNor || b.family == ChipFamily::DataFlash))
        throw ConfigError("[" + name + "] needs the chip's id bytes", s ? s->line : 0);

    for (unsigned ce = 0; ce < ChipBoardLayout::MaxChipEnables && ceSections; ++ce) {
        const std::string ceName = "ce" + std::to_string(ce);
        const Section *section = ini.section(ceName);
        if (section && b.family != ChipFamily::Nand)
            throw ConfigError("[" + ceName + "] applies to NAND chips only", section->line);
        if (section && ce >= chipEnables)
            throw ConfigError("[" + ceName + "] but chip_enables is " + std::to_string(chipEnables),
                              section->line);
    }
    if (b.family == ChipFamily::Nand)
        nandChipEnables(ini, *s, nand, chipEnables, ceSections, folder, b);
    return b;
}

} // namespace kvemu
