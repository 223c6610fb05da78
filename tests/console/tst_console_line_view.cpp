#include "CommandConsole.h"
#include "ConsoleInput.h"
#include "ConsoleLineView.h"
#include "ConsoleTestEngine.h"
#include "ProgramObjects.h"
#include "RecordingConsoleHost.h"
#include "TestHome.h"
#include "UsbDriverTable.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <memory>

namespace {

// A shown console input over a console with every command.
struct ViewRig
{
    ViewRig() : engine(usb, 0xFF), view(console)
    {
        console.RegisterCommands(&engine);
        view.resize(300, 120);
        view.show();
        view.activateWindow();
        if (!QTest::qWaitForWindowActive(&view))
            qWarning("console view not active");
        view.setFocus();
    }
    // Types `text` and presses Return.
    void enter(const QString &text)
    {
        QTest::keyClicks(&view, text);
        QTest::keyClick(&view, Qt::Key_Return);
    }

    UsbDriverTable usb;
    RecordingConsoleHost host;
    ConsoleTestEngine engine;
    CommandConsole console{host};
    ConsoleLineView view;
};

} // namespace

class TestConsoleLineView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void historyKeepsForty();
    void browsing_data();
    void browsing();
    void tabCycles_data();
    void tabCycles();
    void returnSubmits();
    void blankLineKeptButNotRun();
    void editingKeys();
    void pasteAndClear();
    void drawing();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
};

void TestConsoleLineView::initTestCase()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestConsoleLineView::historyKeepsForty()
{
    ConsoleInput input;
    for (int i = 1; i <= 41; ++i) {
        input.type(QString::number(i));
        QCOMPARE(input.enter(), QString::number(i));
    }
    QCOMPARE(input.lines().size(), ConsoleInput::MaxLines);
    QCOMPARE(input.lines().first(), QStringLiteral("2"));
    QCOMPARE(input.historyPosition(), 40);
    QStringList recalled;
    for (int i = 0; i < 45; ++i) {
        input.up();
        if (recalled.isEmpty() || recalled.last() != input.input())
            recalled << input.input();
    }
    QCOMPARE(recalled.size(), 40);
    QCOMPARE(recalled.first(), QStringLiteral("41"));
    QCOMPARE(recalled.last(), QStringLiteral("2"));
}

void TestConsoleLineView::browsing_data()
{
    QTest::addColumn<QString>("keys"); // U up, D down, letters typed
    QTest::addColumn<QString>("input");
    QTest::newRow("up") << "U"
                        << "c";
    QTest::newRow("up up") << "UU"
                           << "b";
    QTest::newRow("up past the first") << "UUUU"
                                       << "a";
    QTest::newRow("down at the last stays") << "UD"
                                            << "c";
    QTest::newRow("up up down") << "UUD"
                                << "c";
    QTest::newRow("down without browsing") << "D"
                                           << "";
    QTest::newRow("typing restarts at the end") << "UUxU"
                                                << "c";
}

void TestConsoleLineView::browsing()
{
    QFETCH(QString, keys);
    QFETCH(QString, input);
    ConsoleInput line;
    for (const char *text : {"a", "b", "c"}) {
        line.type(text);
        line.enter();
    }
    for (const QChar key : keys) {
        if (key == QLatin1Char('U'))
            line.up();
        else if (key == QLatin1Char('D'))
            line.down();
        else
            line.type(key);
    }
    QCOMPARE(line.input(), input);
}

void TestConsoleLineView::tabCycles_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("DE") << "DE" << QStringList{"DETECT", "DEVICE", "DEVICES", "DETECT"};
    QTest::newRow("de") << "de" << QStringList{"DETECT", "DEVICE", "DEVICES", "DETECT"};
    QTest::newRow("D") << "D" << QStringList{"DETECT", "DEVICE", "DEVICES", "D", "DETECT"};
    QTest::newRow("no match") << "XY" << QStringList{"XY", "XY"};
    QTest::newRow("one match") << "ex" << QStringList{"EXIT", "EXIT"};
}

void TestConsoleLineView::tabCycles()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, answers);
    ViewRig rig;
    QTest::keyClicks(&rig.view, typed);
    for (const QString &answer : answers) {
        QTest::keyClick(&rig.view, Qt::Key_Tab);
        QCOMPARE(rig.view.input().input(), answer);
    }
    QVERIFY(rig.view.hasFocus());
    // Another key ends the cycle: the next Tab starts from the line.
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    const QString shortened = rig.view.input().input();
    QTest::keyClick(&rig.view, Qt::Key_Tab);
    QString expected = shortened;
    if (rig.console.Complete(shortened.toUpper(), expected))
        QCOMPARE(rig.view.input().input(), expected);
}

