#include "BadBlockMapLayout.h"
#include "BadBlockMapView.h"
#include "BadBlockTable.h"
#include "CDeviceItemNand.h"
#include "TestHome.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <limits>
#include <memory>

namespace {

constexpr int IntMax = std::numeric_limits<int>::max();

// A table of `blocks` blocks (2112-byte pages, 64 pages a block).
std::unique_ptr<BadBlockTable> makeTable(quint32 blocks)
{
    CDeviceItemNand device;
    device.pageSize = 2112;
    device.blockSize = 64;
    device.size = quint64(blocks) * 2112 * 64;
    return std::make_unique<BadBlockTable>(device);
}

// A shown map without a frame, so the viewport is the view minus the bar.
struct MapRig
{
    explicit MapRig(quint32 blocks, QSize size = QSize(250, 121)) : table(makeTable(blocks))
    {
        view.setFrameShape(QFrame::NoFrame);
        view.resize(size);
        view.setTable(table.get());
        view.show();
        ok = QTest::qWaitForWindowExposed(&view);
    }

    // The colour at the middle of the `index`-th painted cell.
    QColor cellColour(qint64 index) const
    {
        const QImage image = view.viewport()->grab().toImage();
        const QPointF centre = QRectF(view.layout().cellRect(index)).center();
        return image.pixelColor((centre * image.devicePixelRatio()).toPoint());
    }

    std::unique_ptr<BadBlockTable> table;
    BadBlockMapView view;
    bool ok = false;
};

} // namespace

class TestBadBlockMap : public QObject
{
    Q_OBJECT

private slots:
    void layoutFigures_data();
    void layoutFigures();
    void firstRowClamp_data();
    void firstRowClamp();
    void hitTest_data();
    void hitTest();
    void paintedCells_data();
    void paintedCells();

    void cellColours_data();
    void cellColours();
    void scrollBarOnlyWhenNeeded_data();
    void scrollBarOnlyWhenNeeded();
    void scrolling();
    void statesRepaintOnRefresh();
    void clickEmitsBlock_data();
    void clickEmitsBlock();
    void nullTableShowsGround();
};

void TestBadBlockMap::layoutFigures_data()
{
    QTest::addColumn<int>("cell");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<quint32>("blocks");
    QTest::addColumn<int>("perRow");
    QTest::addColumn<int>("visible");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("scroll");

    // Margin 1 throughout: pitch 12 for cell 10, 22 for cell 20.
    QTest::newRow("250 px, cell 10") << 10 << 250 << 121 << 1024u << 19 << 10 << qint64(54) << 44;
    QTest::newRow("cell 20") << 20 << 250 << 121 << 1024u << 10 << 5 << qint64(103) << 98;
    QTest::newRow("249 px still 19") << 10 << 249 << 121 << 1024u << 19 << 10 << qint64(54) << 44;
    QTest::newRow("248 px 18") << 10 << 248 << 121 << 1024u << 18 << 10 << qint64(57) << 47;
    QTest::newRow("120 px 9 rows") << 10 << 250 << 120 << 1024u << 19 << 9 << qint64(54) << 45;
    QTest::newRow("all fit") << 10 << 250 << 121 << 190u << 19 << 10 << qint64(10) << 0;
    QTest::newRow("one block more") << 10 << 250 << 121 << 191u << 19 << 10 << qint64(11) << 1;
    QTest::newRow("no blocks") << 10 << 250 << 121 << 0u << 19 << 10 << qint64(0) << 0;
    QTest::newRow("narrower than a cell") << 10 << 32 << 121 << 4u << 1 << 10 << qint64(4) << 0;
    QTest::newRow("zero width") << 10 << 0 << 121 << 30u << 1 << 10 << qint64(30) << 20;
    QTest::newRow("negative size") << 10 << -50 << -50 << 30u << 1 << 0 << qint64(30) << 30;
    QTest::newRow("zero height") << 10 << 250 << 0 << 40u << 19 << 0 << qint64(3) << 3;
    QTest::newRow("cell 0 counts as 1") << 0 << 250 << 121 << 100u << 76 << 40 << qint64(2) << 0;
    QTest::newRow("huge cell") << IntMax << 250 << 121 << 3u << 1 << 0 << qint64(3) << 3;
    QTest::newRow("huge width") << 10 << IntMax << 121 << 1024u << (IntMax - 21) / 12 << 10
                                << qint64(1) << 0;
    QTest::newRow("2^32 - 1 blocks in one column")
        << 10 << 0 << 121 << 0xFFFFFFFFu << 1 << 10 << qint64(0xFFFFFFFF) << IntMax;
}

