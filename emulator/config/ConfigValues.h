#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Value forms of the emulator's configuration. Each throws ConfigError
// (with `line`) for text that is not of its form.
namespace kvemu::config {

// Decimal, or hexadecimal with 0x; at most `maximum`.
std::uint64_t number(const std::string &text, int line, std::uint64_t maximum = UINT64_MAX);
// A number with an optional K, M or G suffix (1024-based).
std::uint64_t size(const std::string &text, int line);
// A decimal fraction from 0 to 1.
double fraction(const std::string &text, int line);
// A rate in bytes per second: a number, optionally with a fraction.
double rate(const std::string &text, int line);
// yes/no, true/false, on/off, 1/0.
bool boolean(const std::string &text, int line);
// Hexadecimal bytes separated by blanks or commas, with or without 0x or an
// h suffix: "EC F1 00 95 40".
std::vector<std::uint8_t> bytes(const std::string &text, int line);
// Block numbers and ranges separated by blanks or commas: "10, 200-203".
std::set<std::uint32_t> blocks(const std::string &text, int line);

} // namespace kvemu::config
