#include "WorkingFolderLayout.h"

#include <algorithm>

namespace {
// Left, top, right and bottom are all inside the rectangle.
QRect edges(int left, int top, int right, int bottom)
{
    return QRect(left, top, std::max(0, right - left + 1), std::max(0, bottom - top + 1));
}
} // namespace

WorkingFolderLayout WorkingFolderLayout::forSize(QSize panel, bool highDpi)
{
    const int w = panel.width();
    const int h = panel.height();
    if (highDpi) {
        return {edges(10, 10, w - 63, 51), edges(w - 52, 10, w - 11, 51),
                edges(10, 75, w - 11, h - 60), edges(5, h - 52, w - 16, h - 11)};
    }
    return {edges(5, 5, w - 32, 25), edges(w - 26, 5, w - 6, 25), edges(5, 35, w - 6, h - 33),
            edges(5, h - 26, w - 6, h - 6)};
}
