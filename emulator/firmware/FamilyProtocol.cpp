#include "FamilyProtocol.h"

#include <algorithm>

namespace kvemu {

void FamilyProtocol::endOfProgramming()
{
    m_context.answers.push(
        {0x44, static_cast<std::uint8_t>(std::min<unsigned>(m_failedPages, 0xFF))});
    m_failedPages = 0;
}

} // namespace kvemu
