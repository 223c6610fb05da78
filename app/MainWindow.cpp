#include "MainWindow.h"

#include "AnswerDispatcher.h"
#include "AnswerKind.h"
#include "ApplicationFolders.h"
#include "BadBlockTab.h"
#include "CDeviceFamily.h"
#include "CDeviceItem.h"
#include "CDeviceItemSPIFlash.h"
#include "CMemoryNode.h"
#include "CatalogueFiles.h"
#include "ChipEngine.h"
#include "CommandConsole.h"
#include "ConsoleFont.h"
#include "ConsoleLineView.h"
#include "DeviceSelection.h"
#include "DialogQuestions.h"
#include "EngineFactory.h"
#include "HexView.h"
#include "LanguageDialog.h"
#include "LanguageFiles.h"
#include "MainActions.h"
#include "MemoryTabs.h"
#include "NandEngine.h"
#include "NandPanel.h"
#include "ProgramObjects.h"
#include "RecentList.h"
#include "SpiEngine.h"
#include "StatusBarWidgets.h"
#include "UiTextId.h"
#include "UnattendedQuestions.h"
#include "UnattendedRun.h"
#include "UsbDriverTable.h"
#include "WindowGeometry.h"
#include "WindowTexts.h"
#include "WorkingFolderPanel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr int SetTargetDelayMs = 10;
constexpr int HighDpiMinimum = 120;
constexpr int HighSpeedPacketSize = 512;
const QString ImageFilter = QStringLiteral("Binary files (*.bin);;All files (*.*)");

} // namespace

MainWindow::MainWindow(QuestionHost *questions, QWidget *parent)
    : QMainWindow(parent), m_target(settings()),
      m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    m_highDpi = screen && screen->logicalDotsPerInchX() >= HighDpiMinimum;
    // Nobody can answer a dialog on the offscreen platform.
    const bool offscreen = QGuiApplication::platformName() == QStringLiteral("offscreen");
    if (!questions && offscreen) {
        m_ownQuestions =
            std::make_unique<UnattendedQuestions>([this](const QString &line) { appendLog(line); });
        questions = m_ownQuestions.get();
    } else if (!questions) {
        m_ownQuestions = std::make_unique<DialogQuestions>(this, m_catalogue, m_highDpi);
        questions = m_ownQuestions.get();
    }
    m_questions = questions;
    m_dispatcher = std::make_unique<AnswerDispatcher>(*this);
    m_console = std::make_unique<CommandConsole>(*this);

    UsbDriverTable::instance().bind();
    // The shipped translations and catalogue, where the user has none.
    LanguageFiles::installShipped();
    CatalogueFiles::installShipped();
    const QString language = settings().string(Settings::LanguageFile);
    if (!language.isEmpty())
        uiText().loadTranslation(language);

    setWindowIcon(QIcon(QStringLiteral(":/images/usbprog.png")));
    m_actions = new MainActions(*this);
    m_target.restore();
    setScriptFolderOverride(m_target.scriptDir);
    // Without a folder of its own or a recent file, the data folder.
    if (m_target.workingFolder.isEmpty()) {
        m_target.workingFolder = applicationFolder(DataFolder);
        QDir().mkpath(m_target.workingFolder);
    }
    buildLayout();
    connectActions();
    m_actions->setRecentFiles(settings().list(Settings::RecentFileList));
    m_actions->setRecentTargets(settings().list(Settings::RecentTargetList));
    restoreWindowGeometry();
    setWindowTitle(titleText());
    m_actions->followEngine(false, 0);

    // The window asks nobody and a script runs the job: the run must end.
    if (offscreen && m_target.autoScript && m_questions == m_ownQuestions.get()) {
        m_unattended =
            std::make_unique<UnattendedRun>([this](int exitCode) { quitApplication(exitCode); },
                                            [this](const QString &line) { appendLog(line); });
        m_unattended->start();
    }
    loadCatalogue();
    selectStartTarget();
    if (m_unattended && !m_engine)
        m_unattended->noTarget();

    m_pleaseWait =
        new QMessageBox(QMessageBox::Information, ProgramObjects::productName(),
                        uiText().text(UiTextId::PleaseWait), QMessageBox::NoButton, this);
    m_pleaseWait->setModal(false);
}

