#pragma once

#include <QString>

// Folder kinds of applicationFolder().
enum ApplicationFolderKind {
    ConfigFolder = 0,  // current directory + "/config/"
    ScriptFolder = 1,  // "Script Dir" override + "/", else current directory + "/script/"
    DataFolder = 2,    // current directory + "/data/"
    TempFolder = 3,    // the system's temporary folder + "/"
    LibraryFolder = 4, // folder of the executable + "/dll/"
    BaseFolder = 5,    // current directory + "/"
};

// Stores the path of folder `kind` in `path`. Any other kind leaves `path`
// unchanged and returns false.
bool applicationFolder(int kind, QString &path);

// Convenience form: the path of folder `kind`, or an empty string for an
// unknown kind.
QString applicationFolder(int kind);

// The script folder override, set from the "Script Dir" setting. Empty means
// the default script folder under the settings folder.
QString scriptFolderOverride();
void setScriptFolderOverride(const QString &folder);

// Folder of the running executable, without a trailing "/". Works before the
// application object exists.
QString executableFolder();
