#include "FileListState.h"
#include "FileListView.h"
#include "FolderListing.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestHome.h"
#include "WorkingFolderLayout.h"
#include "WorkingFolderPanel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Also notes where the folder chooser starts.
class FolderQuestions : public ScriptedQuestions
{
public:
    QString start;
    QString chooseFolder(const QString &title, const QString &from) override
    {
        start = from;
        return ScriptedQuestions::chooseFolder(title, from);
    }
};

void makeFile(const QString &path, qint64 size = 0)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size)); // sparse: no disk used for large sizes
}

// `count` files f00.bin, f01.bin, ... in `dir`.
void makeFiles(const QTemporaryDir &dir, int count)
{
    for (int i = 0; i < count; ++i)
        makeFile(dir.filePath(QStringLiteral("f%1.bin").arg(i, 2, 10, QLatin1Char('0'))));
}

// A shown list of `dir`, sized so that exactly `rows` rows fit.
void showWithRows(FileListView &view, const QString &dir, int rows)
{
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setFolder(dir);
    const int frame = view.height() - view.viewport()->height();
    view.resize(200, rows * view.state().lineHeight() + 2 + frame);
    QCOMPARE(view.state().visibleRows(), rows);
}

int rowY(const FileListView &view, int row)
{
    return row * view.state().lineHeight() + view.state().lineHeight() / 2;
}

void sendMouse(QWidget *widget, QEvent::Type type, int y, Qt::MouseButtons held, quint64 time)
{
    const QPointF pos(20, y);
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), Qt::LeftButton, held, Qt::NoModifier);
    event.setTimestamp(time);
    QApplication::sendEvent(widget, &event);
}

// The sequence a quick double-click delivers: press, release, press, double-click, release.
void realDoubleClick(FileListView &view, int y)
{
    static quint64 time = 1'000'000'000;
    time += 10'000;
    QWidget *target = view.viewport();
    sendMouse(target, QEvent::MouseButtonPress, y, Qt::LeftButton, time);
    sendMouse(target, QEvent::MouseButtonRelease, y, Qt::NoButton, time + 40);
    sendMouse(target, QEvent::MouseButtonPress, y, Qt::LeftButton, time + 120);
    sendMouse(target, QEvent::MouseButtonDblClick, y, Qt::LeftButton, time + 120);
    sendMouse(target, QEvent::MouseButtonRelease, y, Qt::NoButton, time + 160);
}
} // namespace

class TestWorkingFolderPanel : public QObject
{
    Q_OBJECT
private slots:
    void sizeText_data();
    void sizeText();
    void informationLineForFile_data();
    void informationLineForFile();
    void listingHasFilesOnlyInNameOrder();
    void missingFolderListsNothing();
    void displayName_data();
    void displayName();
    void keys_data();
    void keys();
    void pagingAndEndThroughTheList();
    void selectedRowIsPainted();
    void clickSelectsThenOpens();
    void clickBelowLastEntryDoesNothing();
    void doubleClickOpensOnce_data();
    void doubleClickOpensOnce();
    void resizeReturnsSelectionToTop();
    void dragData();
    void browse_data();
    void browse();
    void layout_data();
    void layout();
};

void TestWorkingFolderPanel::sizeText_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << qint64(0) << " 1KB   ";
    QTest::newRow("1023") << qint64(1023) << " 1KB   ";
    QTest::newRow("1024") << qint64(1024) << " 1KB   ";
    QTest::newRow("1025") << qint64(1025) << " 2KB   ";
    QTest::newRow("1048575") << qint64(1048575) << " 1024KB   ";
    QTest::newRow("1048576") << qint64(1048576) << " 1MB   ";
    QTest::newRow("1048577") << qint64(1048577) << " 1MB   ";
    QTest::newRow("above 4 GiB") << (qint64(5) << 30) + 1 << " 5120MB   ";
    QTest::newRow("largest") << std::numeric_limits<qint64>::max() << " 8796093022208MB   ";
}