MainWindow::~MainWindow()
{
    saveWindowSettings();
    setLogFile(false, QString());
    deleteEngine();
    // The console view works on the console, which goes before the widgets.
    delete m_consoleView;
    m_consoleView = nullptr;
    // The chosen devices point into the catalogue, which goes with the window.
    DeviceSelection::resetChosenDevices();
    delete m_pleaseWait;
    m_pleaseWait = nullptr;
    UsbDriverTable::instance().unbind();
}

// --- construction ---------------------------------------------------------

void MainWindow::buildLayout()
{
    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_log->setFont(consoleFont(m_highDpi));
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(m_log, uiText().text(UiTextId::MessageLog));
    m_memoryTabs = new MemoryTabs(*m_tabs, this);
    m_badBlocks = new BadBlockTab(*m_tabs, this);
    connect(m_badBlocks, &BadBlockTab::addressChosen, this, [this](quint64 address, bool keepMap) {
        statusBar()->showMessage(
            QString::asprintf(" %llX", static_cast<unsigned long long>(address)));
        m_memoryTabs->makeAddressVisible(address, !keepMap);
    });

    m_vertical = new QSplitter(Qt::Vertical, this);
    m_vertical->addWidget(m_tabs);
    m_consoleView = new ConsoleLineView(*m_console, m_vertical);
    m_consoleView->setViewFont(consoleFont(m_highDpi));
    m_vertical->addWidget(m_consoleView);

    m_panel = new WorkingFolderPanel(m_questions, m_highDpi, this);
    m_panel->setFolder(m_target.workingFolder);
    m_horizontal = new QSplitter(Qt::Horizontal, this);
    m_horizontal->addWidget(m_panel);
    m_horizontal->addWidget(m_vertical);
    setCentralWidget(m_horizontal);

    m_status = new StatusBarWidgets(*statusBar());
}

void MainWindow::connectActions()
{
    MainActions &a = *m_actions;
    connect(a.clear, &QAction::triggered, this, [this] {
        issueCommand(QStringLiteral("cls"));
        m_consoleView->clearAction()->trigger();
    });
    connect(a.open, &QAction::triggered, this, [this] { issueCommand(QStringLiteral("load")); });
    connect(a.save, &QAction::triggered, this, &MainWindow::saveCurrentTab);
    connect(a.exit, &QAction::triggered, this, &QWidget::close);
    connect(a.selectDevice, &QAction::triggered, this, &MainWindow::chooseDevice);
    connect(a.detect, &QAction::triggered, this,
            [this] { issueCommand(QStringLiteral("detect")); });
    connect(a.read, &QAction::triggered, this, [this] { issueCommand(QStringLiteral("read ")); });
    connect(a.verify, &QAction::triggered, this,
            [this] { issueCommand(QStringLiteral("verify ")); });
    connect(a.blankCheck, &QAction::triggered, this,
            [this] { issueCommand(QStringLiteral("blkchk ")); });
    connect(a.erase, &QAction::triggered, this,
            [this] { confirmThen(UiTextId::ConfirmErase, QStringLiteral("erase ")); });
    connect(a.write, &QAction::triggered, this,
            [this] { confirmThen(UiTextId::ConfirmProgram, QStringLiteral("program ")); });
    connect(a.smartCopy, &QAction::triggered, this,
            [this] { confirmThen(UiTextId::ConfirmProgram, QStringLiteral("smtcpy")); });
    connect(a.stop, &QAction::triggered, this, &MainWindow::stopOperation);
    connect(a.language, &QAction::triggered, this, &MainWindow::chooseLanguage);
    connect(a.editDeviceFile, &QAction::triggered, this, &MainWindow::editDeviceFile);
    connect(a.multipleReadCorrection, &QAction::triggered, this,
            [this] { issueCommand(QStringLiteral("mfc")); });
    connect(a.saveSourceTable, &QAction::triggered, this, &MainWindow::saveSourceTable);
    connect(a.loadSourceTable, &QAction::triggered, this, &MainWindow::loadSourceTable);
    connect(a.newChip, &QAction::triggered, this, [this] {
        if (!m_engine)
            return;
        m_engine->newChip();
        newChipReset();
    });
    connect(a.configFolder, &QAction::triggered, this, &MainWindow::openConfigFolder);
    a.autoScript->setChecked(m_target.autoScript);
    connect(a.autoScript, &QAction::toggled, this, [this](bool on) {
        m_target.autoScript = on;
        settings().setBoolean(Settings::AutoScript, on);
    });
    connect(a.scriptDirectory, &QAction::triggered, this, [this] {
        const QString folder = m_questions->chooseFolder(
            uiText().text(UiTextId::SelectScriptDirectory), applicationFolder(ScriptFolder));
        if (folder.isEmpty())
            return;
        m_target.scriptDir = folder;
        settings().setString(Settings::ScriptDir, folder);
        setScriptFolderOverride(folder);
    });
    m_scriptTimer.setSingleShot(true);
    connect(&m_scriptTimer, &QTimer::timeout, this, [this] { m_console->WaitElapsed(); });
    connect(a.about, &QAction::triggered, this, [this] { m_questions->showAbout(); });
    connect(a.recentFiles, &QMenu::triggered, this,
            [this](QAction *action) { openFile(action->data().toString()); });
    connect(a.recentTargets, &QMenu::triggered, this,
            [this](QAction *action) { selectTarget(action->data().toString()); });
    for (QAction *flash : {a.newNandFlash, a.newSpiFlash})
        connect(flash, &QAction::triggered, this, [this, flash] { defineNewFlash(flash->text()); });

    connect(m_status->speed, &QSlider::valueChanged, this, &MainWindow::speedChanged);
    connect(m_panel, &WorkingFolderPanel::fileOpened, this, &MainWindow::openFile);
    connect(m_panel, &WorkingFolderPanel::folderChosen, this, &MainWindow::setWorkingFolder);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_tabs->currentWidget() == m_log)
            statusBar()->clearMessage();
    });
}

