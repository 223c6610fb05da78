#pragma once

#include <QString>

#include <functional>

// Where device records and families write their lines: the message log in the
// program, a string list in tests. Each call is one line.
using TextSink = std::function<void(const QString &line)>;
