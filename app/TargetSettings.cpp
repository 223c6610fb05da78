#include "TargetSettings.h"

#include "Settings.h"

#include <QFileInfo>

void TargetSettings::restore()
{
    targetName = m_settings.string(Settings::TestName);
    autoScript = m_settings.boolean(Settings::AutoScript, false);
    scriptDir = m_settings.string(Settings::ScriptDir);
    workingFolder = m_settings.targetFolder(targetName);
    if (workingFolder.isEmpty()) {
        const QStringList recent = m_settings.list(Settings::RecentFileList);
        if (!recent.isEmpty()) {
            const QString path = QFileInfo(recent.first()).absoluteFilePath();
            workingFolder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
        }
    }
}

void TargetSettings::changeTarget(const QString &name)
{
    if (name != targetName && !targetName.isEmpty())
        m_settings.setTargetFolder(targetName, workingFolder);
    targetName = name;
    m_settings.setBoolean(Settings::AutoScript, autoScript);
    m_settings.setString(Settings::TestName, targetName);
    m_settings.setString(Settings::ScriptDir, scriptDir);
    const QString folder = m_settings.targetFolder(targetName);
    if (!folder.isEmpty())
        workingFolder = folder;
}

void TargetSettings::save()
{
    m_settings.setTargetFolder(targetName, workingFolder);
}