void MainWindow::restoreWindowGeometry()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const int desktopHeight = screen ? screen->virtualGeometry().height() : 768;
    const int screenWidth = screen ? screen->geometry().width() : 1024;
    const WindowGeometry geometry = WindowGeometry::atStart(
        settings().windowSize(), desktopHeight, screenWidth,
        settings().list(Settings::VerticalSplitter), settings().list(Settings::HorizontalSplitter));
    setGeometry(geometry.frame);
    m_vertical->setSizes(geometry.verticalSizes);
    m_horizontal->setSizes(geometry.horizontalSizes);
}

void MainWindow::saveWindowSettings()
{
    Settings &store = settings();
    store.setList(Settings::VerticalSplitter, WindowGeometry::splitterList(m_vertical->sizes()));
    store.setList(Settings::HorizontalSplitter,
                  WindowGeometry::splitterList(m_horizontal->sizes()));
    store.setWindowSizeIfChanged(size());
    if (!m_target.targetName.isEmpty())
        m_target.save();
}

void MainWindow::loadCatalogue()
{
    m_catalogue.setLog([this](const QString &line) { appendLog(line); });
    m_catalogue.setChooser(
        [this](const QStringList &names) { return m_questions->chooseAmong(names); });
    DeviceSelection::resetChosenDevices();
    m_catalogue.load();
}

void MainWindow::selectStartTarget()
{
    const QString name = m_target.targetName;
    if (!name.isEmpty() && m_catalogue.findByName(name)) {
        selectTarget(name);
        return;
    }
    chooseDevice();
}

// --- targets and engines -----------------------------------------------------

bool MainWindow::bufferBusy()
{
    // NAND operations do not hold the buffer lock: a running operation
    // counts as busy too.
    if (m_progress.running())
        return true;
    if (!m_engine)
        return false;
    if (!m_engine->tryLockBuffer())
        return true;
    m_engine->unlockBuffer();
    return false;
}

