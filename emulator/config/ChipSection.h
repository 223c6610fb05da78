#pragma once

#include "ChipBoard.h"
#include "IniFile.h"

#include <optional>
#include <string>

namespace kvemu {

// One socket's chips as a profile section describes them: the keys that
// ConfigReader.h lists under [chip], per family.
class ChipSection
{
public:
    // Reads section `name` (absent: an empty socket). Without `family` the
    // [ce0]..[ce3] sections refine its chip enables; with it the section
    // describes a chip that swaps with one of that family: a family key must
    // name the same, and [ceN] do not apply. Relative file names start in
    // `folder`. Throws ConfigError naming the line.
    static ChipBoardLayout read(const IniFile &ini, const std::string &name,
                                const std::string &folder,
                                std::optional<ChipFamily> family = std::nullopt);
};

} // namespace kvemu
