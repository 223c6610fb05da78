#pragma once

#include <QString>

class Settings;

// The current target and its working folder as the settings store keeps
// them: the target's name, the script options, and one working folder per
// target under the key "<name>Dir".
class TargetSettings
{
public:
    explicit TargetSettings(Settings &settings) : m_settings(settings) {}

    // Reads the last target, the script options and the target's working
    // folder; without one, the folder of the most recent file.
    void restore();
    // Switches to `name`: stores the working folder under the previous
    // target's key (when the name changed), writes the script options and the
    // new name, then takes the new target's folder when it has one.
    void changeTarget(const QString &name);
    // Stores the working folder under the current target's key.
    void save();

    QString targetName;
    QString workingFolder;
    bool autoScript = false;
    QString scriptDir;

private:
    Settings &m_settings;
};
