#pragma once

#include <QString>
#include <QStringList>

// Files shipped inside the program (Qt resources) that are installed into a
// folder of the settings tree at start-up.
namespace ShippedFiles {

// Copies every file of `resourceFolder` into `targetFolder`, creating the
// folder if needed. A file that already exists there is never touched: it may
// be the user's own. A dangling link counts as present too, since copying
// through it would write somewhere the user did not choose. Returns the names
// of the files written.
QStringList install(const QString &resourceFolder, const QString &targetFolder);

} // namespace ShippedFiles
