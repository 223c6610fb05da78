#pragma once

#include <stdexcept>
#include <string>

namespace kvemu {

// A packet the firmware cannot carry out: too short, a field out of range,
// an unknown command. The firmware logs it as ERROR and answers nothing.
class ProtocolError : public std::runtime_error
{
public:
    explicit ProtocolError(const std::string &reason) : std::runtime_error(reason) {}
};

} // namespace kvemu
