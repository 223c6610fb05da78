#pragma once

#include <QByteArray>
#include <QString>

// The path a "FileName" drag carries: its bytes up to the first zero byte,
// in Latin-1.
inline QString droppedFileName(const QByteArray &data)
{
    const qsizetype end = data.indexOf('\0');
    return QString::fromLatin1(end < 0 ? data : data.left(end));
}
