#include "CFileMemoryNode.h"
#include "CMemoryNode.h"
#include "FlickScroll.h"
#include "FolderListing.h"
#include "HangGuard.h"
#include "HexCursor.h"
#include "HexLayout.h"
#include "HexView.h"
#include "NodeTestSupport.h"
#include "TestHome.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMainWindow>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <utility>
#include <vector>

using Reads = std::vector<std::pair<quint64, quint64>>;
Q_DECLARE_METATYPE(HexCursor::Move)

namespace {

// A node that stands for `size` bytes without holding them (byte i reads as
// i mod 251) and records every Read, and whether one left the node.
class SizedNode : public CMemoryNode
{
public:
    explicit SizedNode(quint64 size, bool resident = false)
        : CMemoryNode(QStringLiteral("Sized"), 0, 0, 0xFF), m_bytes(size), m_resident(resident)
    {}
    quint64 GetSize() const override { return m_bytes; }
    bool IsResident() const override { return m_resident; }
    void Read(quint64 offset, quint8 *destination, quint64 length) override
    {
        reads.emplace_back(offset, length);
        outside = outside || offset > m_bytes || length > m_bytes - offset;
        for (quint64 i = 0; i < length; ++i)
            destination[i] = quint8((offset + i) % 251);
    }
    void resize(quint64 size) { m_bytes = size; }

