#include "AnswerHost.h"

AnswerHost::~AnswerHost() = default;
