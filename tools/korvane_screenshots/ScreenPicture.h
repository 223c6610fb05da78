#pragma once

#include <QImage>
#include <QString>

// What the screenshot tool asks of a picture: how many colours it holds
// (a blank one holds one or two) and how it goes into a small PNG file.
class ScreenPicture
{
public:
    // Distinct colours in `image`, counting stops at `enough`.
    static int distinctColours(const QImage &image, int enough = 256);
    // True when `image` is empty or shows fewer than `minimum` colours.
    static bool blank(const QImage &image, int minimum = 8);
    // `image` without alpha as a compressed PNG at `path`, its folder made
    // when missing; false (with `error` set) when it cannot be written.
    static bool save(const QImage &image, const QString &path, QString *error = nullptr);
};