    Reads reads;
    bool outside = false;

private:
    quint64 m_bytes;
    bool m_resident;
};

// A resident node that records its Reads.
class CountingNode : public CMemoryNode
{
public:
    CountingNode(quint64 size, quint8 fill) : CMemoryNode(QStringLiteral("SPI"), 0, size, fill) {}
    void Read(quint64 offset, quint8 *destination, quint64 length) override
    {
        reads.emplace_back(offset, length);
        CMemoryNode::Read(offset, destination, length);
    }
    Reads reads;
};

QFont testFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// Sizes `view` so that its viewport shows `rows` rows (a fraction: a partly
// visible last row) under the header, 1000 pixels wide.
void showRows(HexView &view, double rows)
{
    view.setViewFont(testFont());
    const HexLayout &layout = view.layout();
    const int height = 2 * HexLayout::MarginY + layout.headerHeight() +
                       int(rows * layout.rowHeight() + 0.5) + 2 * view.frameWidth();
    view.resize(1000, height);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

// Drags `data` onto the view and drops it there, as a drag from another
// widget does; true when the view took the drop.
bool dropOnto(HexView &view, const QMimeData *data, Qt::DropAction action)
{
    QDragEnterEvent enter(QPoint(50, 50), action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(50, 50), action, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &drop);
    return drop.isAccepted();
}

QImage paint(HexView &view)
{
    return view.viewport()->grab().toImage();
}

bool hasColour(const QImage &image, QRect rect, QColor colour)
{
    rect &= image.rect();
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                return true;
    return false;
}

} // namespace

class TestHexView : public QObject
{
    Q_OBJECT

private slots:
    void addressDigits_data();
    void addressDigits();
    void addressText_data();
    void addressText();
    void rowTexts();
    void twentyByteNode();
    void readsPerPaint_data();
    void readsPerPaint();
    void blinkRepaintsCursorByteOnly();
    void typing_data();
    void typing();
    void cursorMoves_data();
    void cursorMoves();
    void homeKeyFrom200MiB();
    void hitTest_data();
    void hitTest();
    void clickInEachColumn_data();
    void clickInEachColumn();
    void flick();
    void dragAndWheel();
    void makeVisible();
    void hugeNodeScrollBar();
    void shrinkingNode();
    void colours();
    void drop_data();
    void drop();
    void dropIntoFileNode();
    void contextMenu();
    void claimedNodeRepaints_data();
    void claimedNodeRepaints();
    void claimedNodeRefusesEdits();
};

void TestHexView::addressDigits_data()
{
    QTest::addColumn<quint64>("size");
    QTest::addColumn<int>("digits");
    QTest::newRow("empty") << quint64(0) << 8;
    QTest::newRow("4 GiB") << quint64(0x100000000) << 8;
    QTest::newRow("4 GiB + 1") << quint64(0x100000001) << 10;
    QTest::newRow("8 GiB") << quint64(0x200000000) << 10;
}

void TestHexView::addressDigits()
{
    QFETCH(quint64, size);
    QFETCH(int, digits);
    SizedNode node(size);
    HexView view(&node);
    showRows(view, 4);
    QCOMPARE(view.addressDigits(), digits);
    QCOMPARE(view.layout().hexX(), view.layout().charWidth() * digits + 8);
}

void TestHexView::addressText_data()
{
    QTest::addColumn<quint64>("address");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("text");
    QTest::newRow("8 digits") << quint64(0x10) << 8 << "00000010";
    QTest::newRow("10 digits below 4 GiB") << quint64(0xABCDEF0) << 10 << "000ABCDEF0";
    QTest::newRow("last row below 4 GiB") << quint64(0xFFFFFFF0) << 8 << "FFFFFFF0";
    QTest::newRow("4 GiB") << quint64(0x100000000) << 10 << "0100000000";
    QTest::newRow("upper part 3 digits") << quint64(0x1234ABCDEF0) << 10 << "1234ABCDEF0";
}

void TestHexView::addressText()
{
    QFETCH(quint64, address);
    QFETCH(int, digits);
    QFETCH(QString, text);
    QCOMPARE(HexLayout::addressText(address, digits), text);
}

void TestHexView::rowTexts()
{
    QByteArray bytes = pattern(16);
    QCOMPARE(HexLayout::hexText(u8(bytes), 16),
             QStringLiteral("00 01 02 03 04 05 06 07-08 09 0A 0B 0C 0D 0E 0F"));
    QCOMPARE(HexLayout::hexText(u8(bytes), 8), QStringLiteral("00 01 02 03 04 05 06 07"));
    const QByteArray mixed("A\x7F\x00 ~\x80\x1F", 7);
    QCOMPARE(HexLayout::charText(u8(mixed), 7), QStringLiteral("A.. ~.."));
    QCOMPARE(
        HexLayout::headerText(),
        QStringLiteral(" OFFSET   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F     A S C I I"));
}

void TestHexView::twentyByteNode()
{
    CountingNode node(20, 'A');
    HexView view(&node);
    showRows(view, 6);
    QCOMPARE(view.layout().totalRows(), quint64(2));
    node.reads.clear();
    const QImage image = paint(view);
    QCOMPARE(node.reads, (Reads{{0, 20}}));
    // The second row's character column holds 4 characters, the first 16.
    const HexLayout &layout = view.layout();
    const int charLeft = HexLayout::MarginX + layout.charX();
    const int cw = layout.charWidth();
    const QRect rowTwoTail(charLeft + 4 * cw, layout.rowsTop() + layout.rowHeight(), 12 * cw,
                           layout.rowHeight());
    const QRect rowOneTail = rowTwoTail.translated(0, -layout.rowHeight());
    QVERIFY(hasColour(image, rowOneTail, Qt::black));
    QVERIFY(!hasColour(image, rowTwoTail, Qt::black));
    QVERIFY(hasColour(image, rowTwoTail.translated(-4 * cw, 0), Qt::black));
}

void TestHexView::readsPerPaint_data()
{
    QTest::addColumn<quint64>("size");
    QTest::addColumn<double>("rows");
    QTest::addColumn<quint64>("firstRow");
    QTest::addColumn<Reads>("reads");
    QTest::newRow("20 bytes") << quint64(20) << 10.0 << quint64(0) << Reads{{0, 20}};
    QTest::newRow("partly visible last row painted")
        << quint64(1 << 20) << 3.5 << quint64(0) << Reads{{0, 64}};
    QTest::newRow("end: partial last row only")
        << quint64(1000) << 10.0 << quint64(53) << Reads{{848, 152}};
    QTest::newRow("tall view: 96 rows at most")
        << quint64(1 << 20) << 120.0 << quint64(0) << Reads{{0, 1536}};
    QTest::newRow("8 GiB middle") << quint64(0x200000000) << 10.0 << (quint64(1) << 28)
                                  << Reads{{quint64(1) << 32, 160}};
    QTest::newRow("empty node") << quint64(0) << 10.0 << quint64(0) << Reads{};
}

void TestHexView::readsPerPaint()
{
    QFETCH(quint64, size);
    QFETCH(double, rows);
    QFETCH(quint64, firstRow);
    QFETCH(Reads, reads);
    SizedNode node(size);
    HexView view(&node);
    showRows(view, rows);
    view.setFirstRow(firstRow);
    QCOMPARE(view.firstRow(), firstRow);
    node.reads.clear();
    paint(view);
    QCOMPARE(node.reads, reads);
    QVERIFY(!node.outside);
}

void TestHexView::blinkRepaintsCursorByteOnly()
{
    SizedNode node(4096);
    HexView view(&node);
    showRows(view, 8);
    view.setCursorPosition(0x25, false);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.activateWindow();
    view.setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QTRY_VERIFY(view.blinking());
    view.viewport()->repaint();
    node.reads.clear();
    view.viewport()->repaint(view.cursorByteRect());
    QCOMPARE(node.reads, (Reads{{0x25, 1}}));
    // Scrolled away from the cursor row, the blinking stops.
    view.setFirstRow(100);
    QVERIFY(!view.blinking());
    view.setFirstRow(0);
    QVERIFY(view.blinking());
    view.clearFocus();
    QVERIFY(!view.blinking());
}

void TestHexView::typing_data()
{
    QTest::addColumn<quint64>("size");
    QTest::addColumn<quint64>("start");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<quint8>("byte");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<bool>("upper");
    QTest::addColumn<int>("edits");
    const QList<int> a5{Qt::Key_A, Qt::Key_5};
    QTest::newRow("A 5") << quint64(16) << quint64(0) << a5 << false << quint8(0xA5) << quint64(1)
                         << true << 2;
    QTest::newRow("Shift A 5") << quint64(16) << quint64(0) << a5 << true << quint8(0xA5)
                               << quint64(1) << true << 2;
    QTest::newRow("upper only") << quint64(16) << quint64(3) << QList<int>{Qt::Key_0} << false
                                << quint8(0x0F) << quint64(3) << false << 1;
    QTest::newRow("last byte stays") << quint64(4) << quint64(3) << QList<int>{Qt::Key_1, Qt::Key_2}
                                     << false << quint8(0x12) << quint64(3) << false << 2;
    QTest::newRow("not a digit") << quint64(16) << quint64(0) << QList<int>{Qt::Key_G} << false
                                 << quint8(0xFF) << quint64(0) << true << 0;
}

void TestHexView::typing()
{
    QFETCH(quint64, size);
    QFETCH(quint64, start);
    QFETCH(QList<int>, keys);
    QFETCH(bool, shift);
    QFETCH(quint8, byte);
    QFETCH(quint64, offset);
    QFETCH(bool, upper);
    QFETCH(int, edits);
    CMemoryNode node(QStringLiteral("SPI"), 0, size, 0xFF);
    HexView view(&node);
    showRows(view, 4);
    view.setCursorPosition(start, true);
    QSignalSpy edited(&view, &HexView::edited);
    for (int key : keys)
        QTest::keyClick(&view, Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(quint8(readNode(node, start, 1)[0]), byte);
    QCOMPARE(view.cursorOffset(), offset);
    QCOMPARE(view.cursorUpper(), upper);
    QCOMPARE(edited.count(), edits);
}

void TestHexView::cursorMoves_data()
{
    using M = HexCursor::Move;
    QTest::addColumn<quint64>("size");
    QTest::addColumn<HexCursor>("from");
    QTest::addColumn<M>("move");
    QTest::addColumn<HexCursor>("to");
    const quint64 gib = quint64(1) << 30;
    const quint64 mib = quint64(1) << 20;
    QTest::newRow("Home from 200 MiB")
        << gib << HexCursor(200 * mib, false) << M::Home << HexCursor(72 * mib, true);
    QTest::newRow("Home clamps at 0")
        << gib << HexCursor(100 * mib, false) << M::Home << HexCursor(0, true);
    QTest::newRow("End") << gib << HexCursor(0, true) << M::End << HexCursor(0x07FFFFFF, false);
    QTest::newRow("End clamps") << quint64(0x1000) << HexCursor(0x100, true) << M::End
                                << HexCursor(0xFFF, false);
    QTest::newRow("Left at 0") << gib << HexCursor(0, true) << M::Left << HexCursor(0, true);
    QTest::newRow("Left lower") << gib << HexCursor(5, false) << M::Left << HexCursor(5, true);
    QTest::newRow("Left upper") << gib << HexCursor(5, true) << M::Left << HexCursor(4, false);
    QTest::newRow("Right upper") << gib << HexCursor(5, true) << M::Right << HexCursor(5, false);
    QTest::newRow("Right lower") << gib << HexCursor(5, false) << M::Right << HexCursor(6, true);
    QTest::newRow("Right at end") << quint64(32) << HexCursor(31, false) << M::Right
                                  << HexCursor(31, false);
    QTest::newRow("Up clamps to upper nibble")
        << gib << HexCursor(5, false) << M::Up << HexCursor(0, true);
    QTest::newRow("Down") << gib << HexCursor(5, false) << M::Down << HexCursor(21, false);
    QTest::newRow("Down clamps to lower nibble")
        << quint64(32) << HexCursor(0x1A, true) << M::Down << HexCursor(31, false);
    QTest::newRow("Page Down") << gib << HexCursor(0, true) << M::PageDown << HexCursor(144, true);
    QTest::newRow("Page Up clamps")
        << gib << HexCursor(100, true) << M::PageUp << HexCursor(0, true);
    QTest::newRow("empty node") << quint64(0) << HexCursor(0, true) << M::End << HexCursor(0, true);
}

void TestHexView::cursorMoves()
{
    QFETCH(quint64, size);
    QFETCH(HexCursor, from);
    QFETCH(HexCursor::Move, move);
    QFETCH(HexCursor, to);
    const HexCursor moved = from.moved(move, size, 10);
    QCOMPARE(moved.offset(), to.offset());
    QCOMPARE(moved.upper(), to.upper());
}

void TestHexView::homeKeyFrom200MiB()
{
    SizedNode node(quint64(1) << 30);
    HexView view(&node);
    showRows(view, 10);
    view.setCursorPosition(200 << 20, false);
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(view.cursorOffset(), quint64(72) << 20);
    QVERIFY(view.cursorUpper());
    // The view follows the cursor.
    QCOMPARE(view.firstRow(), (quint64(72) << 20) / 16);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.cursorOffset(), (quint64(72) << 20) + 9 * 16);
}

void TestHexView::hitTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<quint64>("firstRow");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<bool>("upper");
    // Character width 8, row height 16: rows start at y 21, the hex column
    // at x 77 in the viewport, the character column at 5 + 72 + 384.
    const int row2 = 21 + 2 * 16 + 3;
    QTest::newRow("address column") << QPoint(10, row2) << quint64(0) << 0 << quint64(0x20) << true;
    QTest::newRow("first digit") << QPoint(77, row2) << quint64(0) << 0 << quint64(0x20) << true;
    QTest::newRow("byte 1 upper") << QPoint(101, row2) << quint64(0) << 0 << quint64(0x21) << true;
    QTest::newRow("byte 1 lower") << QPoint(109, row2) << quint64(0) << 0 << quint64(0x21) << false;
    QTest::newRow("dash") << QPoint(77 + 23 * 8, row2) << quint64(0) << 0 << quint64(0x27) << false;
    QTest::newRow("character column")
        << QPoint(5 + 72 + 384 + 10, row2) << quint64(0) << 0 << quint64(0x2F) << false;
    QTest::newRow("header is row 0") << QPoint(101, 5) << quint64(0) << 0 << quint64(1) << true;
    QTest::newRow("scrolled rows") << QPoint(10, row2) << quint64(3) << 0 << quint64(0x50) << true;
    QTest::newRow("scrolled columns")
        << QPoint(77 - 40, row2) << quint64(0) << 40 << quint64(0x20) << true;
    QTest::newRow("past the end") << QPoint(101, 21 + 20 * 16) << quint64(0) << 0 << quint64(0xFF)
                                  << false;
}

