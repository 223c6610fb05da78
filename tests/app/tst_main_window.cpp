#include "MainWindow.h"
#include "ProgramObjects.h"
#include "TestHome.h"
#include "UsbDriverTable.h"
#include "WindowGeometry.h"

#include <QApplication>
#include <QLabel>
#include <QSplitter>
#include <QTest>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void titleAndStatusWithoutProgrammer();
    void bindsTheTransportForItsLifetime();
    void restoresGeometryFromSettings();
    void storesGeometryAtClose();
};

void TestMainWindow::titleAndStatusWithoutProgrammer()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Korvane 1.10  "));
    const QStringList texts = MainWindow::usbStatusTexts();
    QCOMPARE(texts.size(), 3);
    QCOMPARE(texts.at(0), QStringLiteral("USB Not connected  "));
    QCOMPARE(texts.at(1), QStringLiteral("USB connected (1.1)"));
    QCOMPARE(texts.at(2), QStringLiteral("USB connected (2.0)"));
    QCOMPARE(window.usbStatusLabel()->text(), texts.at(0));
}

void TestMainWindow::bindsTheTransportForItsLifetime()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    UsbDriverTable &table = UsbDriverTable::instance();
    QCOMPARE(table.currentDriver(), -1);
    {
        MainWindow window;
        QCOMPARE(table.currentDriver(), 0);
        // The test executable has no dll folder beside it: nothing resolves
        // and the programmer stays unreachable.
        QVERIFY(!table.isResolved());
        QCOMPARE(table.open(), 0);
    }
    QCOMPARE(table.currentDriver(), -1);
}

void TestMainWindow::restoresGeometryFromSettings()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    settings().setWindowSizeIfChanged(QSize(700, 500));
    settings().setList(Settings::VerticalSplitter, {QStringLiteral("300"), QStringLiteral("150")});
    MainWindow window;
    QCOMPARE(window.size(), QSize(700, 500));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<int> sizes = window.verticalSplitter()->sizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY2(sizes.at(0) > sizes.at(1),
             qPrintable(QStringLiteral("%1 %2").arg(sizes.at(0)).arg(sizes.at(1))));
}

void TestMainWindow::storesGeometryAtClose()
{
    TestHome::Fresh home;
    ProgramObjects objects;
    settings().setList(Settings::HorizontalSplitter,
                       {QStringLiteral("200"), QStringLiteral("600")});
    QList<int> shownSizes;
    {
        MainWindow window;
        window.resize(900, 640);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.horizontalSplitter()->setSizes({150, 700});
        shownSizes = window.horizontalSplitter()->sizes();
    }
    QCOMPARE(settings().windowSize(), QSize(900, 640));
    const QStringList vertical = settings().list(Settings::VerticalSplitter);
    const QStringList horizontal = settings().list(Settings::HorizontalSplitter);
    QCOMPARE(vertical.size(), 2);
    QCOMPARE(horizontal.size(), 2);
    QCOMPARE(horizontal, WindowGeometry::splitterList(shownSizes));
    QVERIFY(horizontal != QStringList({QStringLiteral("200"), QStringLiteral("600")}));
}

KORVANE_TEST_MAIN_WITH(QApplication, TestMainWindow)
#include "tst_main_window.moc"
