#pragma once

#include <cstdint>
#include <span>

namespace kvemu::chips {

// Read disturbance of a NAND chip: a share of page reads comes back with one
// bit flipped (the stored data is untouched), as cells near their threshold
// do. The sequence follows from the seed alone, so a run can be repeated;
// each read draws anew, so two reads of one page may differ.
class BitFlipper
{
public:
    // `rate`: the share of page reads that get one flipped bit, 0 to 1.
    BitFlipper(std::uint64_t seed = 0, double rate = 0.0);

    bool enabled() const { return m_threshold != 0; }
    // One page read: flips at most one bit of `page`; true when it did.
    bool disturb(std::span<std::uint8_t> page);

private:
    std::uint64_t next();

    std::uint64_t m_state;
    std::uint64_t m_threshold; // a draw below it flips; 0: never
};

} // namespace kvemu::chips
