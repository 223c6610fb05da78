#pragma once

#include <QList>
#include <QString>

// The translation files of the "Languages" folder under the settings folder.
namespace LanguageFiles {

struct Entry
{
    QString displayName;
    QString path;
};

// The folder, relative to the current directory (the settings folder).
QString folder();

// Every file whose absolute path contains "/Languages/KV" and whose display
// name is not empty, in directory order.
QList<Entry> available();

// Path of the file whose display name is `displayName`; empty when none
// (the built-in English has no file).
QString pathFor(const QString &displayName);

// Copies the translation files shipped with the program into the folder,
// leaving every file that already exists (or a dangling link) untouched.
// Returns the names of the files it wrote.
QStringList installShipped();

} // namespace LanguageFiles
