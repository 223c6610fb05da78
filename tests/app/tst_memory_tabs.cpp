#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "DropInEmulator.h"
#include "FolderListing.h"
#include "HexView.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "WorkingFolderPanel.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The memory tabs of the real main window: one hex view per node of the
// selected target's engine, files opened from the panel or dropped onto a
// view, saved back, and addresses made visible.
namespace {

const QString Nand = QStringLiteral("K9F1G08U0B");
const QString Spi = QStringLiteral("W25Q64FV");

QStringList tabTexts(const QTabWidget *tabs)
{
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 3) & 0xFF);
    return bytes;
}

} // namespace

class TestMemoryTabs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneTabPerNode_data();
    void oneTabPerNode();
    void switchingTargetReplacesTheViews();
    void openFromThePanelShowsTheImage();
    void dropFromThePanelLoadsTheFile();
    void saveWritesTheCurrentTab();
    void makeAddressVisibleBringsTheTabToFront();
    void lockedBufferRefusesTargetChange();

private:
    std::unique_ptr<MainWindow> start(const QString &target);

    DropInEmulator m_emulator;
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    ScriptedQuestions m_questions;
    QTemporaryDir m_files;
};

void TestMemoryTabs::initTestCase()
{
    QVERIFY(m_emulator.load());
    QVERIFY(m_emulator.configure("[programmer]\nfirmware = SPI image 0\n"
                                 "identification = 0x4B560200\n"
                                 "[chip]\nfamily = spi\nid = EF 40 17\nsize = 8M\n"));
}

void TestMemoryTabs::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    m_questions = ScriptedQuestions();
}

void TestMemoryTabs::cleanup()
{
    m_objects.reset();
    m_home.reset();
}

std::unique_ptr<MainWindow> TestMemoryTabs::start(const QString &target)
{
    settings().setString(Settings::TestName, target);
    auto window = std::make_unique<MainWindow>(&m_questions);
    window->resize(900, 600);
    window->show();
    return window;
}

void TestMemoryTabs::oneTabPerNode_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("tabs");
    // A NAND engine's bad-block maps follow its memory tabs.
    QTest::newRow("NAND") << Nand << QStringList{"Message Log", "Nand", "Target", "BadBlock"};
    QTest::newRow("SPI") << Spi << QStringList{"Message Log", "SPI"};
}

void TestMemoryTabs::oneTabPerNode()
{
    QFETCH(QString, target);
    QFETCH(QStringList, tabs);
    auto window = start(target);
    QCOMPARE(tabTexts(window->tabs()), tabs);
    const QList<HexView *> views = window->memoryViews();
    QCOMPARE(views.size(), tabs.size() - 1 - int(tabs.contains(QStringLiteral("BadBlock"))));
    for (int i = 0; i < views.size(); ++i)
        QCOMPARE(views[i]->node(), window->engine()->memoryNode(i));
}

void TestMemoryTabs::switchingTargetReplacesTheViews()
{
    auto window = start(Nand);
    QPointer<HexView> old = window->memoryViews().value(0);
    QVERIFY(old);
    QVERIFY(window->selectTarget(Spi));
    QVERIFY(!old);
    QCOMPARE(tabTexts(window->tabs()), (QStringList{"Message Log", "SPI"}));
    // The new view paints the new node.
    window->tabs()->setCurrentIndex(1);
    QVERIFY(!window->memoryViews().value(0)->grab().isNull());
}

void TestMemoryTabs::openFromThePanelShowsTheImage()
{
    auto window = start(Spi);
    const QString path = m_files.filePath(QStringLiteral("image.bin"));
    TestFiles::write(path, pattern(4096));
    emit window->folderPanel()->fileOpened(path);
    CMemoryNode *node = window->engine()->memoryNode(0);
    QByteArray bytes(4096, '\0');
    node->Read(0, reinterpret_cast<quint8 *>(bytes.data()), 4096);
    QCOMPARE(bytes, pattern(4096));
    QCOMPARE(settings().list(Settings::RecentFileList).value(0), path);
}

void TestMemoryTabs::dropFromThePanelLoadsTheFile()
{
    auto window = start(Spi);
    const QString path = m_files.filePath(QStringLiteral("dropped.bin"));
    TestFiles::write(path, pattern(300));
    HexView *view = window->memoryViews().value(0);
    QVERIFY(view);
    window->tabs()->setCurrentWidget(view);
    const std::unique_ptr<QMimeData> data = FolderListing::dragData(path);
    QVERIFY(data);
    const QPointF at(view->viewport()->width() / 2.0, view->viewport()->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    QByteArray bytes(300, '\0');
    window->engine()->memoryNode(0)->Read(0, reinterpret_cast<quint8 *>(bytes.data()), 300);
    QCOMPARE(bytes, pattern(300));
    QCOMPARE(settings().list(Settings::RecentFileList).value(0), path);
}

void TestMemoryTabs::saveWritesTheCurrentTab()
{
    auto window = start(Spi);
    CMemoryNode *node = window->engine()->memoryNode(0);
    const QByteArray bytes = pattern(64);
    node->Write(reinterpret_cast<const quint8 *>(bytes.constData()), 16, 64);
    window->tabs()->setCurrentWidget(window->memoryViews().value(0));
    const QString path = m_files.filePath(QStringLiteral("saved.bin"));
    m_questions.saveAnswer = path;
    window->actions().save->trigger();
    const QByteArray saved = TestFiles::read(path);
    QCOMPARE(quint64(saved.size()), node->GetSize());
    QCOMPARE(saved.mid(16, 64), bytes);
    QCOMPARE(saved.at(0), char(0xFF));
}

void TestMemoryTabs::makeAddressVisibleBringsTheTabToFront()
{
    auto window = start(Spi);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->tabs()->setCurrentIndex(0);
    QVERIFY(window->makeAddressVisible(0x400000));
    HexView *view = window->memoryViews().value(0);
    QCOMPARE(window->tabs()->currentWidget(), view);
    const quint64 row = 0x400000 / 16;
    const quint64 first = quint64(view->verticalScrollBar()->value());
    QVERIFY2(first <= row && row < first + quint64(qMax(1, view->verticalScrollBar()->pageStep())),
             qPrintable(QString::number(first)));
    // Outside every node: nothing moves.
    window->tabs()->setCurrentIndex(0);
    QVERIFY(!window->makeAddressVisible(0x800000));
    QCOMPARE(window->tabs()->currentIndex(), 0);
}

void TestMemoryTabs::lockedBufferRefusesTargetChange()
{
    auto window = start(Spi);
    CMemoryNode *node = window->engine()->memoryNode(0);
    QVERIFY(node->TryLock());
    QVERIFY(!window->selectTarget(Nand));
    window->actions().selectDevice->trigger();
    node->Unlock();
    QCOMPARE(window->targetName(), Spi);
    QCOMPARE(window->logText().split(QLatin1Char('\n')).count(QStringLiteral("Busy")), 2);
    QVERIFY(m_questions.asked.isEmpty());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestMemoryTabs)
#include "tst_memory_tabs.moc"