void TestWorkingFolderPanel::sizeText()
{
    QFETCH(qint64, size);
    QFETCH(QString, text);
    QCOMPARE(FolderListing::sizeText(size), text);
}

void TestWorkingFolderPanel::informationLineForFile_data()
{
    // The size rules are in sizeText; these check the real file's size and date.
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("1024") << qint64(1024) << " 1KB   ";
    QTest::newRow("1048576") << qint64(1048576) << " 1MB   ";
    QTest::newRow("above 4 GiB") << (qint64(5) << 30) << " 5120MB   ";
}

void TestWorkingFolderPanel::informationLineForFile()
{
    QFETCH(qint64, size);
    QFETCH(QString, sizeText);
    QTemporaryDir dir;
    makeFile(dir.filePath(QStringLiteral("image.bin")), size);
    WorkingFolderPanel panel(nullptr, false);
    panel.show();
    panel.setFolder(dir.path());
    const QFileInfo file(dir.filePath(QStringLiteral("image.bin")));
    QCOMPARE(panel.informationEdit()->text(),
             sizeText + QLocale().toString(file.lastModified(), QLocale::ShortFormat));
}

void TestWorkingFolderPanel::listingHasFilesOnlyInNameOrder()
{
    QTemporaryDir dir;
    makeFile(dir.filePath(QStringLiteral("c.bin")));
    makeFile(dir.filePath(QStringLiteral("B.bin")));
    makeFile(dir.filePath(QStringLiteral("a.bin")));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("directory")));
    QVERIFY(
        QFile::link(dir.filePath(QStringLiteral("a.bin")), dir.filePath(QStringLiteral("link"))));
    QStringList names;
    for (const QFileInfo &file : FolderListing::files(dir.path() + QLatin1Char('/')))
        names << file.fileName();
    QCOMPARE(names, (QStringList{"a.bin", "B.bin", "c.bin"}));
}

void TestWorkingFolderPanel::missingFolderListsNothing()
{
    QTemporaryDir dir;
    makeFile(dir.filePath(QStringLiteral("a.bin")), 10);
    WorkingFolderPanel panel(nullptr, false);
    panel.show();
    panel.setFolder(dir.path());
    const QString information = panel.informationEdit()->text();
    QVERIFY(!information.isEmpty());

    panel.setFolder(dir.filePath(QStringLiteral("gone/")));
    QCOMPARE(panel.fileList()->entries().size(), 0);
    QCOMPARE(panel.folderNameEdit()->text(), QStringLiteral("gone"));
    QCOMPARE(panel.informationEdit()->text(), information); // keeps its last text
    QVERIFY(!panel.fileList()->dragData());
    QSignalSpy opened(&panel, &WorkingFolderPanel::fileOpened);
    QTest::mouseClick(panel.fileList()->viewport(), Qt::LeftButton, {}, QPoint(10, 3));
    QTest::mouseDClick(panel.fileList()->viewport(), Qt::LeftButton, {}, QPoint(10, 3));
    QCOMPARE(opened.count(), 0);

    // No folder at all is not the current directory.
    const QString current = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const bool emptyPathListsNothing = FolderListing::files(QString()).isEmpty();
    QDir::setCurrent(current);
    QVERIFY(emptyPathListsNothing);
}

void TestWorkingFolderPanel::displayName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("trailing slash") << "/home/user/images/"
                                    << "images";
    QTest::newRow("no trailing slash") << "/home/user/images"
                                       << "images";
    QTest::newRow("no slash") << "images"
                              << "images";
    QTest::newRow("root") << "/"
                          << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestWorkingFolderPanel::displayName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(FolderListing::displayName(path), name);
}