void TestBadBlockMap::layoutFigures()
{
    QFETCH(int, cell);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(quint32, blocks);
    const BadBlockMapLayout layout(cell, 1, width, height, blocks);
    QTEST(layout.cellsPerRow(), "perRow");
    QTEST(layout.visibleRows(), "visible");
    QTEST(layout.totalRows(), "total");
    QTEST(layout.scrollRows(), "scroll");
}

void TestBadBlockMap::firstRowClamp_data()
{
    QTest::addColumn<quint32>("blocks");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("clamped");

    // 250 × 121 with cell 10: 19 a row, 10 rows visible.
    QTest::newRow("negative") << 1024u << -5 << 0;
    QTest::newRow("inside") << 1024u << 10 << 10;
    QTest::newRow("last") << 1024u << 44 << 44;
    QTest::newRow("one past") << 1024u << 45 << 44;
    QTest::newRow("far past") << 1024u << IntMax << 44;
    QTest::newRow("everything fits") << 190u << 3 << 0;
    QTest::newRow("no blocks") << 0u << 1 << 0;
}

void TestBadBlockMap::firstRowClamp()
{
    QFETCH(quint32, blocks);
    QFETCH(int, row);
    QTEST(BadBlockMapLayout(10, 1, 250, 121, blocks).clampFirstRow(row), "clamped");
}

void TestBadBlockMap::hitTest_data()
{
    QTest::addColumn<quint32>("blocks");
    QTest::addColumn<int>("firstRow");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<qint64>("block");

    // 250 × 121, cell 10, pitch 12, 19 a row; 1024 blocks end in row 53
    // with 17 blocks (1007 .. 1023).
    QTest::newRow("origin") << 1024u << 0 << QPoint(0, 0) << qint64(0);
    QTest::newRow("end of the first pitch") << 1024u << 0 << QPoint(11, 11) << qint64(0);
    QTest::newRow("second column") << 1024u << 0 << QPoint(12, 0) << qint64(1);
    QTest::newRow("second row") << 1024u << 0 << QPoint(5, 12) << qint64(19);
    QTest::newRow("last column") << 1024u << 0 << QPoint(18 * 12 + 5, 5) << qint64(18);
    QTest::newRow("right of the columns") << 1024u << 0 << QPoint(19 * 12 + 5, 5) << qint64(-1);
    QTest::newRow("left of the map") << 1024u << 0 << QPoint(-1, 5) << qint64(-1);
    QTest::newRow("above the map") << 1024u << 0 << QPoint(5, -1) << qint64(-1);
    QTest::newRow("scrolled") << 1024u << 3 << QPoint(5, 5) << qint64(57);
    QTest::newRow("last block") << 1024u << 44 << QPoint(16 * 12 + 5, 9 * 12 + 5) << qint64(1023);
    QTest::newRow("after the last block")
        << 1024u << 44 << QPoint(17 * 12 + 5, 9 * 12 + 5) << qint64(-1);
    QTest::newRow("last column below the last block")
        << 1024u << 44 << QPoint(18 * 12 + 5, 9 * 12 + 5) << qint64(-1);
    QTest::newRow("below the last row") << 1024u << 44 << QPoint(5, 10 * 12 + 5) << qint64(-1);
    QTest::newRow("no blocks") << 0u << 0 << QPoint(5, 5) << qint64(-1);
    QTest::newRow("past 2^31 blocks")
        << 0xFFFFFFFFu << 200000000 << QPoint(5, 5) << qint64(3800000000);
    QTest::newRow("past 2^32 blocks") << 0xFFFFFFFFu << IntMax << QPoint(5, 5) << qint64(-1);
}

void TestBadBlockMap::hitTest()
{
    QFETCH(quint32, blocks);
    QFETCH(int, firstRow);
    QFETCH(QPoint, point);
    QTEST(BadBlockMapLayout(10, 1, 250, 121, blocks).blockAt(point, firstRow), "block");
}

void TestBadBlockMap::paintedCells_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("firstRow");
    QTest::addColumn<int>("rows");
    QTest::addColumn<qint64>("count");

    // 1024 blocks, 19 a row, cell 10, pitch 12. Row r ends at 12r + 11.
    QTest::newRow("121 px: 10 rows") << 121 << 0 << 10 << qint64(190);
    QTest::newRow("131 px: the 11th ends at the edge") << 131 << 0 << 11 << qint64(209);
    QTest::newRow("130 px: the 11th would pass it") << 130 << 0 << 10 << qint64(190);
    QTest::newRow("11 px: one row") << 11 << 0 << 1 << qint64(19);
    QTest::newRow("10 px: none") << 10 << 0 << 0 << qint64(0);
    QTest::newRow("blocks run out") << 121 << 44 << 10 << qint64(1024 - 44 * 19);
    QTest::newRow("past the blocks") << 121 << 54 << 10 << qint64(0);
}

