#include "ConfigValues.h"

#include "ConfigError.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace kvemu::config {

namespace {

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Splits at blanks and commas.
std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::string word;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        out.push_back(word);
    return out;
}

bool parseUnsigned(const std::string &digits, unsigned base, std::uint64_t &value)
{
    if (digits.empty())
        return false;
    value = 0;
    for (const char c : digits) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else
            return false;
        if (d >= base || value > (UINT64_MAX - d) / base)
            return false;
        value = value * base + d;
    }
    return true;
}

} // namespace

std::uint64_t number(const std::string &text, int line, std::uint64_t maximum)
{
    const std::string t = lower(text);
    std::uint64_t value = 0;
    const bool ok = t.size() > 2 && t[0] == '0' && t[1] == 'x'
                        ? parseUnsigned(t.substr(2), 16, value)
                        : parseUnsigned(t, 10, value);
    if (!ok)
        throw ConfigError("\"" + text + "\" is not a number", line);
    if (value > maximum)
        throw ConfigError("\"" + text + "\" is larger than " + std::to_string(maximum), line);
    return value;
}

std::uint64_t size(const std::string &text, int line)
{
    std::string t = lower(text);
    unsigned shift = 0;
    if (!t.empty() && (t.back() == 'k' || t.back() == 'm' || t.back() == 'g')) {
        shift = t.back() == 'k' ? 10 : t.back() == 'm' ? 20 : 30;
        t.pop_back();
        if (!t.empty() && t.back() == ' ')
            t.pop_back();
    }
    const std::uint64_t value = number(t, line, UINT64_MAX >> shift);
    return value << shift;
}

double fraction(const std::string &text, int line)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > 1.0)
        throw ConfigError("\"" + text + "\" is not a fraction from 0 to 1", line);
    return value;
}

double rate(const std::string &text, int line)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != '\0' || !std::isfinite(value) || value <= 0.0)
        throw ConfigError("\"" + text + "\" is not a rate in bytes per second", line);
    return value;
}

bool boolean(const std::string &text, int line)
{
    const std::string t = lower(text);
    if (t == "yes" || t == "true" || t == "on" || t == "1")
        return true;
    if (t == "no" || t == "false" || t == "off" || t == "0")
        return false;
    throw ConfigError("\"" + text + "\" is not yes or no", line);
}

std::vector<std::uint8_t> bytes(const std::string &text, int line)
{
    std::vector<std::uint8_t> out;
    for (std::string word : words(lower(text))) {
        if (word.size() > 2 && word[0] == '0' && word[1] == 'x')
            word = word.substr(2);
        else if (word.size() > 1 && word.back() == 'h')
            word.pop_back();
        std::uint64_t value = 0;
        if (word.size() > 2 || !parseUnsigned(word, 16, value))
            throw ConfigError("\"" + text + "\" is not a list of hexadecimal bytes", line);
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return out;
}

std::set<std::uint32_t> blocks(const std::string &text, int line)
{
    std::set<std::uint32_t> out;
    for (const std::string &word : words(text)) {
        const std::size_t dash = word.find('-');
        if (dash == std::string::npos) {
            out.insert(static_cast<std::uint32_t>(number(word, line, UINT32_MAX)));
            continue;
        }
        const auto first = number(word.substr(0, dash), line, UINT32_MAX);
        const auto last = number(word.substr(dash + 1), line, UINT32_MAX);
        if (last < first || last - first > 1000000)
            throw ConfigError("bad block range \"" + word + "\"", line);
        for (std::uint64_t b = first; b <= last; ++b)
            out.insert(static_cast<std::uint32_t>(b));
    }
    return out;
}

} // namespace kvemu::config