void TestHexView::hitTest()
{
    QFETCH(QPoint, point);
    QFETCH(quint64, firstRow);
    QFETCH(int, horizontal);
    QFETCH(quint64, offset);
    QFETCH(bool, upper);
    const HexLayout layout(8, 16, 600, 400, 0x100);
    QCOMPARE(layout.rowsTop(), 21);
    QCOMPARE(layout.hexX(), 72);
    const HexLayout::Hit hit = layout.hitTest(point, firstRow, horizontal);
    QCOMPARE(hit.offset, offset);
    QCOMPARE(hit.upper, upper);
}

void TestHexView::clickInEachColumn_data()
{
    QTest::addColumn<int>("column"); // 0 address, 1 hex (byte 5 lower), 2 characters
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<bool>("upper");
    QTest::newRow("address") << 0 << quint64(0x10) << true;
    QTest::newRow("hex") << 1 << quint64(0x15) << false;
    QTest::newRow("characters") << 2 << quint64(0x1F) << false;
}

void TestHexView::clickInEachColumn()
{
    QFETCH(int, column);
    QFETCH(quint64, offset);
    QFETCH(bool, upper);
    SizedNode node(0x100);
    HexView view(&node);
    showRows(view, 8);
    const HexLayout &layout = view.layout();
    const int xs[] = {HexLayout::MarginX + 2, HexLayout::MarginX + layout.hexCellX(5, false) + 1,
                      HexLayout::MarginX + layout.charX() + 3 * layout.charWidth()};
    const QPoint point(xs[column], layout.rowsTop() + layout.rowHeight() + 2);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, point);
    QCOMPARE(view.cursorOffset(), offset);
    QCOMPARE(view.cursorUpper(), upper);
}

