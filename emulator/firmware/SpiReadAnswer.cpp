#include "SpiReadAnswer.h"

#include <algorithm>

namespace kvemu {

SpiReadAnswer::SpiReadAnswer(std::unique_ptr<chips::SpiOutput> output, std::uint64_t length,
                             chips::SpiLines lines)
    : m_output(std::move(output)), m_remaining(length), m_lines(static_cast<unsigned>(lines))
{}

chips::Nanos SpiReadAnswer::produce(std::span<std::uint8_t> out)
{
    out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_remaining)));
    m_output->read(out);
    m_remaining -= out.size();
    return out.size() * SingleLineByteTime / m_lines;
}

} // namespace kvemu
