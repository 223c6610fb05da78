#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString BinDir = QStringLiteral(KORVANE_INSTALL_BINDIR);
const QString AppId = QStringLiteral("org.korvane.Korvane");
const QString DataDir = QStringLiteral(KORVANE_INSTALL_DATADIR);
const QString RuleName = QStringLiteral("60-korvane-programmer.rules");
const int IconSizes[] = {48, 64, 128, 256};

QString iconPath(int size)
{
    return DataDir + QStringLiteral("/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(AppId);
}

// The value of `key=` in a desktop entry, or a null string.
QString desktopValue(const QByteArray &entry, const QString &key)
{
    for (const QString &line : QString::fromUtf8(entry).split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).trimmed();
    }
    return QString();
}

// The text of the first <tag> element in an XML file, or a null string.
QString xmlText(const QByteArray &xml, const QString &tag)
{
    const QRegularExpression element(QStringLiteral("<%1(?: [^>]*)?>([^<]*)</%1>").arg(tag));
    const QRegularExpressionMatch match = element.match(QString::fromUtf8(xml));
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

} // namespace

// `cmake --install` of the build tree into a scratch DESTDIR, as the README
// tells a technician to install under /opt/korvane: the program with the real
// transport beside it, the desktop file, icons, AppStream metadata and the
// udev rule, and nothing else.
class TestInstallTree : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileIsInstalled_data();
    void fileIsInstalled();
    void nothingElseIsInstalled();
    void transportIsTheRealOne();
    void iconIsDrawnAtItsSize_data();
    void iconIsDrawnAtItsSize();
    void desktopEntryStartsTheProgram();
    void metainfoNamesTheDesktopEntry();
    void validatorAccepts_data();
    void validatorAccepts();

private:
    struct Expected
    {
        QByteArray name;
        QString path;
        bool executable;
    };
    QList<Expected> expectedFiles() const;
    QString prefixed(const QString &path) const { return m_root.path() + Prefix + path; }
    QString desktopEntryPath() const
    {
        return prefixed(DataDir + QStringLiteral("/applications/") + AppId +
                        QStringLiteral(".desktop"));
    }
    QString metainfoPath() const
    {
        return prefixed(DataDir + QStringLiteral("/metainfo/") + AppId +
                        QStringLiteral(".metainfo.xml"));
    }
    QString rulePath() const;

    static inline const QString Prefix = QStringLiteral("/opt/korvane/");
    QTemporaryDir m_root;
    QStringList m_installed;
};

QString TestInstallTree::rulePath() const
{
    const QString dir = QStringLiteral(KORVANE_UDEV_RULES_DIR);
    return QDir::isAbsolutePath(dir) ? m_root.path() + dir + QLatin1Char('/') + RuleName
                                     : prefixed(dir + QLatin1Char('/') + RuleName);
}

void TestInstallTree::initTestCase()
{
    QVERIFY(m_root.isValid());
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), m_root.path());
    install.setProcessEnvironment(env);
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(KORVANE_BUILD_DIR),
                   QStringLiteral("--prefix"), QStringLiteral("/opt/korvane")});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    QDirIterator files(m_root.path(), QDir::Files | QDir::System | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        m_installed << files.next().mid(m_root.path().size() + 1);
    m_installed.sort();
}

QList<TestInstallTree::Expected> TestInstallTree::expectedFiles() const
{
    QList<Expected> files = {
        {"program", prefixed(BinDir + QStringLiteral("/korvane")), true},
        {"transport", prefixed(BinDir + QStringLiteral("/dll/libkvusb.so")), false},
        {"desktop entry", desktopEntryPath(), false},
        {"metainfo", metainfoPath(), false},
        {"scalable icon",
         prefixed(DataDir + QStringLiteral("/icons/hicolor/scalable/apps/") + AppId +
                  QStringLiteral(".svg")),
         false},
        {"udev rule", rulePath(), false}};
    for (int size : IconSizes)
        files.append({"icon " + QByteArray::number(size), prefixed(iconPath(size)), false});
    return files;
}