void TestHexView::flick()
{
    FlickScroll flick;
    flick.press();
    QCOMPARE(flick.drag(20, 16), -1); // down: towards the start
    QCOMPARE(flick.drag(12, 16), -1);
    QCOMPARE(flick.drag(-40, 16), 2);
    flick.drag(108, 16);
    QCOMPARE(flick.tick(), 0); // while dragging: records 100 px per tick
    flick.release();
    QList<int> rows;
    while (flick.running())
        rows << flick.tick();
    QCOMPARE(rows.size(), 29);
    QCOMPARE(rows.first(), -29);
    QCOMPARE(rows.last(), -1);
    // Upwards, and a press stops coasting at once.
    flick.press();
    flick.drag(-45, 16);
    flick.tick();
    flick.release();
    QCOMPARE(flick.tick(), 29);
    QVERIFY(flick.running());
    flick.press();
    flick.release();
    QVERIFY(!flick.running());
}

void TestHexView::dragAndWheel()
{
    SizedNode node(1 << 20);
    HexView view(&node);
    showRows(view, 10);
    view.setFirstRow(100);
    const int rh = view.layout().rowHeight();
    const QPoint start(200, view.layout().rowsTop() + 5);
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent move(QEvent::MouseMove, start + QPoint(0, 2 * rh + 1),
                     view.viewport()->mapToGlobal(start + QPoint(0, 2 * rh + 1)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    QCOMPARE(view.firstRow(), quint64(98));
    QVERIFY(view.flicking());
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, start);
    QWheelEvent wheel(QPointF(50, 50), view.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(),
                      QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    QCOMPARE(view.firstRow(), quint64(100));
}

void TestHexView::makeVisible()
{
    SizedNode node(1 << 20);
    HexView view(&node);
    showRows(view, 10);
    view.resize(300, view.height() + view.horizontalScrollBar()->sizeHint().height());
    QCOMPARE(view.visibleRows(), 10);
    view.makeVisible(0x1000, 0x1000);
    QCOMPARE(view.firstRow(), quint64(0x100 - 9));
    view.makeVisible(0xFB0, 0xFB0); // already visible: stays
    QCOMPARE(view.firstRow(), quint64(0x100 - 9));
    view.makeVisible(0x10, 0x10);
    QCOMPARE(view.firstRow(), quint64(1));
    // Byte 15's cells come into the narrow text area.
    const HexLayout &layout = view.layout();
    QVERIFY(layout.maxHorizontal() > 0);
    view.makeVisible(0x1F, 0x1F);
    const int right = layout.hexCellX(15, false) + layout.charWidth() - view.horizontalOffset();
    QVERIFY(right <= layout.textArea().width());
    QCOMPARE(view.horizontalScrollBar()->value(), view.horizontalOffset());
    view.makeVisible(0x10, 0x10);
    QCOMPARE(view.horizontalOffset(), qMin(layout.hexX(), layout.maxHorizontal()));
}

void TestHexView::hugeNodeScrollBar()
{
    SizedNode node(quint64(1) << 40); // 2^36 rows: more than a scroll bar counts
    HexView view(&node);
    showRows(view, 10);
    QScrollBar *bar = view.verticalScrollBar();
    QVERIFY(view.layout().scrollScale() > 1);
    bar->setValue(bar->maximum());
    QCOMPARE(view.firstRow(), view.layout().maxFirstRow());
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.cursorOffset(), quint64(0x07FFFFFF));
    // Moving back past the top puts the cursor row at the top.
    QCOMPARE(view.firstRow(), quint64(0x07FFFFFF) / 16);
    QCOMPARE(bar->value(), view.layout().barValue(view.firstRow()));
}

void TestHexView::shrinkingNode()
{
    SizedNode node(1000);
    HexView view(&node);
    showRows(view, 10);
    view.setCursorPosition(999, false);
    QCOMPARE(view.firstRow(), quint64(53));
    node.resize(100);
    node.reads.clear();
    paint(view); // before the relayout: nothing outside the node
    QVERIFY(!node.outside);
    view.relayout();
    QCOMPARE(view.cursorOffset(), quint64(99));
    QCOMPARE(view.firstRow(), quint64(0));
    node.reads.clear();
    paint(view);
    QCOMPARE(node.reads, (Reads{{0, 100}}));
    node.resize(0);
    view.relayout();
    QCOMPARE(view.cursorOffset(), quint64(0));
    QTest::keyClick(&view, Qt::Key_End);
    QTest::keyClick(&view, Qt::Key_7);
    QCOMPARE(view.cursorOffset(), quint64(0));
    QVERIFY(view.cursorUpper());
    node.reads.clear();
    paint(view);
    QVERIFY(node.reads.empty());
    QVERIFY(!node.outside);
}

void TestHexView::colours()
{
    CountingNode node(64, 'A');
    HexView view(&node);
    showRows(view, 6);
    const QImage image = paint(view);
    const HexLayout &layout = view.layout();
    const QRect area = layout.textArea();
    const QRect header(area.left(), area.top(), area.width(), layout.headerHeight());
    QCOMPARE(image.pixelColor(area.right() - 2, area.top() + 1), QColor(192, 192, 192));
    QVERIFY(hasColour(image, header, QColor(255, 0, 0)));
    const QRect row(area.left(), layout.rowsTop(), 0, layout.rowHeight());
    QVERIFY(hasColour(image, row.adjusted(0, 0, layout.addressWidth(), 0), QColor(150, 0, 150)));
    QVERIFY(hasColour(image, row.adjusted(layout.hexX(), 0, layout.charX(), 0), QColor(0, 0, 255)));
    QVERIFY(!hasColour(image, row.adjusted(layout.hexX(), 0, layout.charX(), 0), Qt::black));
    QCOMPARE(image.pixelColor(area.left() + 1, layout.rowsTop() + 5 * layout.rowHeight()),
             QColor(255, 255, 255));
}

void TestHexView::drop_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("panel drag data") << "panel" << true;
    QTest::newRow("path ends at the zero byte") << "zero" << true;
    QTest::newRow("no FileName") << "text" << false;
    QTest::newRow("missing file") << "missing" << false;
}

