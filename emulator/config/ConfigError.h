#pragma once

#include <stdexcept>
#include <string>

namespace kvemu {

// A configuration the emulator cannot use; what() names the line (when
// known) and the reason.
class ConfigError : public std::runtime_error
{
public:
    explicit ConfigError(const std::string &reason, int line = 0)
        : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + reason : reason),
          m_line(line)
    {}
    int line() const { return m_line; }

private:
    int m_line;
};

} // namespace kvemu
