// An Intel HEX firmware image as fwgen reads it at build time (a packager's
// own images come in this form).
#include "FuzzCheck.h"
#include "IntelHex.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    try {
        const std::vector<fwgen::Record> records = fwgen::parseIntelHex(in, "image.hex");
        // A read image ends in its one end record and holds data before it.
        FUZZ_CHECK(records.size() >= 2);
        FUZZ_CHECK(records.back().type == 1 && records.back().length == 0);
        for (std::size_t i = 0; i + 1 < records.size(); ++i) {
            const fwgen::Record &r = records[i];
            FUZZ_CHECK(r.type == 0);
            FUZZ_CHECK(r.length <= fwgen::RecordData);
            FUZZ_CHECK(r.address + r.length <= fwgen::LoadLimit);
        }
    } catch (const fwgen::Failure &failure) {
        FUZZ_CHECK(failure.message.rfind("image.hex", 0) == 0);
    }
    return 0;
}
