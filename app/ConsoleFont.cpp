#include "ConsoleFont.h"

#include <QFontInfo>

QFont consoleFont(bool highDpi)
{
    const int scale = highDpi ? 2 : 1;
    QFont font(QStringLiteral("Lucida Console"));
    font.setPixelSize(11 * scale);
    if (!QFontInfo(font).exactMatch()) {
        font = QFont(QStringLiteral("LucidaTypewriter"));
        font.setPixelSize(10 * scale);
        if (!QFontInfo(font).exactMatch())
            font.setFamily(QStringLiteral("B&H LucidaTypewriter"));
    }
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}
