#include "PageCount.h"

namespace kvemu {

std::uint32_t decodePageCount(std::uint8_t inner, std::uint8_t outer)
{
    if (outer == 0)
        return 0;
    const std::uint32_t first = inner == 0 ? 256 : inner;
    return first + (std::uint32_t(outer) - 1) * 256;
}

} // namespace kvemu
