#pragma once

#include <QSettings>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// The per-user settings store: one INI file, organisation "Tessaline",
// application "Korvane". Opening it makes its folder the process's current
// directory, against which the application folders are resolved.
class Settings
{
public:
    // Indices of the key table.
    enum Key {
        LanguageFile = 0,
        TestName = 1,
        AutoScript = 2,
        ScriptDir = 3,
        RecentFileList = 4,
        RecentTargetList = 5,
        FavoriteDeviceList = 6,
        WindowSize = 7,
        VerticalSplitter = 8,   // "Windows 2"
        HorizontalSplitter = 9, // "Windows 1"
        BoardType = 10,
        KeyCount = 11
    };

    static constexpr int DefaultWidth = 850;
    static constexpr int DefaultHeight = 600;

    // Opens the store and changes the current directory to its folder (the
    // folder is created when it does not exist yet).
    Settings();
    ~Settings();
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    static const char *keyName(int index);

    QString fileName() const;
    // Absolute folder of the store's file, without a trailing "/".
    QString folder() const;

    QString string(int index) const;
    void setString(int index, const QString &value);
    // Writes `value` under an arbitrary key only when it differs from the
    // stored one. Returns true when it wrote.
    bool setStringIfChanged(const QString &key, const QString &value);
    QString stringAt(const QString &key) const;

    bool boolean(int index, bool defaultValue) const;
    void setBoolean(int index, bool value);

    QStringList list(int index) const;
    void setList(int index, const QStringList &value);

    QSize windowSize() const;
    // Writes the size only when it differs from the stored one.
    bool setWindowSizeIfChanged(const QSize &size);

    // Working folder of a target: the key is the target's name followed by "Dir".
    static QString targetFolderKey(const QString &targetName);
    QString targetFolder(const QString &targetName) const;
    void setTargetFolder(const QString &targetName, const QString &folder);

    // Pushes the store to disk now.
    void sync();

private:
    QString keyAt(int index) const;

    std::unique_ptr<QSettings> m_store;
};