bool MainWindow::selectTarget(const QString &name)
{
    if (bufferBusy()) {
        appendLog(uiText().text(UiTextId::Busy));
        return false;
    }
    CDeviceItem *record = m_catalogue.findByName(name);
    if (!record || name.isEmpty()) {
        appendLog(uiText().text(UiTextId::TargetNotExist) + QLatin1Char(' ') + name);
        return false;
    }
    // The console's state belongs to the old engine's commands.
    deleteEngine();
    m_connectedDisplay = false;

    m_status->showUsbState(WindowTexts::NotConnected);

    m_record = record;
    m_target.changeTarget(name);
    setScriptFolderOverride(m_target.scriptDir);
    m_actions->setRecentTargets(
        RecentList::add(settings(), Settings::RecentTargetList, record->name));
    m_panel->setFolder(m_target.workingFolder);
    createEngine(*record);

    setWindowTitle(titleText());
    appendLog(WindowTexts::productLine());
    appendLog(uiText().text(UiTextId::TargetPrefix) + record->displayName());
    m_engine->reportChipEnables();
    return true;
}

void MainWindow::deleteEngine()
{
    if (!m_engine)
        return;
    m_progress.stop();
    m_status->progress->setValue(0);
    // The tool bar's action owns the engine's widget from now on; deleting
    // it here leaves the engine's weak pointer to the widget empty.
    if (m_toolAction) {
        m_actions->engineToolBar->removeAction(m_toolAction);
        delete m_toolAction;
    }
    // The views show the old engine's nodes and tables: they go first.
    m_memoryTabs->removeViews();
    m_badBlocks->remove();
    m_dispatcher->setEngine(nullptr);
    m_console->RegisterCommands(nullptr);
    disconnect(m_engine.get(), nullptr, this, nullptr);
    m_engine.reset();
    // What an engine set up goes with it.
    m_actions->followEngine(false, 0);
}

void MainWindow::createEngine(CDeviceItem &record)
{
    m_engine = EngineFactory::create(record, UsbDriverTable::instance(), settings());
    ChipEngine *engine = m_engine.get();
    engine->setOperationHost(this);
    installNodeHooks();
    m_memoryTabs->addViews(
        *engine, consoleFont(m_highDpi), [this](const QString &path) { rememberFile(path); },
        m_actions->save);
    m_dispatcher->setEngine(engine);
    m_console->RegisterCommands(engine);

    const bool nand = record.kind == CDeviceItem::NandKind;
    m_actions->followEngine(nand, engine->capabilities());

    // The engine emits its signals on the GUI thread, after the worker has
    // handed them over, so these connections run in order and no answer of
    // a deleted engine is left in the event queue.
    connect(engine, &ChipEngine::connectionChanged, this, &MainWindow::connectionChanged);
    connect(engine, &ChipEngine::dataReady, m_dispatcher.get(), &AnswerDispatcher::dispatch);
    connect(engine, &ChipEngine::progress, this, &MainWindow::showWriteProgress);

    if (auto *nandEngine = qobject_cast<NandEngine *>(engine)) {
        engine->setToolWidget(new NandPanel(*nandEngine, m_highDpi));
        m_badBlocks->show(*nandEngine, m_highDpi);
    }
    if (auto *spiEngine = qobject_cast<SpiEngine *>(engine);
        spiEngine && spiEngine->device().io > 1) {
        auto *singleIo = new QCheckBox(QStringLiteral("Single IO"));
        singleIo->setChecked(true);
        connect(singleIo, &QCheckBox::toggled, spiEngine, &SpiEngine::singleIoToggled);
        engine->setToolWidget(singleIo);
    }

    if (QWidget *tool = qobject_cast<QWidget *>(engine->toolWidget())) {
        m_toolAction = m_actions->engineToolBar->addWidget(tool);
        m_actions->engineToolBar->show();
    } else if (!nand) {
        m_actions->engineToolBar->hide();
    } else {
        m_actions->engineToolBar->show();
    }
    engine->start(QThread::InheritPriority);
}

void MainWindow::installNodeHooks()
{
    for (int i = 0; i < 2; ++i) {
        CMemoryNode *node = m_engine->memoryNode(i);
        if (!node)
            continue;
        MemoryNodeHooks hooks;
        hooks.log = [this](const QString &line) { appendLog(line); };
        hooks.contentsChanged = [this](CMemoryNode *changed) { refreshNodeView(changed); };
        hooks.askSaveFileName = [this](const QString &caption, const QString &filter) {
            // Nobody watches an unattended run: a read goes to a new file.
            if (m_unattended) {
                const QString name = unattendedImageName();
                appendLog(caption + QStringLiteral(": ") + name);
                return name;
            }
            return m_questions->chooseSaveFile(caption, m_target.workingFolder, filter);
        };
        hooks.rememberFile = [this](const QString &fileName) { rememberFile(fileName); };
        node->setHooks(std::move(hooks));
    }
}