void TestWorkingFolderPanel::keys_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("selected");

    const int home = Qt::Key_Home, end = Qt::Key_End, up = Qt::Key_Up, down = Qt::Key_Down;
    const int pageUp = Qt::Key_PageUp, pageDown = Qt::Key_PageDown;
    // 10 rows visible throughout.
    QTest::newRow("page down from the top") << 30 << QList{pageDown} << 10 << 0;
    QTest::newRow("end scrolls, keeps the row") << 30 << QList{pageDown, end} << 20 << 0;
    QTest::newRow("second end selects the last") << 30 << QList{pageDown, end, end} << 20 << 9;
    QTest::newRow("down on the last entry") << 30 << QList{end, end, down} << 20 << 9;
    QTest::newRow("home") << 30 << QList{end, end, home} << 0 << 0;
    QTest::newRow("page down stops at the end")
        << 30 << QList{pageDown, pageDown, pageDown} << 20 << 0;
    QTest::newRow("page down near the end") << 25 << QList{pageDown, pageDown} << 15 << 0;
    QTest::newRow("page up stops at the top")
        << 25 << QList{pageDown, pageDown, pageUp, pageUp} << 0 << 0;
    QTest::newRow("up at the top") << 30 << QList{up} << 0 << 0;
    QTest::newRow("up on the first row scrolls") << 30 << QList{pageDown, up} << 9 << 0;
    QTest::newRow("down to the last row") << 30 << QList<int>(9, down) << 0 << 9;
    QTest::newRow("down on the last row scrolls") << 30 << QList<int>(10, down) << 1 << 9;
    QTest::newRow("short list: end selects the last") << 5 << QList{end} << 0 << 4;
    QTest::newRow("short list: page down") << 5 << QList{pageDown} << 0 << 0;
    QTest::newRow("short list: down stops") << 5 << QList<int>(8, down) << 0 << 4;
    QTest::newRow("empty list") << 0 << QList{end, down, up, pageDown, pageUp, home} << 0 << 0;
}

void TestWorkingFolderPanel::keys()
{
    QFETCH(int, entries);
    QFETCH(QList<int>, keys);
    QFETCH(int, top);
    QFETCH(int, selected);
    FileListState state;
    state.setMetrics(10 * 16 + 5, 16);
    state.setEntries(entries);
    for (int key : keys)
        QVERIFY(state.key(key));
    QCOMPARE(state.topRow(), top);
    QCOMPARE(state.selectedRow(), selected);
    QVERIFY(state.selectedEntry() < entries);
    QVERIFY(!state.key(Qt::Key_Left));
}

void TestWorkingFolderPanel::pagingAndEndThroughTheList()
{
    QTemporaryDir dir;
    makeFiles(dir, 30);
    FileListView view;
    showWithRows(view, dir.path(), 10);
    QSignalSpy information(&view, &FileListView::informationChanged);
    QScrollBar *bar = view.verticalScrollBar();
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->maximum(), 20);
    QCOMPARE(bar->pageStep(), 10);

    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.state().topRow(), 10);
    QCOMPARE(bar->value(), 10);
    QCOMPARE(view.dragData()->data("FileName"), dir.filePath("f10.bin").toLatin1());
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.state().topRow(), 20);
    QCOMPARE(view.state().selectedRow(), 0);
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.state().selectedEntry(), 29);
    QCOMPARE(information.count(), 3);

    // The scroll bar moves the rows; the selection stays on its row.
    bar->setValue(5);
    QCOMPARE(view.state().topRow(), 5);
    QCOMPARE(view.state().selectedEntry(), 14);

    view.setFolder(dir.filePath(QStringLiteral("gone")));
    QVERIFY(!bar->isVisible());
}

void TestWorkingFolderPanel::selectedRowIsPainted()
{
    QTemporaryDir dir;
    makeFiles(dir, 3);
    FileListView view;
    showWithRows(view, dir.path(), 5);
    QTest::keyClick(&view, Qt::Key_Down);
    const QImage image = view.viewport()->grab().toImage();
    const int x = view.viewport()->width() - 3;
    QCOMPARE(image.pixelColor(x, rowY(view, 0) + 1), QColor(Qt::white));
    QCOMPARE(image.pixelColor(x, rowY(view, 1) + 1), QColor(0, 128, 215));
    QCOMPARE(image.pixelColor(x, rowY(view, 4) + 1), QColor(Qt::white));
}

