#pragma once

#include "AnswerHost.h"
#include "ConsoleHost.h"
#include "DeviceCatalogue.h"
#include "LogFile.h"
#include "OperationHost.h"
#include "OperationProgress.h"
#include "TargetSettings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class AnswerDispatcher;
class BadBlockTab;
class CDeviceItem;
class ChipEngine;
class CommandConsole;
class ConsoleLineView;
class HexView;
class MainActions;
class MemoryTabs;
class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QSlider;
class QSplitter;
class QTabWidget;
class QUrl;
class StatusBarWidgets;
class UnattendedRun;
class WorkingFolderPanel;

// The program's only top-level window. It holds the selected target and the
// chip engine of its family, shows the connection, progress, rate and
// elapsed time, and routes the user's actions to console command lines, so
// that a menu click and a typed command run the same code. It answers the
// engine's messages (AnswerHost), serves the engines' operations
// (OperationHost) and asks every modal question through its QuestionHost.
class MainWindow : public QMainWindow, public AnswerHost, public OperationHost, public ConsoleHost
{
    Q_OBJECT
public:
    // `questions` answers the window's questions (not owned; null: dialogs).
    // Construction binds the transport library, loads the catalogue and
    // selects the last target, or asks for one.
    explicit MainWindow(QuestionHost *questions = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- OperationHost / AnswerHost --------------------------------------
    void beginProgress(uint start, uint count) override;
    bool operationRunning() const override { return m_progress.running(); }
    void showReadProgress(uint value) override;
    void showChunkProgress(uint position, uint count, CMemoryNode *node) override;
    void showVerifyProgress(uint position, uint count, CMemoryNode *node, quint64 address,
                            const quint8 *chipData, quint64 size,
                            const BadBlockSkip *badBlocks) override;
    void showBlankProgress(uint position, uint count, bool blank) override;
    void showEraseProgress(uint value) override;
    // One line in the message log (and the log file); safe from any thread.
    void appendLog(const QString &text) override;
    void refreshNodeView(CMemoryNode *node) override;
    void setTarget(const QString &name, bool always = false) override;
    QString currentTargetName() const override { return m_target.targetName; }
    void endJobWhenReady(int job) override { m_jobWhenReady = job; }
    void showTableProgress(uint value, uint maximum) override;
    void refreshBadBlocks(int which) override;
    DeviceCatalogue &deviceCatalogue() override { return m_catalogue; }
    void openCatalogueFile(int kind) override;
    QuestionHost &questions() override { return *m_questions; }
    qint64 operationElapsedMs() const override;
    // A job ended or failed: the console's waiting script goes on or stops.
    // `job` 0 fails whatever job runs.
    void jobEnded(int job) override;
    void jobFailed(int job) override;
    // Identification and adapter check answered: the auto script may run.
    void programmerReady() override;
    void adapterFailed() override;
    void adapterIncompatible() override;
    void showDisconnected() override;
    void showWarning(const QString &title, const QString &text) override;
    void quitApplication(int exitCode) override;
    void openDeviceDialog() override;

    // --- ConsoleHost: operations the console calls -------------------------
    // Starts a read, verify or blank check when the programmer is connected
    // and no operation runs; otherwise logs "Busy" and returns 0x80.
    int startOperation(quint64 start, quint64 length, int operation) override;
    // Closes the log file; with `enable` opens `fileName` in the temporary
    // folder for appending and writes "Log Start".
    void setLogFile(bool enable, const QString &fileName) override;
    void clearLog() override;
    void setLogStyleSheet(const QString &styleSheet) override;
    bool programmerConnected() const override;
    bool hasTarget() const override { return m_record != nullptr; }
    void setSpeedDisplay(int step) override;
    // Scrolls every memory view whose node holds `address` to it and brings
    // the last such view's tab to the front. False when no node holds it.
    bool makeAddressVisible(quint64 address) override;
    // The Save action: asks for a file and saves the current memory tab.
    void saveCurrentTab() override;
    // Adds `path` to the recent files; its folder becomes the working one.
    void rememberFile(const QString &path) override;
    QString lastUsedFolder() const override { return m_target.workingFolder; }
    void newChipReset() override;
    void startWaitTimer(int milliseconds) override;
    void stopWaitTimer() override;
    void scriptStopped(ScriptStop how) override;
    // The progress of the engine's `progress` signal (a program's data).
    void showWriteProgress(uint a, uint b);
    // Selects the target named `name` now (the seven steps); false when
    // refused ("Busy") or when no record has that name.
    bool selectTarget(const QString &name) override;
    // Stops the running operation (Esc).
    void stopOperation() override;
    // Hands a command line to the console, as every menu action does.
    void issueCommand(const QString &line);

    // --- what the window shows ---------------------------------------------
    QString logText() const;
    // "Korvane 1.10  " and, with a target, "Target: " + its display name + " ".
    QString titleText() const;
    // Stores `path` (empty: built-in English) as the chosen translation and
    // relabels every registered menu, action and label.
    void applyLanguage(const QString &path);

    MainActions &actions() const { return *m_actions; }
    QAction *exitAction() const;
    QAction *languageAction() const;
    QMenu *fileMenu() const;
    QSplitter *horizontalSplitter() const { return m_horizontal; }
    QSplitter *verticalSplitter() const { return m_vertical; }
    QTabWidget *tabs() const { return m_tabs; }
    BadBlockTab *badBlockTab() const { return m_badBlocks; }
    // The memory views of the current engine, in node order.
    QList<HexView *> memoryViews() const;
    QLabel *usbStatusLabel() const;
    QLabel *speedLabel() const;
    QSlider *speedSlider() const;
    QProgressBar *progressBar() const;
    WorkingFolderPanel *folderPanel() const { return m_panel; }
    QMessageBox *pleaseWaitBox() const { return m_pleaseWait; }
    ChipEngine *engine() const { return m_engine.get(); }
    DeviceCatalogue &catalogue() override { return m_catalogue; }
    CommandConsole &console() { return *m_console; }
    ConsoleLineView *consoleView() const { return m_consoleView; }
    CDeviceItem *targetRecord() const { return m_record; }
    const QString &targetName() const { return m_target.targetName; }
    const QString &workingFolder() const { return m_target.workingFolder; }
    bool connectedDisplay() const { return m_connectedDisplay; }
    const OperationProgress &progress() const { return m_progress; }
    bool highDpi() const { return m_highDpi; }

    // How "file:///" addresses are opened (default: the desktop's handler).
    void setUrlOpener(std::function<bool(const QUrl &)> opener);

    // True for a run nobody watches: the offscreen platform with "Auto
    // Script" on. Its script's end ends the program with an exit code.
    bool unattended() const { return m_unattended != nullptr; }

signals:
    // A job (a JobCode, 0: whichever runs) ended as it should, or failed
    // (Stop, a mismatch, a non-blank chunk, a lost connection).
    void jobEndReported(int job);
    void jobFailureReported(int job);
    // A command line went to the console.
    void commandIssued(const QString &line);

public slots:
    void chooseLanguage();
    void chooseDevice();

private:
    void buildLayout();
    void connectActions();
    void restoreWindowGeometry();
    void saveWindowSettings();
    void loadCatalogue();
    void selectStartTarget();
    bool bufferBusy();
    void deleteEngine();
    void createEngine(CDeviceItem &record);
    void installNodeHooks();
    void connectionChanged(bool connected);
    void speedChanged(int value);
    void display(const OperationProgress::Update &update);
    void confirmThen(int questionId, const QString &line);
    void setWorkingFolder(const QString &folder);
    void openFile(const QString &path);
    void editDeviceFile();
    // Nand -> Save BBT / Load BBT: the source table's file.
    void saveSourceTable();
    void loadSourceTable();
    // Tools -> New Flash: the custom device dialog for the action's family.
    void defineNewFlash(const QString &actionText);
    // The file an unattended read writes: the target and the time, in the
    // working folder.
    QString unattendedImageName() const;
    void openConfigFolder();
    void runAutoScript();
    void buildScriptActions();

    TargetSettings m_target;
    // Declared before the engine: the engine's device record lives here.
    DeviceCatalogue m_catalogue;
    CDeviceItem *m_record = nullptr;
    std::unique_ptr<QuestionHost> m_ownQuestions;
    QuestionHost *m_questions = nullptr;
    std::function<bool(const QUrl &)> m_openUrl;
    bool m_highDpi = false;

    MainActions *m_actions = nullptr;
    QSplitter *m_horizontal = nullptr;
    QSplitter *m_vertical = nullptr;
    QTabWidget *m_tabs = nullptr;
    QPlainTextEdit *m_log = nullptr;
    WorkingFolderPanel *m_panel = nullptr;
    StatusBarWidgets *m_status = nullptr;
    QMessageBox *m_pleaseWait = nullptr;
    // The single-shot timer of the script's `wait`.
    QTimer m_scriptTimer;
    std::unique_ptr<UnattendedRun> m_unattended;

    std::unique_ptr<AnswerDispatcher> m_dispatcher;
    std::unique_ptr<CommandConsole> m_console;
    ConsoleLineView *m_consoleView = nullptr;
    std::unique_ptr<ChipEngine> m_engine;
    QPointer<QAction> m_toolAction;
    // One view per memory node of the engine, each on its own tab.
    MemoryTabs *m_memoryTabs = nullptr;
    // The bad-block maps of a NAND engine.
    BadBlockTab *m_badBlocks = nullptr;
    bool m_connectedDisplay = false;
    OperationProgress m_progress;
    QElapsedTimer m_clock;
    QString m_pendingTarget;
    // The job (a JobCode) that ends when the next engine's programmer is
    // ready; 0: none.
    int m_jobWhenReady = 0;
    LogFile m_logFile;
};
