#include "DropInEmulator.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestHome.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

// The main window on a real X server (Xvfb): connected to the emulated
// programmer, grabbed from the screen as a person would see it. The picture
// is kept in tests/screenshots/ of the build tree.
class TestWindowScreenshot : public QObject
{
    Q_OBJECT
private slots:
    void connectedWindowShowsItsToolBar_data();
    void connectedWindowShowsItsToolBar();
};

namespace {

int distinctColours(const QImage &image, const QRect &area)
{
    QSet<QRgb> colours;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

} // namespace

void TestWindowScreenshot::connectedWindowShowsItsToolBar_data()
{
    QTest::addColumn<QByteArray>("profile");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("picture");
    QTest::newRow("NAND, message log")
        << QByteArray("[programmer]\nfirmware = NAND image 1\n"
                      "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n")
        << "K9F1G08U0B" << 0 << "main-window-nand.png";
    QTest::newRow("SPI, memory tab")
        << QByteArray("[programmer]\nfirmware = SPI image 0\nidentification = 0x4B560200\n"
                      "[chip]\nfamily = spi\nid = EF 40 17\nsize = 8M\n")
        << "W25Q64FV" << 1 << "main-window-spi.png";
}

void TestWindowScreenshot::connectedWindowShowsItsToolBar()
{
    QFETCH(QByteArray, profile);
    QFETCH(QString, target);
    QFETCH(int, tab);
    QFETCH(QString, picture);
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        QSKIP("needs an X server (run under xvfb-run)");
    TestHome::Fresh home;
    ProgramObjects objects;
    DropInEmulator emulator;
    QVERIFY(emulator.load());
    QVERIFY(emulator.configure(profile.toStdString()));
    settings().setString(Settings::TestName, target);
    ScriptedQuestions questions;
    MainWindow window(&questions);
    window.move(0, 0);
    window.resize(1000, 640);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY_WITH_TIMEOUT(window.usbStatusLabel()->text().startsWith("USB connected"), 8000);
    window.tabs()->setCurrentIndex(tab);
    QTest::qWait(500);

    const QImage shot = window.screen()->grabWindow(0).toImage();
    QVERIFY(!shot.isNull());
    const QRect frame = window.geometry();
    const QImage shown = shot.copy(frame);
    const QString folder = QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(folder);
    QVERIFY(shown.save(folder + QLatin1Char('/') + picture));

    // Not blank: the window has drawn its widgets.
    QVERIFY2(distinctColours(shown, shown.rect()) > 40,
             qPrintable(QString::number(distinctColours(shown, shown.rect()))));
    // The tool bar shows its icons: each button holds a picture, not a
    // plain background.
    QToolBar *bar = window.actions().mainToolBar;
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->actions().size(), 12);
    int drawnButtons = 0;
    for (QAction *action : bar->actions()) {
        QWidget *button = bar->widgetForAction(action);
        QVERIFY(button);
        const QRect area(button->mapTo(&window, QPoint(0, 0)), button->size());
        if (distinctColours(shown, area) >= 8)
            ++drawnButtons;
    }
    QCOMPARE(drawnButtons, 12);
}

KORVANE_TEST_MAIN_WITH(QApplication, TestWindowScreenshot)
#include "tst_window_screenshot.moc"