void MainWindow::setTarget(const QString &name, bool always)
{
    if (name == m_target.targetName && !always)
        return;
    m_pendingTarget = name;
    if (m_engine)
        m_engine->clearQueue();
    QTimer::singleShot(SetTargetDelayMs, this, [this] {
        if (!m_pendingTarget.isEmpty())
            selectTarget(std::exchange(m_pendingTarget, QString()));
    });
}

void MainWindow::chooseDevice()
{
    if (bufferBusy()) {
        appendLog(uiText().text(UiTextId::Busy));
        return;
    }
    const QString name = m_questions->chooseDevice();
    if (!name.isEmpty() && name != m_target.targetName)
        selectTarget(name);
}

void MainWindow::openDeviceDialog()
{
    chooseDevice();
}

// --- connection ----------------------------------------------------------------

void MainWindow::connectionChanged(bool connected)
{
    if (!connected) {
        showDisconnected();
        return;
    }
    const bool highSpeed = m_engine && m_engine->linkPacketSize() == HighSpeedPacketSize;
    m_status->showUsbState(highSpeed ? WindowTexts::HighSpeed : WindowTexts::FullSpeed);
    m_connectedDisplay = true;
    if (!m_engine)
        return;
    m_engine->queryIdentification();
    const int speed =
        std::clamp(m_record ? m_record->speed : int(StatusBarWidgets::SpeedMaximum),
                   int(StatusBarWidgets::SpeedMinimum), int(StatusBarWidgets::SpeedMaximum));
    m_status->setSpeedQuietly(speed);
    m_engine->setSpeed(speed);
    m_engine->initTarget();
}

void MainWindow::showDisconnected()
{
    if (m_unattended && m_connectedDisplay)
        m_unattended->programmerLost();
    m_status->showUsbState(WindowTexts::NotConnected);
    setWindowTitle(titleText());
    // Operations are refused until the programmer is back, and the one that
    // ran has ended with the connection.
    m_connectedDisplay = false;
    if (m_progress.running()) {
        m_progress.stop();
        m_status->progress->setValue(0);
    }
    // A re-initialisation that was asked for is awaited, not failed; an
    // unattended run waits for it as long as for the first connection.
    if (m_jobWhenReady != JobCode::Reconnect)
        jobFailed(0);
    else if (m_unattended)
        m_unattended->start();
}

void MainWindow::programmerReady()
{
    if (m_unattended) {
        m_unattended->programmerReady();
        // A run that has its result only waited to see the programmer back.
        if (m_unattended->ended())
            return;
    }
    // A script that detected this target goes on; it is not started again.
    if (const int job = std::exchange(m_jobWhenReady, 0)) {
        // A re-initialisation ends no operation of the engine.
        if (job == JobCode::Reconnect)
            m_console->ResumeOnJob(job);
        else
            jobEnded(job);
        return;
    }
    runAutoScript();
}

void MainWindow::runAutoScript()
{
    // After every connection: "<target>.usp" from the script folder, when
    // "Auto Script" is on and the file exists.
    if (!m_target.autoScript || m_target.targetName.isEmpty())
        return;
    if (!QFileInfo::exists(CommandConsole::scriptPath(m_target.targetName))) {
        if (m_unattended)
            m_unattended->noScript(CommandConsole::scriptPath(m_target.targetName));
        return;
    }
    m_console->StartScript(m_target.targetName);
}

void MainWindow::adapterFailed()
{
    quitApplication(m_unattended ? UnattendedRun::Failed : 0);
}

void MainWindow::adapterIncompatible()
{
    showWarning(uiText().text(UiTextId::Error), uiText().text(UiTextId::IncompatibleAdapter));
    if (m_unattended) {
        m_unattended->adapterIncompatible();
        return;
    }
    chooseDevice();
}

void MainWindow::speedChanged(int value)
{
    issueCommand(QStringLiteral("speed %1").arg(value));
}

