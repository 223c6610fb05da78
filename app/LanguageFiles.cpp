#include "LanguageFiles.h"

#include "ShippedFiles.h"
#include "ShippedResources.h"
#include "UiText.h"

#include <QDir>
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
    return ShippedFiles::install(shippedLanguageFolder(), folder());
}

} // namespace LanguageFiles
