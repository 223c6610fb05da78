#include "ScreenPicture.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSet>

int ScreenPicture::distinctColours(const QImage &image, int enough)
{
    if (image.isNull())
        return 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> colours;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            colours.insert(line[x]);
            if (colours.size() >= enough)
                return enough;
        }
    }
    return int(colours.size());
}

bool ScreenPicture::blank(const QImage &image, int minimum)
{
    return distinctColours(image, minimum) < minimum;
}

bool ScreenPicture::save(const QImage &image, const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("no picture for %1").arg(path));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail(QStringLiteral("cannot make the folder of %1").arg(path));
    QImageWriter writer(path, "png");
    // PNG: quality 0 is the strongest compression.
    writer.setQuality(0);
    if (!writer.write(image.convertToFormat(QImage::Format_RGB888)))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, writer.errorString()));
    return true;
}
