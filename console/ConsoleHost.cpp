#include "ConsoleHost.h"

ConsoleHost::~ConsoleHost() = default;
