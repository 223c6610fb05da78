#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvemu {

// An INI text: [section] lines, key = value lines, comments on lines of
// their own starting with ';' or '#', or after a value behind " ;" or " #".
// Section and key names are case-insensitive (kept in lower case); values
// are trimmed, and one pair of enclosing double quotes is removed. Parsing
// throws ConfigError for a line that is none of these, a key before the
// first section, and a key or section given twice.
class IniFile
{
public:
    struct Entry
    {
        std::string key;
        std::string value;
        int line = 0;
    };
    struct Section
    {
        std::string name;
        int line = 0;
        std::vector<Entry> entries;
    };

    static IniFile parse(std::string_view text);

    const std::vector<Section> &sections() const { return m_sections; }
    const Section *section(std::string_view name) const;

private:
    std::vector<Section> m_sections;
};

} // namespace kvemu
