#include "PageCount.h"

namespace kvemu {

std::uint32_t decodePageCount(std::uint8_t inner, std::uint8_t outer)
{
    const std::uint32_t first = inner == 0 ? 256 : inner;
    const std::uint32_t passes = outer == 0 ? 256 : outer;
    return first + (passes - 1) * 256;
}

} // namespace kvemu