// --- operations ------------------------------------------------------------------

int MainWindow::startOperation(quint64 start, quint64 length, int operation)
{
    if (!programmerConnected() || m_progress.running()) {
        appendLog(uiText().text(UiTextId::Busy));
        return CommandStatus::Failed;
    }
    return m_engine->startRead(start, length, operation);
}

void MainWindow::stopOperation()
{
    m_progress.stop();
    // A script waiting on a job stops with it; the engine lets go of its
    // buffers.
    jobFailed(0);
    if (!m_engine)
        return;
    m_engine->clearQueue();
    m_status->progress->setValue(0);
    m_engine->sendOperationEnd(0);
}

void MainWindow::issueCommand(const QString &line)
{
    emit commandIssued(line);
    // The console echoes the line and runs its command; a line whose
    // command the current engine does not offer is said to be so.
    if (m_console->Dispatch(line) == 0 && !line.trimmed().isEmpty())
        appendLog(uiText().text(UiTextId::BadCommand));
}

void MainWindow::confirmThen(int questionId, const QString &line)
{
    if (m_questions->confirm(uiText().text(UiTextId::WarningTitle), uiText().text(questionId)))
        issueCommand(line);
}

void MainWindow::jobEnded(int job)
{
    if (m_engine)
        m_engine->operationFinished();
    m_panel->refreshInformation();
    m_console->ResumeOnJob(job);
    emit jobEndReported(job);
}

void MainWindow::jobFailed(int job)
{
    if (m_engine)
        m_engine->operationFinished();
    m_panel->refreshInformation();
    m_console->JobFailed(job);
    emit jobFailureReported(job);
}

bool MainWindow::programmerConnected() const
{
    return m_engine && m_connectedDisplay && m_engine->isConnected();
}

void MainWindow::setSpeedDisplay(int step)
{
    m_status->setSpeedQuietly(step);
}

void MainWindow::clearLog()
{
    m_log->clear();
}

void MainWindow::setLogStyleSheet(const QString &styleSheet)
{
    m_log->setStyleSheet(styleSheet);
}

void MainWindow::startWaitTimer(int milliseconds)
{
    m_scriptTimer.start(milliseconds);
}

void MainWindow::stopWaitTimer()
{
    m_scriptTimer.stop();
}

void MainWindow::scriptStopped(ScriptStop how)
{
    if (m_unattended)
        m_unattended->scriptStopped(how);
}

void MainWindow::newChipReset()
{
    // The views of the engine's nodes show what the new chip starts with.
    for (HexView *view : memoryViews())
        refreshNodeView(view->node());
}

// --- progress ----------------------------------------------------------------------

void MainWindow::beginProgress(uint start, uint count)
{
    m_progress.begin(start, count);
    m_status->progress->setRange(0, m_progress.barMaximum());
    m_status->progress->setValue(0);
    m_clock.start();
}

qint64 MainWindow::operationElapsedMs() const
{
    return m_clock.isValid() ? m_clock.elapsed() : 0;
}

void MainWindow::display(const OperationProgress::Update &update)
{
    if (update.setBar)
        m_status->progress->setValue(update.barValue);
    if (!update.status.isEmpty())
        statusBar()->showMessage(update.status);
    if (!update.log.isEmpty())
        appendLog(update.log);
}

void MainWindow::showReadProgress(uint value)
{
    const int packet = m_engine ? m_engine->linkPacketSize() : 0;
    display(m_progress.reached(value, operationElapsedMs(), packet));
}

void MainWindow::showChunkProgress(uint position, uint count, CMemoryNode *node)
{
    const int packet = m_engine ? m_engine->linkPacketSize() : 0;
    const OperationProgress::Update update =
        m_progress.reached(position + count, operationElapsedMs(), packet);
    display(update);
    if (update.setBar || update.ended)
        refreshNodeView(node);
    if (!update.ended)
        return;
    if (m_engine)
        m_engine->postReadStep();
    jobEnded(JobCode::Read);
}

