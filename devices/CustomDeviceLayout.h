#pragma once

#include "DeviceSelectLayout.h"

#include <QRect>
#include <QSize>

// Geometry of the custom device dialog. Rectangles are given by their corners
// (left, top, right, bottom, all inclusive).
namespace CustomDeviceLayout {

using DeviceSelectLayout::corners;

constexpr QSize dialogSize(391, 269);

// Left edge of ID edit `number` (1-based); its label stands 20 pixels to the
// left of it.
constexpr int idLeft(int number)
{
    return 40 + 60 * (number - 1);
}
constexpr QRect idLabel(int number)
{
    return corners(idLeft(number) - 20, 10, idLeft(number) + 9, 25);
}
constexpr QRect idEdit(int number)
{
    return corners(idLeft(number), 10, idLeft(number) + 29, 29);
}

constexpr QRect nameLabel = corners(20, 40, 49, 55);
constexpr QRect nameEdit = corners(80, 40, 309, 59);
constexpr QRect makerLabel = corners(20, 70, 119, 85);
constexpr QRect makerBox = corners(150, 70, 329, 94);
constexpr QRect sizeLabel = corners(20, 100, 49, 115);
constexpr QRect sizeEdit = corners(80, 100, 309, 119);
constexpr QRect firstGeometryLabel = corners(20, 130, 79, 149);
constexpr QRect firstGeometryEdit = corners(80, 130, 129, 149);
constexpr QRect secondGeometryLabel = corners(140, 130, 199, 149);
constexpr QRect secondGeometryEdit = corners(210, 130, 259, 149);
constexpr QRect pinsLabel = corners(270, 130, 309, 149);
constexpr QRect pinsBox = corners(320, 130, 369, 149);
constexpr QRect buttonBox = corners(90, 230, 279, 261);

} // namespace CustomDeviceLayout
