#pragma once

#include <QFileInfo>
#include <QFileInfoList>
#include <QLocale>
#include <QString>

#include <memory>

class QMimeData;

// The working folder's file list: what it lists, how a folder and a file are
// described, and what a dragged file carries.
namespace FolderListing {
// Mime type of a dragged file; its data is the absolute path in Latin-1.
inline constexpr char DragMimeType[] = "FileName";

// The folder's files in the default name order: no directories, no symbolic
// links, nothing hidden. Empty for an empty path or a folder that does not
// exist.
QFileInfoList files(const QString &folder);

// The last component of `path`, after dropping one trailing "/".
QString displayName(const QString &path);

// " 1KB   " below 1024 bytes, else " <n>KB   " up to 1048575 bytes with
// n = (size + 1023) / 1024, else " <n>MB   " with n = (size + 1023) / 1048576.
QString sizeText(qint64 size);

// The size text followed by the last-modified date and time in the short
// format of `locale`.
QString informationText(const QFileInfo &file, const QLocale &locale = QLocale());

// The drag data of the file at `absolutePath`; null when the path has a
// character outside Latin-1 (it could not be carried unchanged).
std::unique_ptr<QMimeData> dragData(const QString &absolutePath);
} // namespace FolderListing
