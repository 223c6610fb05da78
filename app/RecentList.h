#pragma once

#include <QString>
#include <QStringList>

class Settings;

// The recent-file and recent-target lists: most recent first, no duplicates,
// at most MaxEntries.
namespace RecentList {
constexpr int MaxEntries = 20;

// `list` with `value` moved (or added) to the front and cut to MaxEntries.
QStringList withEntry(QStringList list, const QString &value);

// Adds `value` to the stored list `key` (Settings::RecentFileList or
// Settings::RecentTargetList) and returns the new list.
QStringList add(Settings &settings, int key, const QString &value);

// Text of the menu action for the entry at `position` (counted from 1): the
// file name without its folder for recent files, the entry itself for targets.
QString actionText(int position, const QString &entry, bool isFile);

// Everything up to and excluding the last "/" (the working folder after a
// file is loaded or saved); empty when the path has no "/".
QString folderOf(const QString &path);
} // namespace RecentList