void MainWindow::showVerifyProgress(uint position, uint count, CMemoryNode *node, quint64 address,
                                    const quint8 *chipData, quint64 size,
                                    const BadBlockSkip *badBlocks)
{
    if (!m_progress.running())
        return;
    if (node && !node->Compare(address, size, chipData, badBlocks)) {
        stopOperation();
        return;
    }
    const int packet = m_engine ? m_engine->linkPacketSize() : 0;
    const OperationProgress::Update update =
        m_progress.reached(position + count, operationElapsedMs(), packet);
    display(update);
    if (!update.ended)
        return;
    appendLog(uiText().text(UiTextId::CompareDataOk));
    jobEnded(JobCode::Verify);
}

void MainWindow::showBlankProgress(uint position, uint count, bool blank)
{
    if (!m_progress.running())
        return;
    if (!blank) {
        stopOperation();
        return;
    }
    const int packet = m_engine ? m_engine->linkPacketSize() : 0;
    const OperationProgress::Update update =
        m_progress.reached(position + count, operationElapsedMs(), packet);
    display(update);
    if (!update.ended)
        return;
    appendLog(uiText().text(UiTextId::FlashBlanked));
    jobEnded(JobCode::BlankCheck);
}

void MainWindow::showEraseProgress(uint value)
{
    const OperationProgress::Update update = m_progress.erased(value, operationElapsedMs());
    display(update);
    if (update.ended && (!m_engine || m_engine->postEraseStep()))
        jobEnded(JobCode::Erase);
}

void MainWindow::showWriteProgress(uint a, uint b)
{
    const int packet = m_engine ? m_engine->linkPacketSize() : 0;
    const OperationProgress::Update update = m_progress.written(a, b, operationElapsedMs(), packet);
    display(update);
}

void MainWindow::showTableProgress(uint value, uint maximum)
{
    m_status->progress->setRange(0, int(std::max(maximum, 1u)));
    m_status->progress->setValue(maximum == 0 ? 0 : int(value));
}

void MainWindow::refreshBadBlocks(int which)
{
    m_badBlocks->refresh(which);
}

QList<HexView *> MainWindow::memoryViews() const
{
    return m_memoryTabs->views();
}

void MainWindow::refreshNodeView(CMemoryNode *node)
{
    m_memoryTabs->refresh(node);
}

bool MainWindow::makeAddressVisible(quint64 address)
{
    return m_memoryTabs->makeAddressVisible(address);
}

// --- log -----------------------------------------------------------------------------

void MainWindow::appendLog(const QString &text)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, text] { appendLog(text); }, Qt::QueuedConnection);
        return;
    }
    m_log->appendPlainText(text);
    m_logFile.write(text);
    if (m_unattended) {
        std::fputs(text.toLocal8Bit().append('\n').constData(), stdout);
        std::fflush(stdout);
    }
    if (m_tabs->currentWidget() != m_log)
        statusBar()->showMessage(text);
}

void MainWindow::setLogFile(bool enable, const QString &fileName)
{
    m_logFile.close();
    if (enable && !m_logFile.open(applicationFolder(TempFolder) + fileName))
        appendLog(applicationFolder(TempFolder) + fileName + QLatin1Char(' ') +
                  uiText().text(UiTextId::FileError));
}

QString MainWindow::logText() const
{
    return m_log->toPlainText();
}

// --- files and folders ---------------------------------------------------------

void MainWindow::rememberFile(const QString &path)
{
    m_actions->setRecentFiles(RecentList::add(settings(), Settings::RecentFileList, path));
    const QString folder = RecentList::folderOf(path);
    if (!folder.isEmpty())
        setWorkingFolder(folder + QLatin1Char('/'));
}

void MainWindow::setWorkingFolder(const QString &folder)
{
    m_target.workingFolder = folder;
    m_panel->setFolder(folder);
}

void MainWindow::openFile(const QString &path)
{
    if (path.isEmpty())
        return;
    if (!m_engine) {
        appendLog(uiText().text(UiTextId::TargetNotExist));
        return;
    }
    rememberFile(QFileInfo(path).absoluteFilePath());
    m_engine->loadImage(path);
}

void MainWindow::saveCurrentTab()
{
    if (!m_engine)
        return;
    const QString file = m_questions->chooseSaveFile(uiText().text(UiTextId::SaveBinaryFile),
                                                     m_target.workingFolder, ImageFilter);
    if (file.isEmpty())
        return;
    const int index = m_tabs->currentIndex();
    m_engine->saveImage(m_tabs->currentWidget() == m_log ? QString() : m_tabs->tabText(index),
                        file);
    rememberFile(file);
}

