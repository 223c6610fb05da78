#include "FolderListing.h"

#include <QDateTime>
#include <QDir>
#include <QMimeData>

#include <algorithm>

namespace FolderListing {

QFileInfoList files(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    return QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks);
}

QString displayName(const QString &path)
{
    QString trimmed = path;
    if (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QString sizeText(qint64 size)
{
    constexpr qint64 kilo = 1024;
    constexpr qint64 mega = 1048576;
    // (size + 1023) / unit without overflowing near the top of qint64.
    const auto units = [size](qint64 unit) { return size / unit + (size % unit + 1023) / unit; };
    if (size < kilo)
        return QStringLiteral(" 1KB   ");
    if (size < mega)
        return QStringLiteral(" %1KB   ").arg(units(kilo));
    return QStringLiteral(" %1MB   ").arg(units(mega));
}

QString informationText(const QFileInfo &file, const QLocale &locale)
{
    return sizeText(file.size()) + locale.toString(file.lastModified(), QLocale::ShortFormat);
}

std::unique_ptr<QMimeData> dragData(const QString &absolutePath)
{
    if (std::any_of(absolutePath.cbegin(), absolutePath.cend(),
                    [](QChar c) { return c.unicode() > 0xff; }))
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(DragMimeType), absolutePath.toLatin1());
    return data;
}

} // namespace FolderListing