void TestWorkingFolderPanel::clickSelectsThenOpens()
{
    QTemporaryDir dir;
    makeFiles(dir, 5);
    FileListView view;
    showWithRows(view, dir.path(), 10);
    QSignalSpy opened(&view, &FileListView::fileOpened);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 3)));
    QCOMPARE(view.state().selectedRow(), 3);
    QVERIFY(view.hasFocus());
    QCOMPARE(opened.count(), 0);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 3)));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).toString(), dir.filePath(QStringLiteral("f03.bin")));
    QTest::mouseClick(view.viewport(), Qt::RightButton, {}, QPoint(20, rowY(view, 1)));
    QCOMPARE(view.state().selectedRow(), 3);
}

void TestWorkingFolderPanel::clickBelowLastEntryDoesNothing()
{
    QTemporaryDir dir;
    makeFiles(dir, 5);
    FileListView view;
    showWithRows(view, dir.path(), 10);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 2)));
    QSignalSpy opened(&view, &FileListView::fileOpened);
    QSignalSpy information(&view, &FileListView::informationChanged);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 5)));
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 7)));
    QCOMPARE(view.state().selectedRow(), 2);
    QCOMPARE(opened.count(), 0);
    QCOMPARE(information.count(), 0);
}

void TestWorkingFolderPanel::doubleClickOpensOnce_data()
{
    QTest::addColumn<int>("selectedBefore");
    QTest::newRow("another row selected") << 0;
    QTest::newRow("row already selected") << 2;
}

void TestWorkingFolderPanel::doubleClickOpensOnce()
{
    QFETCH(int, selectedBefore);
    QTemporaryDir dir;
    makeFiles(dir, 5);
    FileListView view;
    showWithRows(view, dir.path(), 10);
    if (selectedBefore != 0)
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 2)));
    QSignalSpy opened(&view, &FileListView::fileOpened);
    realDoubleClick(view, rowY(view, 2));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).toString(), dir.filePath(QStringLiteral("f02.bin")));

    // A double-click event alone (no press before it) selects and opens.
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, rowY(view, 4)));
    QCOMPARE(view.state().selectedRow(), 4);
    QCOMPARE(opened.count(), 2);
}

void TestWorkingFolderPanel::resizeReturnsSelectionToTop()
{
    QTemporaryDir dir;
    makeFiles(dir, 30);
    FileListView view;
    showWithRows(view, dir.path(), 10);
    QTest::keyClick(&view, Qt::Key_End);
    QTest::keyClick(&view, Qt::Key_End);
    view.resize(view.width(), view.height() + 5 * view.state().lineHeight());
    QCOMPARE(view.state().visibleRows(), 15);
    QCOMPARE(view.state().selectedRow(), 0);
    QCOMPARE(view.state().topRow(), 15); // lowered to the new maximum
    QCOMPARE(view.verticalScrollBar()->value(), 15);
    QCOMPARE(view.verticalScrollBar()->pageStep(), 15);
}

void TestWorkingFolderPanel::dragData()
{
    // "/data/dépôt/image.bin" fits Latin-1; "/data/łódź.bin" does not.
    const QByteArray latin1Path("/data/d\xe9p\xf4t/image.bin");
    const std::unique_ptr<QMimeData> data =
        FolderListing::dragData(QString::fromLatin1(latin1Path));
    QVERIFY(data);
    QCOMPARE(data->formats(), QStringList{QStringLiteral("FileName")});
    QCOMPARE(data->data(QStringLiteral("FileName")), latin1Path);
    const QString outsideLatin1 = QStringLiteral("/data/") + QChar(0x142) + QChar(0xf3) +
                                  QLatin1Char('d') + QChar(0x17a) + QStringLiteral(".bin");
    QVERIFY(!FolderListing::dragData(outsideLatin1));
}

