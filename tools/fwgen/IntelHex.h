#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// Intel HEX images as the programmer's micro-controller loads them: data
// records (type 00) of at most 16 bytes below the load limit, ended by one
// end-of-file record (type 01).
namespace fwgen {

inline constexpr unsigned LoadLimit = 0x1700;
inline constexpr unsigned RecordData = 16;

struct Record
{
    unsigned length = 0;
    unsigned address = 0;
    unsigned type = 0;
    std::uint8_t data[RecordData] = {};
};

// A fault in an image, with the file and line it names.
struct Failure
{
    std::string message;
};

[[noreturn]] void fail(const std::string &file, int line, const std::string &what);

// Reads an image: line syntax, record lengths, checksums, record types,
// load addresses and the end record are checked, data records longer than
// 16 bytes split. Throws Failure naming `file` and the line of a fault.
std::vector<Record> parseIntelHex(std::istream &in, const std::string &file);
// The same from a file.
std::vector<Record> readIntelHex(const std::string &file);

} // namespace fwgen
