#include "IniFile.h"

#include "ConfigError.h"

#include <algorithm>
#include <cctype>

namespace kvemu {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool validName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '-' || c == '.';
    });
}

// A value without its trailing comment (" ;" or " #" outside quotes).
std::string_view stripComment(std::string_view value)
{
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '"')
            quoted = !quoted;
        else if (!quoted && (value[i] == ';' || value[i] == '#') &&
                 (i == 0 || std::isspace(static_cast<unsigned char>(value[i - 1]))))
            return value.substr(0, i);
    }
    return value;
}

} // namespace

IniFile IniFile::parse(std::string_view text)
{
    IniFile ini;
    int number = 0;
    std::size_t position = 0;
    while (position <= text.size()) {
        const std::size_t end = text.find('\n', position);
        std::string_view line = text.substr(
            position, end == std::string_view::npos ? std::string_view::npos : end - position);
        position = end == std::string_view::npos ? text.size() + 1 : end + 1;
        ++number;
        if (line.find('\0') != std::string_view::npos)
            throw ConfigError("a NUL byte in the text", number);
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                throw ConfigError("a section line must end with ']'", number);
            const std::string name = lower(trim(line.substr(1, line.size() - 2)));
            if (!validName(name))
                throw ConfigError("bad section name \"" + std::string(line) + "\"", number);
            if (ini.section(name))
                throw ConfigError("section [" + name + "] given twice", number);
            ini.m_sections.push_back({name, number, {}});
        } else {
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos)
                throw ConfigError("expected key = value or [section]", number);
            const std::string key = lower(trim(line.substr(0, equals)));
            if (!validName(key))
                throw ConfigError(
                    "bad key name \"" + std::string(trim(line.substr(0, equals))) + "\"", number);
            if (ini.m_sections.empty())
                throw ConfigError("key \"" + key + "\" before the first [section]", number);
            std::string_view value = trim(stripComment(line.substr(equals + 1)));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            Section &section = ini.m_sections.back();
            for (const Entry &e : section.entries)
                if (e.key == key)
                    throw ConfigError("key \"" + key + "\" given twice in [" + section.name + "]",
                                      number);
            section.entries.push_back({key, std::string(value), number});
        }
    }
    return ini;
}

const IniFile::Section *IniFile::section(std::string_view name) const
{
    for (const Section &s : m_sections)
        if (s.name == name)
            return &s;
    return nullptr;
}

} // namespace kvemu
