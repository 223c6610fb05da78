#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// Geometry and styles of the device selection dialog. Rectangles are given by
// their corners (left, top, right, bottom, all inclusive); rectangles of the
// widgets inside a group box are relative to the box.
namespace DeviceSelectLayout {

constexpr QRect corners(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

constexpr QSize dialogSize(740, 470);

constexpr QRect searchBox = corners(10, 10, 729, 43);
constexpr QRect searchLabel = corners(20, 7, 120, 26);
constexpr QRect searchEdit = corners(140, 7, 389, 26);

constexpr QRect typeLabel = corners(40, 50, 140, 69);
constexpr QRect typeBox = corners(10, 80, 149, 259);

constexpr QRect makerLabel = corners(180, 50, 280, 69);
constexpr QRect makerList = corners(160, 80, 299, 259);
constexpr QRect deviceLabel = corners(360, 50, 460, 69);
constexpr QRect deviceList = corners(310, 80, 509, 259);
constexpr QRect favouriteLabel = corners(580, 50, 680, 69);
constexpr QRect favouriteList = corners(560, 80, 729, 259);
constexpr QRect addButton = corners(520, 120, 549, 149);
constexpr QRect removeButton = corners(520, 180, 549, 209);

constexpr QRect infoBox = corners(10, 280, 729, 359);
constexpr QRect infoNameCaption = corners(20, 10, 99, 29);
constexpr QRect infoName = corners(110, 10, 349, 29);
constexpr QRect infoMakerCaption = corners(20, 30, 99, 49);
constexpr QRect infoMaker = corners(110, 30, 349, 49);

constexpr QRect tipLabel = corners(10, 370, 729, 449);
constexpr QRect selectButton = corners(230, 435, 304, 457);
constexpr QRect cancelButton = corners(380, 435, 454, 457);

// Type button `index` inside the type box: "ALL" (0) at the top, each family
// button 20 pixels lower than the one before, all 100 wide and 17 high.
constexpr QRect typeButton(int index)
{
    return corners(10, 30 + 20 * index, 109, 46 + 20 * index);
}

inline QString tipStyleSheet(bool largeFont)
{
    return largeFont ? QStringLiteral("QLabel{color:rgb(100,0,150);font:26px}")
                     : QStringLiteral("QLabel{color:rgb(100,0,150);font:13px}");
}

// The name and maker labels once they show a device.
inline QString shownDeviceStyleSheet()
{
    return QStringLiteral("QLabel{color:rgb(100,0,150)}");
}

} // namespace DeviceSelectLayout
