#include "IntelHex.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fwgen {

void fail(const std::string &file, int line, const std::string &what)
{
    std::ostringstream text;
    text << file;
    if (line > 0)
        text << ":" << line;
    text << ": " << what;
    throw Failure{text.str()};
}

namespace {

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

} // namespace

std::vector<Record> readIntelHex(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(file, 0, "cannot open the Intel HEX file");
    return parseIntelHex(in, file);
}

std::vector<Record> parseIntelHex(std::istream &in, const std::string &file)
{
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

} // namespace fwgen
