#include "Favourites.h"

namespace Favourites {

QStringList names(const QString &favourites)
{
    QStringList list = favourites.split(QLatin1Char(','));
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

bool contains(const QString &favourites, const QString &name)
{
    return names(favourites).contains(name);
}

QString added(const QString &favourites, const QString &name)
{
    if (contains(favourites, name))
        return favourites;
    return favourites + name + QLatin1Char(',');
}

QString removed(const QString &favourites, const QString &name)
{
    qsizetype start = 0;
    while (start <= favourites.size()) {
        const qsizetype found = favourites.indexOf(name, start);
        if (found < 0)
            break;
        const qsizetype after = found + name.size();
        const bool entryStart = found == 0 || favourites.at(found - 1) == QLatin1Char(',');
        const bool entryEnd =
            after >= favourites.size() || favourites.at(after) == QLatin1Char(',');
        if (entryStart && entryEnd) {
            QString result = favourites;
            result.remove(found, name.size() + (after < favourites.size() ? 1 : 0));
            return result;
        }
        start = found + 1;
    }
    return favourites;
}

} // namespace Favourites
