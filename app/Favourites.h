#pragma once

#include <QString>
#include <QStringList>

// The favourite devices, stored as one string: each name followed by one comma.
namespace Favourites {
QStringList names(const QString &favourites);
bool contains(const QString &favourites, const QString &name);
// Appends "name," unless the list already holds that exact name.
QString added(const QString &favourites, const QString &name);
// Deletes the first entry equal to `name`, with the comma that follows it.
// Other names that merely contain `name` are left alone.
QString removed(const QString &favourites, const QString &name);
} // namespace Favourites