void TestWorkingFolderPanel::browse_data()
{
    QTest::addColumn<bool>("choose");
    QTest::newRow("cancelled") << false;
    QTest::newRow("chosen") << true;
}

void TestWorkingFolderPanel::browse()
{
    QFETCH(bool, choose);
    TestHome::Fresh home;
    ProgramObjects objects;
    QTemporaryDir first;
    QTemporaryDir second;
    makeFiles(first, 2);
    makeFiles(second, 3);
    FolderQuestions questions;
    questions.folderAnswer = choose ? second.path() : QString();
    WorkingFolderPanel panel(&questions, false);
    panel.show();
    panel.setFolder(first.path() + QLatin1Char('/'));
    QSignalSpy chosen(&panel, &WorkingFolderPanel::folderChosen);

    QTest::mouseClick(panel.browseButton(), Qt::LeftButton);
    QCOMPARE(questions.asked, QStringList{QStringLiteral("folder Select Script Directory")});
    QCOMPARE(questions.start, first.path() + QLatin1Char('/'));
    const QTemporaryDir &shown = choose ? second : first;
    QCOMPARE(panel.folderNameEdit()->text(), QFileInfo(shown.path()).fileName());
    QCOMPARE(panel.fileList()->entries().size(), choose ? 3 : 2);
    QCOMPARE(chosen.count(), choose ? 1 : 0);
    if (choose)
        QCOMPARE(chosen.at(0).at(0).toString(), second.path() + QLatin1Char('/'));
}

void TestWorkingFolderPanel::layout_data()
{
    QTest::addColumn<bool>("highDpi");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("folderName");
    QTest::addColumn<QRect>("browseButton");
    QTest::addColumn<QRect>("fileList");
    QTest::addColumn<QRect>("information");
    const auto edges = [](int left, int top, int right, int bottom) {
        return QRect(QPoint(left, top), QPoint(right, bottom));
    };
    QTest::newRow("normal") << false << QSize(204, 503) << edges(5, 5, 172, 25)
                            << edges(178, 5, 198, 25) << edges(5, 35, 198, 470)
                            << edges(5, 477, 198, 497);
    QTest::newRow("high DPI") << true << QSize(408, 1006) << edges(10, 10, 345, 51)
                              << edges(356, 10, 397, 51) << edges(10, 75, 397, 946)
                              << edges(5, 954, 392, 995);
    QTest::newRow("too small") << false << QSize(20, 30) << QRect(5, 5, 0, 21)
                               << QRect(-6, 5, 21, 21) << QRect(5, 35, 10, 0)
                               << QRect(5, 4, 10, 21);
}

void TestWorkingFolderPanel::layout()
{
    QFETCH(bool, highDpi);
    QFETCH(QSize, size);
    QFETCH(QRect, folderName);
    QFETCH(QRect, browseButton);
    QFETCH(QRect, fileList);
    QFETCH(QRect, information);
    const WorkingFolderLayout rects = WorkingFolderLayout::forSize(size, highDpi);
    QCOMPARE(rects.folderName, folderName);
    QCOMPARE(rects.browseButton, browseButton);
    QCOMPARE(rects.fileList, fileList);
    QCOMPARE(rects.information, information);

    WorkingFolderPanel panel(nullptr, highDpi);
    QCOMPARE(panel.size(), QSize(204, 503));
    QCOMPARE(panel.frameStyle(), QFrame::Panel | QFrame::Raised);
    panel.resize(size);
    panel.show();
    QCOMPARE(panel.folderNameEdit()->geometry(), folderName);
    QCOMPARE(panel.browseButton()->geometry(), browseButton);
    QCOMPARE(panel.fileList()->geometry(), fileList);
    QCOMPARE(panel.informationEdit()->geometry(), information);
    QCOMPARE(panel.browseButton()->text(), QStringLiteral("..."));
    QVERIFY(panel.folderNameEdit()->isReadOnly());
    QVERIFY(panel.informationEdit()->isReadOnly());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestWorkingFolderPanel)
#include "tst_working_folder_panel.moc"
