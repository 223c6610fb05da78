#include "ShippedFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ShippedFiles {

QStringList install(const QString &resourceFolder, const QString &targetFolder)
{
    QStringList written;
    const QDir shipped(resourceFolder);
    const QStringList names = shipped.entryList(QDir::Files, QDir::Name);
    if (names.isEmpty() || !QDir().mkpath(targetFolder))
        return written;
    for (const QString &name : names) {
        const QString destination = QDir(targetFolder).filePath(name);
        if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink())
            continue;
        if (QFile::copy(shipped.filePath(name), destination)) {
            QFile::setPermissions(destination, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther);
            written << name;
        }
    }
    return written;
}

} // namespace ShippedFiles