void TestInstallTree::fileIsInstalled_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    for (const Expected &file : expectedFiles())
        QTest::newRow(file.name.constData()) << file.path << file.executable;
}

void TestInstallTree::fileIsInstalled()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo file(path);
    QVERIFY2(file.isFile(), qPrintable(path + QStringLiteral(" is missing; installed:\n") +
                                       m_installed.join(QLatin1Char('\n'))));
    QVERIFY(file.size() > 0);
    QCOMPARE(file.isExecutable(), executable);
}

void TestInstallTree::nothingElseIsInstalled()
{
    // Test programs, benchmarks, fuzz targets and above all the emulator never
    // reach an installation.
    QStringList expected;
    for (const Expected &file : expectedFiles())
        expected << file.path.mid(m_root.path().size() + 1);
    expected.sort();
    QCOMPARE(m_installed, expected);
}

void TestInstallTree::transportIsTheRealOne()
{
    // The emulator has the same six functions and more of its own (kvemu_*);
    // the real transport exports exactly the six.
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                    QStringLiteral("--format=posix"),
                                    prefixed(BinDir + QStringLiteral("/dll/libkvusb.so"))});
    QVERIFY(nm.waitForFinished(30000));
    QCOMPARE(nm.exitCode(), 0);
    QStringList functions;
    for (const QByteArray &line : nm.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 2 && (fields[1] == "T" || fields[1] == "W"))
            functions << QString::fromLatin1(fields[0]);
    }
    functions.sort();
    QCOMPARE(functions, QStringList({QStringLiteral("func1"), QStringLiteral("func2"),
                                     QStringLiteral("func3"), QStringLiteral("func4"),
                                     QStringLiteral("func5"), QStringLiteral("func6")}));
}

void TestInstallTree::iconIsDrawnAtItsSize_data()
{
    QTest::addColumn<int>("size");
    for (int size : IconSizes)
        QTest::addRow("%d", size) << size;
}

void TestInstallTree::iconIsDrawnAtItsSize()
{
    QFETCH(int, size);
    const QImage icon(prefixed(iconPath(size)));
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.size(), QSize(size, size));
    // Drawn on a clear ground with the picture in the middle.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QVERIFY(qAlpha(icon.pixel(size / 2, size / 2)) > 0);
}

void TestInstallTree::desktopEntryStartsTheProgram()
{
    const QByteArray entry = TestFiles::read(desktopEntryPath());
    // Found on the PATH: /usr/bin/korvane in the package, prefix/bin otherwise.
    QCOMPARE(desktopValue(entry, QStringLiteral("Exec")), QStringLiteral("korvane"));
    QCOMPARE(desktopValue(entry, QStringLiteral("Icon")), AppId);
    QCOMPARE(desktopValue(entry, QStringLiteral("StartupWMClass")), QStringLiteral("korvane"));
}

void TestInstallTree::metainfoNamesTheDesktopEntry()
{
    const QByteArray metainfo = TestFiles::read(metainfoPath());
    QCOMPARE(xmlText(metainfo, QStringLiteral("id")), AppId);
    QCOMPARE(xmlText(metainfo, QStringLiteral("launchable")), AppId + QStringLiteral(".desktop"));
    QVERIFY2(metainfo.contains("<release version=\"" KORVANE_VERSION "\""), metainfo.constData());
}

void TestInstallTree::validatorAccepts_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::newRow("desktop entry")
        << QStringLiteral("desktop-file-validate") << QStringList() << desktopEntryPath();
    QTest::newRow("metainfo") << QStringLiteral("appstreamcli")
                              << QStringList(
                                     {QStringLiteral("validate"), QStringLiteral("--no-net")})
                              << metainfoPath();
}

void TestInstallTree::validatorAccepts()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed (tools/install-deps)")));
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(tool, arguments << path);
    QVERIFY(validator.waitForFinished(30000));
    QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
             validator.readAll().constData());
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestInstallTree)
#include "tst_install_tree.moc"
