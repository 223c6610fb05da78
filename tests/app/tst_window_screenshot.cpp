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

void TestWindowScreenshot::connectedWindowShowsItsToolBar()
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        QSKIP("needs an X server (run under xvfb-run)");
    TestHome::Fresh home;
    ProgramObjects objects;
    DropInEmulator emulator;
    QVERIFY(emulator.load());
    QVERIFY(emulator.configure("[programmer]\nfirmware = NAND image 1\n"
                               "[chip]\nfamily = nand\nid = EC F1 00 95 40\nblocks = 64\n"));
    settings().setString(Settings::TestName, QStringLiteral("K9F1G08U0B"));
    ScriptedQuestions questions;
    MainWindow window(&questions);
    window.move(0, 0);
    window.resize(1000, 640);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY_WITH_TIMEOUT(window.usbStatusLabel()->text().startsWith("USB connected"), 8000);
    QTest::qWait(500);

    const QImage shot = window.screen()->grabWindow(0).toImage();
    QVERIFY(!shot.isNull());
    const QRect frame = window.geometry();
    const QImage picture = shot.copy(frame);
    const QString folder = QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(folder);
    QVERIFY(picture.save(folder + "/main-window.png"));

    // Not blank: the window has drawn its widgets.
    QVERIFY2(distinctColours(picture, picture.rect()) > 40,
             qPrintable(QString::number(distinctColours(picture, picture.rect()))));
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
        if (distinctColours(picture, area) >= 8)
            ++drawnButtons;
    }
    QCOMPARE(drawnButtons, 12);
}

KORVANE_TEST_MAIN_WITH(QApplication, TestWindowScreenshot)
#include "tst_window_screenshot.moc"
