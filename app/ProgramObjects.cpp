#include "ProgramObjects.h"

#include <cstdlib>

namespace {
ProgramObjects *liveInstance = nullptr;

ProgramObjects &requireLive()
{
    if (!liveInstance)
        std::abort(); // a caller ran before the program-wide objects exist
    return *liveInstance;
}
} // namespace

ProgramObjects::ProgramObjects() : m_previous(liveInstance)
{
    liveInstance = this;
}

ProgramObjects::~ProgramObjects()
{
    liveInstance = m_previous;
}

ProgramObjects *ProgramObjects::current()
{
    return liveInstance;
}

UiText &uiText()
{
    return requireLive().uiText;
}

Settings &settings()
{
    return requireLive().settings;
}
