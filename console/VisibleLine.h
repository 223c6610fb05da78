#pragma once

#include <QString>

// `line` as the message log shows it: control characters as '?', so one
// line of a command or a script stays one log line.
QString visibleLine(const QString &line);
