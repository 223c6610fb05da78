#include "WindowGeometry.h"

namespace {
QList<int> splitterSizes(const QStringList &stored, QList<int> fallback)
{
    if (stored.size() < 2)
        return fallback;
    return {stored.at(0).toInt(), stored.at(1).toInt()};
}
} // namespace

WindowGeometry WindowGeometry::atStart(QSize stored, int desktopHeight, int screenWidth,
                                       const QStringList &windows2, const QStringList &windows1)
{
    const bool tall = desktopHeight > 699;
    int width = stored.width();
    int height = stored.height();
    int top;
    if (tall) {
        top = (desktopHeight - height) / 2;
        if (desktopHeight != 700)
            top -= 20;
    } else {
        top = 35;
        height = desktopHeight - 70;
    }
    if (top < 30)
        top = 30;
    const int left = (screenWidth - width) / 2;

    WindowGeometry geometry;
    geometry.frame = QRect(left, top, width, height);
    geometry.verticalSizes =
        splitterSizes(windows2, tall ? QList<int>{550, 180} : QList<int>{250, 100});
    geometry.horizontalSizes =
        splitterSizes(windows1, tall ? QList<int>{160, 500} : QList<int>{80, 300});
    return geometry;
}

QStringList WindowGeometry::splitterList(const QList<int> &sizes)
{
    QStringList list;
    for (int i = 0; i < 2; ++i)
        list << QString::number(i < sizes.size() ? sizes.at(i) : 0);
    return list;
}