void TestHexView::drop()
{
    QFETCH(QString, kind);
    QFETCH(bool, loaded);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    writeFile(path, QByteArray("hello"));
    CMemoryNode node(QStringLiteral("SPI"), 0, 16, 0xFF);
    NodeRecorder recorder(node);
    HexView view(&node);
    QStringList remembered;
    view.setRememberFile([&remembered](const QString &file) { remembered << file; });
    std::unique_ptr<QMimeData> data;
    if (kind == QLatin1String("panel")) {
        data = FolderListing::dragData(path);
    } else {
        data = std::make_unique<QMimeData>();
        if (kind == QLatin1String("zero"))
            data->setData(QStringLiteral("FileName"), path.toLatin1() + QByteArray("\0junk", 5));
        else if (kind == QLatin1String("missing"))
            data->setData(QStringLiteral("FileName"), path.toLatin1() + "-gone");
        else
            data->setText(path);
    }
    QVERIFY(data);
    const bool accepted = dropOnto(view, data.get(), Qt::CopyAction);
    QCOMPARE(readNode(node, 0, 6), loaded ? QByteArray("hello\xFF") : QByteArray(6, '\xFF'));
    QCOMPARE(remembered, loaded ? QStringList{path} : QStringList{});
    if (kind == QLatin1String("missing"))
        QCOMPARE(recorder.lines(), QStringList{path + QStringLiteral("-gone File Error")});
    QCOMPARE(accepted, kind != QLatin1String("text"));
}

