#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <QStringList>

// Where the main window starts and how its two splitters are divided, from
// the stored size and splitter lists and the desktop's size.
struct WindowGeometry
{
    QRect frame;
    QList<int> verticalSizes;   // message area above, console below ("Windows 2")
    QList<int> horizontalSizes; // left panel, right area ("Windows 1")

    static WindowGeometry atStart(QSize stored, int desktopHeight, int screenWidth,
                                  const QStringList &windows2, const QStringList &windows1);

    // The stored form of a splitter's sizes: two decimal numbers.
    static QStringList splitterList(const QList<int> &sizes);
};
