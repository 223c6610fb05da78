#include "ScreenshotScene.h"

#include "BadBlockTab.h"
#include "DeviceSelectDialog.h"
#include "HexView.h"
#include "MainWindow.h"
#include "NandDetection.h"
#include "NandEngine.h"
#include "NandPanel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>

#include <algorithm>

namespace {

// K9F1G08U0B as the emulator keeps it: data and spare of every page.
constexpr int PageData = 2048;
constexpr int PageSpare = 64;
constexpr int PagesPerBlock = 64;
constexpr int BlockBytes = (PageData + PageSpare) * PagesPerBlock;
// The factory bad blocks of the first chip in nand-smart-copy.ini: their
// marks stay.
constexpr int SourceBadBlocks[] = {3, 9};
constexpr int SourceErasedBlocks[] = {7, 8};
constexpr int NandBlocks = 16;
constexpr int SpiBytes = 0x10000;

const char Prose[] = "Korvane reads, verifies, blank checks, erases and programs NAND and serial "
                     "flash chips through a USB programmer. A NAND image keeps the spare area of "
                     "every page beside its data, so a clone carries the bad-block marks, ECC and "
                     "file system tags of the source chip. Smart copy lays the source blocks onto "
                     "the good blocks of the target and leaves its factory bad blocks alone. ";

// `size` bytes of text: a 16-character title, then the prose from `from` on,
// so each row of the hex view reads as a line of text.
QByteArray text(const QByteArray &title, int size, int from)
{
    QByteArray bytes = title.leftJustified(16, ' ', true);
    const int proseLength = int(sizeof(Prose)) - 1;
    for (int i = 0; bytes.size() < size; ++i)
        bytes += Prose[(from + i) % proseLength];
    bytes.truncate(size);
    return bytes;
}

QByteArray nandBlock(int block)
{
    QByteArray bytes;
    bytes.reserve(BlockBytes);
    for (int page = 0; page < PagesPerBlock; ++page) {
        bytes += text(QString::asprintf("block %02d page %02d", block, page).toLatin1(), PageData,
                      (block * PagesPerBlock + page) * 37);
        bytes += QByteArray(PageSpare, char(0xFF));
    }
    return bytes;
}

QByteArray spiImage()
{
    QByteArray bytes;
    for (int sector = 0; bytes.size() < SpiBytes; ++sector)
        bytes +=
            text(QString::asprintf("sector %04X     ", sector).toLatin1(), 0x1000, sector * 53);
    return bytes;
}

bool contains(const int (&list)[2], int value)
{
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

} // namespace

QList<ScreenshotScene::Kind> ScreenshotScene::kinds()
{
    return {NandHex, NandBadBlocks, SpiRead, DeviceSelection};
}

QString ScreenshotScene::fileName(Kind kind)
{
    switch (kind) {
    case NandHex:
        return QStringLiteral("nand-hex.png");
    case NandBadBlocks:
        return QStringLiteral("nand-bad-blocks.png");
    case SpiRead:
        return QStringLiteral("spi-read.png");
    case DeviceSelection:
        return QStringLiteral("device-selection.png");
    }
    return QString();
}

ScreenshotScene::ScreenshotScene() = default;

ScreenshotScene::~ScreenshotScene()
{
    finish();
}

bool ScreenshotScene::loadEmulator()
{
    if (m_session.load())
        return true;
    return fail(QStringLiteral("no emulated programmer at %1/dll/libkvusb.so")
                    .arg(QCoreApplication::applicationDirPath()));
}

MainWindow *ScreenshotScene::window() const
{
    return m_session.window.get();
}

QWidget *ScreenshotScene::subject() const
{
    if (m_dialog)
        return m_dialog.get();
    return window();
}

QImage ScreenshotScene::picture() const
{
    QWidget *shown = subject();
    return shown ? shown->grab().toImage() : QImage();
}

bool ScreenshotScene::stage(Kind kind)
{
    finish();
    m_error.clear();
    m_session.begin();
    m_files = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                              QStringLiteral("/korvane-screenshots-XXXXXX"));
    NandDetection::resetProgramState();
    bool staged = false;
    switch (kind) {
    case NandHex:
        staged = stageNandHex();
        break;
    case NandBadBlocks:
        staged = stageNandBadBlocks();
        break;
    case SpiRead:
        staged = stageSpiRead();
        break;
    case DeviceSelection:
        staged = stageDeviceSelection();
        break;
    }
    if (staged)
        settle();
    return staged;
}

void ScreenshotScene::finish()
{
    m_dialog.reset();
    m_session.end();
    m_files.reset();
}

bool ScreenshotScene::fail(const QString &why)
{
    m_error = why;
    if (window())
        m_error += QStringLiteral("\nmessage log:\n") + window()->logText();
    return false;
}

