#include "LanguageFiles.h"

#include "ShippedResources.h"
#include "UiText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LanguageFiles {

QString folder()
{
    return QDir::currentPath() + QStringLiteral("/Languages");
}

QList<Entry> available()
{
    QList<Entry> entries;
    const QFileInfoList files = QDir(folder()).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &info : files) {
        const QString path = info.absoluteFilePath();
        if (!path.contains(QStringLiteral("/Languages/KV")))
            continue;
        const QString name = UiText::languageName(path);
        if (!name.isEmpty())
            entries.append({name, path});
    }
    return entries;
}

QString pathFor(const QString &displayName)
{
    for (const Entry &entry : available()) {
        if (entry.displayName == displayName)
            return entry.path;
    }
    return QString();
}

QStringList installShipped()
{
    QStringList written;
    const QDir shipped(shippedLanguageFolder());
    const QStringList names = shipped.entryList(QDir::Files, QDir::Name);
    if (names.isEmpty())
        return written;
    const QString target = folder();
    QDir().mkpath(target);
    for (const QString &name : names) {
        const QString destination = target + QLatin1Char('/') + name;
        if (QFileInfo::exists(destination))
            continue;
        if (QFile::copy(shipped.filePath(name), destination)) {
            QFile::setPermissions(destination, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther);
            written << name;
        }
    }
    return written;
}

} // namespace LanguageFiles