void TestBadBlockMap::paintedCells()
{
    QFETCH(int, height);
    QFETCH(int, firstRow);
    const BadBlockMapLayout layout(10, 1, 250, height, 1024);
    QTEST(layout.paintedRows(), "rows");
    QTEST(layout.paintedCount(firstRow), "count");
    QCOMPARE(layout.cellRect(0), QRect(1, 1, 10, 10));
    QCOMPARE(layout.cellRect(18), QRect(1 + 18 * 12, 1, 10, 10));
    QCOMPARE(layout.cellRect(20), QRect(13, 13, 10, 10));
}

void TestBadBlockMap::cellColours_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<int>("cell");
    QTest::addColumn<int>("block");
    QTest::addColumn<QColor>("colour");

    const QColor grey(Qt::lightGray);
    const QColor green(Qt::darkGreen);
    const QColor red(Qt::darkRed);
    const QList<int> states{1, 2, 0, 1};
    QTest::newRow("good") << states << 10 << 0 << green;
    QTest::newRow("bad") << states << 10 << 1 << red;
    QTest::newRow("unknown") << states << 10 << 2 << grey;
    QTest::newRow("after the set states") << states << 10 << 30 << grey;
    QTest::newRow("second row") << QList<int>(19, 0) + QList<int>{2} << 10 << 19 << red;
    QTest::newRow("large cell") << QList<int>(10, 0) + QList<int>{1} << 20 << 10 << green;
    QTest::newRow("3 keeps the bad fill") << QList<int>{2, 3} << 10 << 1 << red;
    QTest::newRow("-1 keeps the good fill") << QList<int>{1, -1} << 10 << 1 << green;
    QTest::newRow("the fill goes on past several") << QList<int>{0, 7, 9, 100} << 10 << 3 << grey;
    QTest::newRow("nothing to keep: the ground shows")
        << QList<int>{5} << 10 << 0 << QColor(Qt::white);
}

void TestBadBlockMap::cellColours()
{
    QFETCH(QList<int>, states);
    QFETCH(int, cell);
    QFETCH(int, block);
    MapRig rig(100);
    QVERIFY(rig.ok);
    for (int i = 0; i < states.size(); ++i)
        rig.table->setState(quint32(i), states[i]);
    rig.view.setCellSize(cell);
    QCOMPARE(rig.view.cellSize(), cell);
    QTEST(rig.cellColour(block), "colour");

    // Cells are outlined in black on a white ground.
    const QImage image = rig.view.viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::black));
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
}

void TestBadBlockMap::scrollBarOnlyWhenNeeded_data()
{
    QTest::addColumn<quint32>("blocks");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("shownWithOne");

    QTest::newRow("a few blocks") << 10u << QSize(250, 121) << false << false;
    QTest::newRow("no blocks") << 0u << QSize(250, 121) << false << false;
    QTest::newRow("many blocks") << 5000u << QSize(250, 121) << true << false;
    QTest::newRow("many blocks in a tall view") << 5000u << QSize(250, 4000) << false << false;
    // 190 fit at 250 px; a bar would take the width of one column.
    QTest::newRow("exactly a screenful") << 190u << QSize(250, 121) << false << false;
    QTest::newRow("one more than a screenful") << 191u << QSize(250, 121) << true << false;
    // No row fits: even one block scrolls.
    QTest::newRow("tiny view") << 3u << QSize(2, 2) << true << true;
}

void TestBadBlockMap::scrollBarOnlyWhenNeeded()
{
    QFETCH(quint32, blocks);
    QFETCH(QSize, size);
    MapRig rig(blocks, size);
    QVERIFY(rig.ok);
    const BadBlockMapLayout &layout = rig.view.layout();
    const QScrollBar *bar = rig.view.verticalScrollBar();
    QTEST(bar->isVisible(), "shown");
    QCOMPARE(bar->isVisible(), layout.scrollRows() > 0);
    // The layout follows the viewport the bar left.
    QCOMPARE(layout.cellsPerRow(), std::max((rig.view.viewport()->width() - 21) / 12, 1));
    QCOMPARE(bar->maximum(), layout.scrollRows());
    QCOMPARE(bar->pageStep(), layout.visibleRows());

    // A table of one block set anew, with the map scrolled down.
    rig.view.setFirstRow(IntMax);
    const auto small = makeTable(1);
    rig.view.setTable(small.get());
    QTEST(bar->isVisible(), "shownWithOne");
    QCOMPARE(rig.view.firstRow(), rig.view.layout().scrollRows());
}

