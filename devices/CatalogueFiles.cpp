#include "CatalogueFiles.h"

#include "ApplicationFolders.h"
#include "ShippedCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace CatalogueFiles {

QString shippedFolder()
{
    return shippedCatalogueFolder();
}

QStringList installShipped()
{
    return installShipped(applicationFolder(ConfigFolder));
}

QStringList installShipped(const QString &configFolder)
{
    QStringList written;
    const QDir shipped(shippedFolder());
    const QStringList names = shipped.entryList(QDir::Files, QDir::Name);
    if (names.isEmpty() || !QDir().mkpath(configFolder))
        return written;
    for (const QString &name : names) {
        const QString destination = QDir(configFolder).filePath(name);
        // A dangling link counts as present too: copying through it would
        // write somewhere the user did not choose.
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

} // namespace CatalogueFiles
