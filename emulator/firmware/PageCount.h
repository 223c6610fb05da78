#pragma once

#include <cstdint>

namespace kvemu {

// The page count of the read and program commands, as the programmer runs
// it: an outer loop over `outer` around an inner loop over `inner`. The
// inner loop counts down to zero before it tests, so an inner count of 0
// runs 256 times; its first pass runs `inner` times, every later one 256.
// The outer loop runs `outer` passes, none for 0: inner 0x40, outer 0x01 is
// 64 pages; inner 0x00, outer 0x02 is 512; outer 0x00 is no page at all
// (the program's count 0, bytes 00 00).
std::uint32_t decodePageCount(std::uint8_t inner, std::uint8_t outer);

} // namespace kvemu
