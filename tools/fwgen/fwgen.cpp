// fwgen: turns Intel HEX firmware images into the program's record arrays.
//
//   fwgen <output.cpp> (<symbol> <name> <file.hex> <expected records or 0>)...
//
// Every input is validated: line syntax, record lengths, checksums, record
// types (00 data, 01 end of file), load addresses below 0x1700, and an end
// record as the last record. Data records longer than 16 bytes are split into
// records of at most 16 bytes. Any fault stops the build with a message that
// names the file and line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned LoadLimit = 0x1700;
constexpr unsigned RecordData = 16;

struct Record
{
    unsigned length = 0;
    unsigned address = 0;
    unsigned type = 0;
    std::uint8_t data[RecordData] = {};
};

struct Failure
{
    std::string message;
};

[[noreturn]] void fail(const std::string &file, int line, const std::string &what)
{
    std::ostringstream text;
    text << file;
    if (line > 0)
        text << ":" << line;
    text << ": " << what;
    throw Failure{text.str()};
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::vector<Record> readHex(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(file, 0, "cannot open the Intel HEX file");
    std::vector<Record> records;
    std::string text;
    int lineNumber = 0;
    bool ended = false;
    while (std::getline(in, text)) {
        ++lineNumber;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
            text.pop_back();
        if (text.empty())
            continue;
        if (ended)
            fail(file, lineNumber, "data after the end-of-file record");
        if (text[0] != ':')
            fail(file, lineNumber, "a record must start with ':'");
        if (text.size() < 11 || text.size() % 2 == 0)
            fail(file, lineNumber, "record too short or of odd length");
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i + 1 < text.size(); i += 2) {
            const int high = hexDigit(text[i]);
            const int low = hexDigit(text[i + 1]);
            if (high < 0 || low < 0)
                fail(file, lineNumber, "not a hexadecimal digit");
            bytes.push_back(std::uint8_t(high * 16 + low));
        }
        const unsigned length = bytes[0];
        if (bytes.size() != length + 5u)
            fail(file, lineNumber, "the length byte does not match the record");
        unsigned sum = 0;
        for (std::uint8_t b : bytes)
            sum += b;
        if ((sum & 0xFF) != 0)
            fail(file, lineNumber, "checksum mismatch");
        const unsigned address = unsigned(bytes[1]) << 8 | bytes[2];
        const unsigned type = bytes[3];
        if (type == 1) {
            if (length != 0)
                fail(file, lineNumber, "the end-of-file record carries data");
            Record end;
            end.type = 1;
            end.address = address;
            records.push_back(end);
            ended = true;
            continue;
        }
        if (type != 0)
            fail(file, lineNumber,
                 "record type " + std::to_string(type) + " is not supported (only 00 and 01)");
        if (address + length > LoadLimit)
            fail(file, lineNumber, "data beyond the load limit 0x1700");
        for (unsigned offset = 0; offset < length || (length == 0 && offset == 0);
             offset += RecordData) {
            Record record;
            record.address = address + offset;
            record.length = std::min(RecordData, length - offset);
            for (unsigned i = 0; i < record.length; ++i)
                record.data[i] = bytes[4 + offset + i];
            records.push_back(record);
            if (length == 0)
                break;
        }
    }
    if (!ended)
        fail(file, 0, "no end-of-file record");
    if (records.size() < 2)
        fail(file, 0, "the image holds no data");
    return records;
}

std::string byteText(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFF);
    return text;
}

void writeImage(std::ostream &out, const std::string &symbol, const std::vector<Record> &records)
{
    out << "const FirmwareRecord " << symbol << "[" << records.size() << "] = {\n";
    for (const Record &r : records) {
        out << "    {" << byteText(r.length) << ", 0, {" << byteText(r.address) << ", "
            << byteText(r.address >> 8) << "}, " << r.type << ", {";
        for (unsigned i = 0; i < RecordData; ++i)
            out << (i ? ", " : "") << byteText(r.data[i]);
        out << "}, 0},\n";
    }
    out << "};\n\n";
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6 || (argc - 2) % 4 != 0) {
        std::cerr << "usage: fwgen <output.cpp> (<symbol> <name> <file.hex> <records>)...\n";
        return 2;
    }
    std::ostringstream out;
    out << "// Generated by tools/fwgen from Intel HEX images. Do not edit.\n"
        << "#include \"FirmwareImages.h\"\n\nnamespace {\n\n";
    std::ostringstream table;
    try {
        for (int i = 2; i < argc; i += 4) {
            const std::string symbol = argv[i];
            const std::string name = argv[i + 1];
            const std::string file = argv[i + 2];
            const long expected = std::stol(argv[i + 3]);
            const std::vector<Record> records = readHex(file);
            if (expected > 0 && long(records.size()) != expected)
                fail(file, 0,
                     "holds " + std::to_string(records.size()) + " records, " + name +
                         " must have " + std::to_string(expected));
            writeImage(out, symbol, records);
            table << "    {\"" << name << "\", " << symbol << ", " << records.size() << "},\n";
        }
    } catch (const Failure &failure) {
        std::cerr << "fwgen: " << failure.message << "\n";
        return 1;
    } catch (const std::exception &) {
        std::cerr << "fwgen: the record count arguments must be numbers\n";
        return 2;
    }
    out << "} // namespace\n\nconst FirmwareImage firmwareImageTable[FirmwareImageCount] = {\n"
        << table.str() << "};\n";
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << out.str();
    if (!file) {
        std::cerr << "fwgen: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
