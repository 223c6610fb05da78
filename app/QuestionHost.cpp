#include "QuestionHost.h"

QuestionHost::~QuestionHost() = default;
