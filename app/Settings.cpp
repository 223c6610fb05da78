#include "Settings.h"

#include <QDir>
#include <QFileInfo>

namespace {
const char *const keyTable[Settings::KeyCount] = {
    "LanguageFile",   "Test Name",        "Auto Script",        "Script Dir",
    "recentFileList", "recentTargetList", "FavoriteDiviceList", "Window Size",
    "Windows 2",      "Windows 1",        "Board Type",
};
} // namespace

Settings::Settings()
    : m_store(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                          QStringLiteral("Tessaline"), QStringLiteral("Korvane")))
{
    const QString dir = folder();
    QDir().mkpath(dir);
    QDir::setCurrent(dir);
}

Settings::~Settings() = default;

const char *Settings::keyName(int index)
{
    return index >= 0 && index < KeyCount ? keyTable[index] : "";
}

QString Settings::keyAt(int index) const
{
    return QString::fromLatin1(keyName(index));
}

QString Settings::fileName() const
{
    return m_store->fileName();
}

QString Settings::folder() const
{
    return QFileInfo(m_store->fileName()).absolutePath();
}

QString Settings::string(int index) const
{
    return m_store->value(keyAt(index)).toString();
}

void Settings::setString(int index, const QString &value)
{
    m_store->setValue(keyAt(index), value);
    m_store->sync();
}

QString Settings::stringAt(const QString &key) const
{
    return m_store->value(key).toString();
}

bool Settings::setStringIfChanged(const QString &key, const QString &value)
{
    if (m_store->contains(key) && m_store->value(key).toString() == value)
        return false;
    m_store->setValue(key, value);
    m_store->sync();
    return true;
}

bool Settings::boolean(int index, bool defaultValue) const
{
    return m_store->value(keyAt(index), defaultValue).toBool();
}

void Settings::setBoolean(int index, bool value)
{
    m_store->setValue(keyAt(index), value);
    m_store->sync();
}

QStringList Settings::list(int index) const
{
    return m_store->value(keyAt(index)).toStringList();
}

void Settings::setList(int index, const QStringList &value)
{
    m_store->setValue(keyAt(index), value);
    m_store->sync();
}

QSize Settings::windowSize() const
{
    const QVariant stored = m_store->value(keyAt(WindowSize));
    const QSize size = stored.toSize();
    return stored.isValid() && size.isValid() ? size : QSize(DefaultWidth, DefaultHeight);
}

bool Settings::setWindowSizeIfChanged(const QSize &size)
{
    const QString key = keyAt(WindowSize);
    if (m_store->contains(key) && m_store->value(key).toSize() == size)
        return false;
    m_store->setValue(key, size);
    m_store->sync();
    return true;
}

QString Settings::targetFolderKey(const QString &targetName)
{
    return targetName + QStringLiteral("Dir");
}

QString Settings::targetFolder(const QString &targetName) const
{
    return stringAt(targetFolderKey(targetName));
}

void Settings::setTargetFolder(const QString &targetName, const QString &folder)
{
    setStringIfChanged(targetFolderKey(targetName), folder);
}

void Settings::sync()
{
    m_store->sync();
}
