#include "VisibleLine.h"

QString visibleLine(const QString &line)
{
    QString shown = line;
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return shown;
}