void TestConsoleLineView::returnSubmits()
{
    ViewRig rig;
    rig.enter("cls");
    QCOMPARE(rig.host.log, QStringList{"-cls"});
    QCOMPARE(rig.host.calls, QStringList{"clearLog"});
    QCOMPARE(rig.view.input().lines(), QStringList{"cls"});
    QVERIFY(rig.view.input().input().isEmpty());
    // Enter on the keypad does the same.
    QTest::keyClicks(&rig.view, "speed 4");
    QTest::keyClick(&rig.view, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(rig.engine.calls, QStringList{"speed 4"});
    // An empty Return adds nothing.
    QTest::keyClick(&rig.view, Qt::Key_Return);
    QCOMPARE(rig.view.input().lines().size(), 2);
}

void TestConsoleLineView::blankLineKeptButNotRun()
{
    ViewRig rig;
    rig.enter("   ");
    QCOMPARE(rig.view.input().lines(), QStringList{"   "});
    QVERIFY(rig.host.log.isEmpty());
}

void TestConsoleLineView::editingKeys()
{
    ViewRig rig;
    QTest::keyClicks(&rig.view, "readx");
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QCOMPARE(rig.view.input().input(), QStringLiteral("read"));
    // Ctrl with any key but V is ignored.
    QTest::keyClick(&rig.view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(rig.view.input().input(), QStringLiteral("read"));
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QTest::keyClick(&rig.view, Qt::Key_Backspace);
    QVERIFY(rig.view.input().input().isEmpty());
}

void TestConsoleLineView::pasteAndClear()
{
    ViewRig rig;
    QCOMPARE(rig.view.pasteAction()->text(), QStringLiteral("Paste"));
    QCOMPARE(rig.view.pasteAction()->statusTip(),
             QStringLiteral("Paste the clipboard's contents into the current position"));
    QCOMPARE(rig.view.clearAction()->text(), QStringLiteral("Clear"));
    QCOMPARE(rig.view.clearAction()->statusTip(), QStringLiteral("Clear command window"));
    QCOMPARE(rig.view.pasteAction()->shortcut(), QKeySequence(QKeySequence::Paste));

    QApplication::clipboard()->setText(QStringLiteral("verify\r\n0\t20000\x01"));
    QTest::keyClicks(&rig.view, "x ");
    QTest::keyClick(&rig.view, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(rig.view.input().input(), QStringLiteral("x verify  0 20000"));
    rig.view.pasteAction()->trigger();
    QCOMPARE(rig.view.input().input(), QStringLiteral("x verify  0 20000verify  0 20000"));

    rig.enter("a");
    QTest::keyClicks(&rig.view, "de");
    QTest::keyClick(&rig.view, Qt::Key_Tab);
    rig.view.clearAction()->trigger();
    QVERIFY(rig.view.input().lines().isEmpty());
    QVERIFY(rig.view.input().input().isEmpty());
    QVERIFY(rig.view.input().completionPrefix().isEmpty());
}

void TestConsoleLineView::drawing()
{
    ViewRig rig;
    QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
    QCoreApplication::processEvents();
    QVERIFY(!rig.view.verticalScrollBar()->isVisible());
    QCOMPARE(rig.view.viewport()->cursor().shape(), Qt::IBeamCursor);
    QVERIFY(rig.view.cursorShown());

    // White ground, black text.
    QTest::keyClicks(&rig.view, "read");
    QImage image = rig.view.viewport()->grab().toImage();
    QCOMPARE(QColor(image.pixel(image.width() - 1, image.height() - 1)), QColor(Qt::white));
    bool dark = false;
    for (int y = 0; y < rig.view.lineHeight() && !dark; ++y) {
        for (int x = 0; x < image.width() / 2 && !dark; ++x)
            dark = qGray(image.pixel(x, y)) < 64;
    }
    QVERIFY(dark);

    // More rows than fit: the scroll bar appears and the input row is shown.
    const int rows = rig.view.visibleRows();
    for (int i = 0; i < rows + 3; ++i)
        rig.enter(QStringLiteral("help"));
    // Qt shows or hides the bar once the range change is delivered.
    QTRY_VERIFY(rig.view.verticalScrollBar()->isVisible());
    QCOMPARE(rig.view.firstVisibleRow() + rig.view.visibleRows(), rows + 3 + 1);

    // A larger font: fewer rows fit.
    QFont big = rig.view.font();
    big.setPixelSize(40);
    rig.view.setViewFont(big);
    QVERIFY(rig.view.visibleRows() < rows);

    // The cursor blinks only while focused.
    rig.view.clearFocus();
    QVERIFY(!rig.view.cursorShown());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestConsoleLineView)
#include "tst_console_line_view.moc"