void TestBadBlockMap::scrolling()
{
    MapRig rig(5000);
    QVERIFY(rig.ok);
    const int perRow = rig.view.layout().cellsPerRow();
    const int top = rig.view.layout().scrollRows();
    QVERIFY(top > 10);

    rig.table->setState(quint32(3 * perRow), BadBlockTable::Bad);
    rig.view.setFirstRow(3);
    QCOMPARE(rig.view.verticalScrollBar()->value(), 3);
    QCOMPARE(rig.cellColour(0), QColor(Qt::darkRed));

    rig.view.verticalScrollBar()->setValue(5);
    QCOMPARE(rig.view.firstRow(), 5);

    rig.view.setFirstRow(top + 100);
    QCOMPARE(rig.view.firstRow(), top);

    // One notch down scrolls the platform's lines, in rows.
    rig.view.setFirstRow(0);
    const QPointF inside(20, 20);
    QWheelEvent wheel(inside, rig.view.viewport()->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.view.viewport(), &wheel);
    const int step = std::min(QApplication::wheelScrollLines(), rig.view.layout().visibleRows());
    QCOMPARE(rig.view.firstRow(), step);

    // A click lands on the scrolled rows.
    QSignalSpy clicked(&rig.view, &BadBlockMapView::blockClicked);
    QTest::mousePress(rig.view.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.at(0).at(0).value<quint32>(), quint32(step * perRow));
}

void TestBadBlockMap::statesRepaintOnRefresh()
{
    MapRig rig(100);
    QVERIFY(rig.ok);
    QCOMPARE(rig.cellColour(5), QColor(Qt::lightGray));
    rig.table->setState(5, BadBlockTable::Bad);
    rig.view.refresh();
    QCOMPARE(rig.cellColour(5), QColor(Qt::darkRed));
    rig.table->clear();
    rig.view.refresh();
    QCOMPARE(rig.cellColour(5), QColor(Qt::lightGray));
}

void TestBadBlockMap::clickEmitsBlock_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<qint64>("block");

    // 40 blocks, 19 a row: the last row holds 38 and 39.
    QTest::newRow("first block") << QPoint(5, 5) << Qt::LeftButton << qint64(0);
    QTest::newRow("right button") << QPoint(13 + 12, 5) << Qt::RightButton << qint64(2);
    QTest::newRow("last block") << QPoint(13, 2 * 12 + 5) << Qt::LeftButton << qint64(39);
    QTest::newRow("after the last block")
        << QPoint(2 * 12 + 5, 2 * 12 + 5) << Qt::LeftButton << qint64(-1);
    QTest::newRow("last column below the last block")
        << QPoint(18 * 12 + 5, 2 * 12 + 5) << Qt::LeftButton << qint64(-1);
    QTest::newRow("right of the columns") << QPoint(19 * 12 + 5, 5) << Qt::LeftButton << qint64(-1);
}

void TestBadBlockMap::clickEmitsBlock()
{
    QFETCH(QPoint, point);
    QFETCH(Qt::MouseButton, button);
    QFETCH(qint64, block);
    MapRig rig(40);
    QVERIFY(rig.ok);
    QCOMPARE(rig.view.layout().cellsPerRow(), 19);
    QSignalSpy clicked(&rig.view, &BadBlockMapView::blockClicked);
    QTest::mousePress(rig.view.viewport(), button, {}, point);
    if (block < 0) {
        QCOMPARE(clicked.size(), 0);
        return;
    }
    QCOMPARE(clicked.size(), 1);
    QCOMPARE(clicked.at(0).at(0).value<quint32>(), quint32(block));
    QCOMPARE(clicked.at(0).at(1).value<Qt::MouseButton>(), button);
}

void TestBadBlockMap::nullTableShowsGround()
{
    BadBlockMapView view;
    view.resize(250, 121);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(!view.verticalScrollBar()->isVisible());
    const QImage image = view.viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(6, 6), QColor(Qt::white));
    QSignalSpy clicked(&view, &BadBlockMapView::blockClicked);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicked.size(), 0);

    // A table set and taken away again.
    const auto table = makeTable(5000);
    view.setTable(table.get());
    QVERIFY(view.verticalScrollBar()->isVisible());
    view.setFirstRow(10);
    view.setTable(nullptr);
    QVERIFY(!view.verticalScrollBar()->isVisible());
    QCOMPARE(view.firstRow(), 0);
    QCOMPARE(view.viewport()->grab().toImage().pixelColor(6, 6), QColor(Qt::white));
}

KORVANE_TEST_MAIN_WITH(QApplication, TestBadBlockMap)
#include "tst_bad_block_map.moc"