void MainWindow::saveSourceTable()
{
    auto *nand = qobject_cast<NandEngine *>(m_engine.get());
    if (!nand)
        return;
    const QString name =
        m_questions->chooseSaveFile(uiText().text(UiTextId::SaveBbtTip), m_target.workingFolder,
                                    QStringLiteral("All files (*.*)"));
    if (!name.isEmpty())
        nand->saveSourceTable(name);
}

void MainWindow::loadSourceTable()
{
    auto *nand = qobject_cast<NandEngine *>(m_engine.get());
    if (!nand)
        return;
    const QString name =
        m_questions->chooseOpenFile(uiText().text(UiTextId::LoadBbtTip), m_target.workingFolder,
                                    QStringLiteral("All files (*.*)"));
    if (!name.isEmpty())
        nand->loadSourceTable(name);
}

void MainWindow::editDeviceFile()
{
    if (m_record)
        openCatalogueFile(m_record->kind);
}

void MainWindow::openCatalogueFile(int kind)
{
    const CDeviceFamily *family = m_catalogue.family(kind);
    if (!family)
        return;
    m_openUrl(QUrl(QStringLiteral("file:///") + applicationFolder(ConfigFolder) + family->name() +
                   QStringLiteral(".txt")));
}

void MainWindow::defineNewFlash(const QString &actionText)
{
    const int kind =
        !actionText.contains(QStringLiteral("Nand")) && actionText.contains(QStringLiteral("SPI"))
            ? CDeviceItem::SpiKind
            : CDeviceItem::NandKind;
    const QString line = m_questions->defineDevice(kind, actionText, QStringList());
    if (line.isEmpty())
        return;
    // The user pastes the line into the family's file.
    openCatalogueFile(kind);
    appendLog(line);
}

QString MainWindow::unattendedImageName() const
{
    QString target = m_target.targetName;
    target.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    // Working folders end with a slash; none yet: the data folder.
    const QString folder =
        m_target.workingFolder.isEmpty() ? applicationFolder(DataFolder) : m_target.workingFolder;
    QDir().mkpath(folder);
    return QDir(folder).filePath(
        target + QLatin1Char('_') +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
        QStringLiteral(".bin"));
}

void MainWindow::openConfigFolder()
{
    m_openUrl(QUrl(QStringLiteral("file:///") +
                   QDir::toNativeSeparators(applicationFolder(ConfigFolder))));
}

void MainWindow::setUrlOpener(std::function<bool(const QUrl &)> opener)
{
    m_openUrl = std::move(opener);
}

// --- texts -------------------------------------------------------------------------

QString MainWindow::titleText() const
{
    return WindowTexts::title(m_record ? m_record->displayName() : QString());
}

void MainWindow::applyLanguage(const QString &path)
{
    settings().setString(Settings::LanguageFile, path);
    uiText().loadTranslation(path);
    m_tabs->setTabText(m_tabs->indexOf(m_log), uiText().text(UiTextId::MessageLog));
    m_status->updateSpeedLabel();
}

void MainWindow::chooseLanguage()
{
    LanguageDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        applyLanguage(dialog.selectedPath());
}

void MainWindow::showWarning(const QString &title, const QString &text)
{
    m_questions->warn(title, text);
}

void MainWindow::quitApplication(int exitCode)
{
    QMetaObject::invokeMethod(
        qApp, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

QAction *MainWindow::exitAction() const
{
    return m_actions->exit;
}

QAction *MainWindow::languageAction() const
{
    return m_actions->language;
}

QMenu *MainWindow::fileMenu() const
{
    return m_actions->fileMenu;
}

QLabel *MainWindow::usbStatusLabel() const
{
    return m_status->usbStatus;
}

QLabel *MainWindow::speedLabel() const
{
    return m_status->speedLabel;
}

QSlider *MainWindow::speedSlider() const
{
    return m_status->speed;
}

QProgressBar *MainWindow::progressBar() const
{
    return m_status->progress;
}
