#pragma once

#include <cstdint>

namespace kvemu::chips {

// Time as the chip models see it: nanoseconds on the programmer's own clock.
// A chip that starts an internal operation (program, erase) at `now` stays
// busy until now + the operation's time; a duration of 0 makes it instant.
using Nanos = std::uint64_t;

inline constexpr Nanos Microsecond = 1000;
inline constexpr Nanos Millisecond = 1000 * Microsecond;

} // namespace kvemu::chips