void TestHexView::dropIntoFileNode()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nand.bin"));
    writeFile(path, pattern(40));
    CFileMemoryNode node(QStringLiteral("Nand"), 0, quint64(1) << 33);
    HexView view(&node);
    showRows(view, 10);
    QCOMPARE(view.layout().totalRows(), quint64(0));
    const std::unique_ptr<QMimeData> data = FolderListing::dragData(path);
    QVERIFY(dropOnto(view, data.get(), Qt::MoveAction));
    QCOMPARE(view.layout().totalRows(), quint64(3));
    QVERIFY(view.contextMenuEntries().isEmpty());
}

void TestHexView::contextMenu()
{
    CMemoryNode node(QStringLiteral("SPI"), 0, 16, 0xFF);
    HexView view(&node);
    QAction extra(QStringLiteral("extra"));
    QVERIFY(view.initAction());
    QCOMPARE(view.initAction()->text(), QStringLiteral("Init"));
    QCOMPARE(view.contextMenuEntries(), QList<QAction *>{view.initAction()});
    view.setContextAction(&extra);
    QCOMPARE(view.contextMenuEntries(), (QList<QAction *>{view.initAction(), nullptr, &extra}));
    extra.setEnabled(false);
    QCOMPARE(view.contextMenuEntries(), QList<QAction *>{view.initAction()});
    const quint8 zero = 0;
    node.SetByte(3, zero);
    view.initAction()->trigger();
    QCOMPARE(readNode(node, 3, 1), QByteArray(1, '\xFF'));
}

