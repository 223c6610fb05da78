#pragma once

#include <cstdint>

namespace kvemu {

// The page count of the read and program commands, as the programmer runs
// it: an outer loop over `outer` around an inner loop over `inner`, both
// counting down to zero before testing, so a count of 0 runs 256 times. The
// first pass of the inner loop runs `inner` times, every later one 256:
// inner 0x40, outer 0x01 is 64 pages; inner 0x00, outer 0x02 is 512.
std::uint32_t decodePageCount(std::uint8_t inner, std::uint8_t outer);

} // namespace kvemu
