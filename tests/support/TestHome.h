#pragma once

#include <QByteArray>
#include <QDir>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <memory>

// Test isolation: every test process runs with its own temporary settings
// home (XDG_CONFIG_HOME and HOME) and, where no platform is named, the
// offscreen platform. No test reads or writes the real user's settings.
namespace TestHome {

// Called before the application object exists.
inline QTemporaryDir &prepareProcess()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/korvane-test-XXXXXX"));
    const QByteArray path = home.path().toLocal8Bit();
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("HOME", path);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return home;
}

// A fresh settings home for one test function: settings objects opened while
// it lives use a new, empty folder. The current directory is restored when it
// goes away.
class Fresh
{
public:
    Fresh() : m_previousCurrent(QDir::currentPath())
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    ~Fresh() { QDir::setCurrent(m_previousCurrent); }
    QString path() const { return m_dir.path(); }
    // Folder the settings store uses (and makes current) inside this home.
    QString settingsFolder() const { return m_dir.path() + QStringLiteral("/Tessaline"); }

private:
    QTemporaryDir m_dir;
    QString m_previousCurrent;
};

} // namespace TestHome

// Test entry points: like QTEST_GUILESS_MAIN / QTEST_MAIN with the isolation above.
#define KORVANE_TEST_MAIN_WITH(AppClass, TestClass)                                                \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestHome::prepareProcess();                                                                \
        AppClass app(argc, argv);                                                                  \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