void TestHexView::claimedNodeRepaints_data()
{
    QTest::addColumn<bool>("resident");
    QTest::newRow("resident") << true;
    QTest::newRow("file") << false;
}

// While an operation has claimed the node, the view still paints it: the
// claim is no lock the view's reads wait for.
void TestHexView::claimedNodeRepaints()
{
    QFETCH(bool, resident);
    const QByteArray bytes = pattern(4096);
    const std::unique_ptr<CMemoryNode> node = nodeHolding(bytes, resident);
    QVERIFY(node);
    HexView view(node.get());
    showRows(view, 8);

    QVERIFY(node->TryLock());
    HangGuard guard([&node] { node->Unlock(); });
    const QImage image = paint(view);
    QVERIFY2(guard.finish(), "painting a claimed node waited for the claim");
    QVERIFY(hasColour(image, view.layout().textArea(), QColor(0, 0, 255)));
    QVERIFY(node->IsClaimed());
    node->Unlock();
}

// Typed digits, Init and a dropped file would change what an operation
// streams: the view refuses them while the node is claimed and says
// "Busy" in its tool tip and the window's status bar.
void TestHexView::claimedNodeRefusesEdits()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dropped.bin"));
    writeFile(path, QByteArray("hello"));
    CMemoryNode node(QStringLiteral("SPI"), 0, 64, 0xFF);
    NodeRecorder recorder(node);
    node.SetByte(1, 0x00);
    QMainWindow window;
    auto *view = new HexView(&node);
    window.setCentralWidget(view);
    window.statusBar();
    window.resize(1000, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view->setCursorPosition(0, true);
    QSignalSpy edited(view, &HexView::edited);
    const std::unique_ptr<QMimeData> data = FolderListing::dragData(path);

    QVERIFY(node.TryLock());
    HangGuard guard([&node] { node.Unlock(); });
    QTest::keyClick(view, Qt::Key_A);
    QTest::keyClick(view, Qt::Key_5);
    view->initAction()->trigger();
    dropOnto(*view, data.get(), Qt::CopyAction);
    QVERIFY2(guard.finish(), "editing a claimed node waited for the claim");
    QCOMPARE(readNode(node, 0, 3), QByteArray("\xFF\x00\xFF", 3));
    QCOMPARE(edited.count(), 0);
    QCOMPARE(view->cursorOffset(), quint64(0));
    QCOMPARE(view->toolTip(), QStringLiteral("Busy"));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Busy"));
    QCOMPARE(recorder.lines(), QStringList{QStringLiteral("Busy")});
    QCOMPARE(recorder.changes(), 0);

    node.Unlock();
    QTest::keyClick(view, Qt::Key_A);
    QTest::keyClick(view, Qt::Key_5);
    QCOMPARE(readNode(node, 0, 1), QByteArray("\xA5", 1));
    QCOMPARE(edited.count(), 2);
    QVERIFY(view->toolTip().isEmpty());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestHexView)
#include "tst_hex_view.moc"
