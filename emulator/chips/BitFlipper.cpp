#include "BitFlipper.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kvemu::chips {

BitFlipper::BitFlipper(std::uint64_t seed, double rate) : m_state(seed)
{
    if (!(rate > 0.0)) {
        m_threshold = 0;
    } else if (rate >= 1.0) {
        m_threshold = std::numeric_limits<std::uint64_t>::max();
    } else {
        // Compare 53-bit draws against the rate scaled to 53 bits.
        m_threshold = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ldexp(rate, 53)));
    }
}

// splitmix64: small, fast and the same on every platform.
std::uint64_t BitFlipper::next()
{
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool BitFlipper::disturb(std::span<std::uint8_t> page)
{
    if (m_threshold == 0 || page.empty())
        return false;
    const std::uint64_t draw = next() >> 11; // 53 bits
    if (m_threshold != std::numeric_limits<std::uint64_t>::max() && draw >= m_threshold)
        return false;
    const std::uint64_t bit = next() % (static_cast<std::uint64_t>(page.size()) * 8);
    page[static_cast<std::size_t>(bit / 8)] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    return true;
}

} // namespace kvemu::chips