// The programmer from the profile, the window with `target` at its size.
bool ScreenshotScene::open(const char *profileFile, const QString &target)
{
    QFile file(QStringLiteral(KVEMU_PROFILES "/") + QLatin1String(profileFile));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read the profile %1").arg(file.fileName()));
    std::string profile = file.readAll().toStdString();
    // No waits for chip timing: the pictures show the end of each job.
    const std::string section = "[programmer]\n";
    const std::size_t at = profile.find(section);
    if (at == std::string::npos)
        profile.insert(0, section + "timing = instant\n");
    else if (profile.find("timing =") == std::string::npos)
        profile.insert(at + section.size(), "timing = instant\n");
    if (!m_session.start(profile, target))
        return fail(QStringLiteral("the programmer of %1 did not come up").arg(profileFile));
    MainWindow *shown = window();
    shown->move(0, 0);
    shown->resize(windowSize());
    shown->show();
    if (!QTest::qWaitForWindowExposed(shown))
        return fail(QStringLiteral("the window was not shown"));
    // A NAND read asks where its image goes.
    const QString images = m_files->filePath(QStringLiteral("images"));
    if (!QDir().mkpath(images))
        return fail(QStringLiteral("cannot make %1").arg(images));
    m_session.questions.saveAnswer = images + QLatin1Char('/') + target + QStringLiteral(".bin");
    return true;
}

bool ScreenshotScene::run(const QString &line)
{
    if (m_session.job(line, 60000))
        return true;
    return fail(QStringLiteral("the job \"%1\" did not end well").arg(line));
}

bool ScreenshotScene::setNandWindow(int startBlock, int blockCount)
{
    auto *engine = qobject_cast<NandEngine *>(window()->engine());
    auto *panel = engine ? qobject_cast<NandPanel *>(engine->toolWidget()) : nullptr;
    if (!panel)
        return fail(QStringLiteral("no NAND engine"));
    panel->startEdit()->setText(QString::number(startBlock));
    panel->countEdit()->setText(QString::number(blockCount));
    return true;
}

// Text in the source chip's blocks, except its bad and erased ones.
bool ScreenshotScene::fillNandSource(int blockCount)
{
    for (int block = 0; block < blockCount; ++block) {
        if (contains(SourceBadBlocks, block) || contains(SourceErasedBlocks, block))
            continue;
        if (!m_session.emulator.writeChip(0, quint64(block) * BlockBytes, nandBlock(block)))
            return fail(QStringLiteral("cannot fill NAND block %1").arg(block));
    }
    return true;
}

bool ScreenshotScene::readNandSource()
{
    return open("nand-smart-copy.ini", QStringLiteral("K9F1G08U0B")) &&
           fillNandSource(NandBlocks) && setNandWindow(0, NandBlocks) &&
           run(QStringLiteral("read"));
}

bool ScreenshotScene::showFirstMemoryView()
{
    const QList<HexView *> views = window()->memoryViews();
    if (views.isEmpty())
        return fail(QStringLiteral("no memory view"));
    window()->tabs()->setCurrentWidget(views.first());
    return true;
}

bool ScreenshotScene::stageNandHex()
{
    return readNandSource() && showFirstMemoryView();
}

bool ScreenshotScene::stageNandBadBlocks()
{
    if (!readNandSource())
        return false;
    // The second chip into the socket: the programmer re-initialises, and
    // nothing of the new connection (its adapter check last) may interleave
    // with the erase.
    DropInEmulator &emulator = m_session.emulator;
    emulator.clearLog();
    window()->issueCommand(QStringLiteral("initusb"));
    const auto back = [&] {
        const QString log = emulator.commandLog();
        const qsizetype socket = log.indexOf(QStringLiteral("SOCKET second"));
        return socket >= 0 && log.indexOf(QStringLiteral("CMD 10 "), socket) > socket &&
               window()->programmerConnected();
    };
    if (!QTest::qWaitFor(back, 8000))
        return fail(QStringLiteral("the second chip did not come up"));
    QTest::qWait(50);
    if (!run(QStringLiteral("erase")) || !run(QStringLiteral("smtcpy")))
        return false;
    QWidget *page = window()->badBlockTab()->page();
    if (!page)
        return fail(QStringLiteral("no \"BadBlock\" tab"));
    window()->tabs()->setCurrentWidget(page);
    return true;
}

bool ScreenshotScene::stageSpiRead()
{
    if (!open("spi-w25q64fv.ini", QStringLiteral("W25Q64FV")))
        return false;
    if (!m_session.emulator.writeChip(0, 0, spiImage()))
        return fail(QStringLiteral("cannot fill the SPI chip"));
    return run(QStringLiteral("read 0 %1").arg(SpiBytes, 0, 16)) && showFirstMemoryView();
}

bool ScreenshotScene::stageDeviceSelection()
{
    if (!open("spi-w25q64fv.ini", QStringLiteral("W25Q64FV")))
        return false;
    MainWindow *owner = window();
    m_dialog = std::make_unique<DeviceSelectDialog>(owner->catalogue(), owner->highDpi(), owner);
    m_dialog->move(0, 0);
    m_dialog->show();
    if (!QTest::qWaitForWindowExposed(m_dialog.get()))
        return fail(QStringLiteral("the device selection dialog was not shown"));
    m_dialog->searchEdit()->setFocus();
    QTest::keyClicks(m_dialog->searchEdit(), search());
    // The window's own chip picked from the list.
    QListWidget *devices = m_dialog->deviceList();
    const QList<QListWidgetItem *> found =
        devices->findItems(window()->targetName(), Qt::MatchExactly);
    if (found.isEmpty())
        return fail(QStringLiteral("the search does not list %1").arg(window()->targetName()));
    devices->scrollToItem(found.first());
    QTest::mouseClick(devices->viewport(), Qt::LeftButton, {},
                      devices->visualItemRect(found.first()).center());
    return true;
}

// Lets queued repaints, the status bar and the cursor's blink come to rest.
void ScreenshotScene::settle()
{
    QTest::qWait(300);
    QApplication::processEvents();
}
