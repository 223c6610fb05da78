#include "OperationHost.h"

OperationHost::~OperationHost() = default;
