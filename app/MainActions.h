#pragma once

#include <QObject>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;

// The main window's actions, menus and tool bars, in the order the menus
// list them. Texts and status tips come from the UI text table and follow a
// change of language; the main window connects what each action does.
class MainActions : public QObject
{
    Q_OBJECT
public:
    explicit MainActions(QMainWindow &window);

    // File
    QAction *clear = nullptr;
    QAction *open = nullptr;
    QAction *save = nullptr;
    QMenu *recentFiles = nullptr;
    QAction *exit = nullptr;
    // Tools
    QAction *selectDevice = nullptr;
    QAction *detect = nullptr;
    QAction *read = nullptr;
    QAction *verify = nullptr;
    QAction *blankCheck = nullptr;
    QAction *erase = nullptr;
    QAction *write = nullptr;
    QAction *smartCopy = nullptr;
    QAction *stop = nullptr;
    QMenu *newFlash = nullptr;
    QAction *newNandFlash = nullptr;
    QAction *newSpiFlash = nullptr;
    QMenu *recentTargets = nullptr;
    QAction *language = nullptr;
    QAction *editDeviceFile = nullptr;
    // Checkable: run "<target>.usp" after every connection.
    QAction *autoScript = nullptr;
    QAction *scriptDirectory = nullptr;
    // NAND
    QMenu *nandMenu = nullptr;
    QAction *multipleReadCorrection = nullptr;
    QAction *newChip = nullptr;
    QAction *saveSourceTable = nullptr;
    QAction *loadSourceTable = nullptr;
    // Help
    QAction *configFolder = nullptr;
    QAction *about = nullptr;

    QMenu *fileMenu = nullptr;
    QMenu *toolsMenu = nullptr;
    QMenu *helpMenu = nullptr;
    QToolBar *mainToolBar = nullptr;
    // Smart copy and the engine's tool widget.
    QToolBar *engineToolBar = nullptr;

    // The recent-list submenus: one action per entry ("&<n> <text>"), the
    // full entry as the action's data; the rest of the 20 hidden.
    void setRecentFiles(const QStringList &entries);
    void setRecentTargets(const QStringList &entries);

    // The actions that follow the current engine: the NAND menu and Smart
    // copy only for a NAND family, Detect, Erase and Blank Check by the
    // engine's capability bits, Save back for every new engine.
    void followEngine(bool nand, quint32 capabilities);

private:
    QAction *action(int textId, int tipId, const char *icon = nullptr);
    void fillRecent(QMenu *menu, const QStringList &entries, bool files);
};
