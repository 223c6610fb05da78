#include "ApplicationFolders.h"

#include "ProgramObjects.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString scriptFolderOverride()
{
    ProgramObjects *objects = ProgramObjects::current();
    return objects ? objects->scriptFolderOverride : QString();
}

void setScriptFolderOverride(const QString &folder)
{
    if (ProgramObjects *objects = ProgramObjects::current())
        objects->scriptFolderOverride = folder;
}

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

bool applicationFolder(int kind, QString &path)
{
    switch (kind) {
    case ConfigFolder:
        path = QDir::currentPath() + QStringLiteral("/config/");
        return true;
    case ScriptFolder: {
        const QString override = scriptFolderOverride();
        path = override.isEmpty() ? QDir::currentPath() + QStringLiteral("/script/")
                                  : override + QLatin1Char('/');
        return true;
    }
    case DataFolder:
        path = QDir::currentPath() + QStringLiteral("/data/");
        return true;
    case TempFolder:
        path = QDir::tempPath();
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        path += QLatin1Char('/');
        return true;
    case LibraryFolder:
        path = executableFolder() + QStringLiteral("/dll/");
        return true;
    case BaseFolder:
        path = QDir::currentPath() + QLatin1Char('/');
        return true;
    default:
        return false;
    }
}

QString applicationFolder(int kind)
{
    QString path;
    applicationFolder(kind, path);
    return path;
}
