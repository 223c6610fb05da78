#pragma once

#include <QString>

// A jump target of a script: a label line of the file or a block label the
// preprocessing made for an `if`. `line` is the index of the statement line
// it designates (it may be the number of lines: the end of the script).
struct ScriptLabel
{
    QString name;
    int line = 0;
};
