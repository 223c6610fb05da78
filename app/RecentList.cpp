#include "RecentList.h"

#include "Settings.h"

namespace RecentList {

QStringList withEntry(QStringList list, const QString &value)
{
    list.removeAll(value);
    list.prepend(value);
    while (list.size() > MaxEntries)
        list.removeLast();
    return list;
}

QStringList add(Settings &settings, int key, const QString &value)
{
    const QStringList list = withEntry(settings.list(key), value);
    settings.setList(key, list);
    return list;
}

QString actionText(int position, const QString &entry, bool isFile)
{
    const QString shown = isFile ? entry.mid(entry.lastIndexOf(QLatin1Char('/')) + 1) : entry;
    return QStringLiteral("&%1 %2").arg(position).arg(shown);
}

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

} // namespace RecentList
