#include "MainActions.h"

#include "ProgramObjects.h"
#include "RecentList.h"
#include "UiTextId.h"
#include "WindowTexts.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

MainActions::MainActions(QMainWindow &window) : QObject(&window)
{
    UiText &texts = uiText();
    using namespace UiTextId;

    clear = action(Clear, ClearTip, ":/images/empty.png");
    clear->setShortcut(QKeySequence::New);
    open = action(Open, OpenTip, ":/images/open.png");
    open->setShortcut(QKeySequence::Open);
    save = action(Save, SaveTip, ":/images/save.png");
    save->setShortcut(QKeySequence::Save);
    exit = action(Exit, ExitTip);
    exit->setShortcut(QKeySequence::Quit);

    selectDevice = action(Device, SelectDevice, ":/images/device.png");
    detect = action(DetectChip, DetectChipTip, ":/images/chipid.png");
    detect->setShortcut(Qt::Key_F1);
    read = action(ReadFromChip, ReadFromChipTip, ":/images/chipread.png");
    read->setShortcut(Qt::Key_F2);
    verify = action(VerifyData, VerifyDataTip, ":/images/verify.png");
    verify->setShortcut(Qt::Key_F3);
    blankCheck = action(BlankCheck, BlankCheckTip, ":/images/blank.png");
    blankCheck->setShortcut(Qt::Key_F5);
    erase = action(EraseChip, EraseChipTip, ":/images/chiperase.png");
    erase->setShortcut(Qt::Key_F4);
    write = action(WriteChip, WriteChipTip, ":/images/chipwrite.png");
    write->setShortcut(QKeySequence(QStringLiteral("CTRL+W")));
    smartCopy = action(SmartCopy, SmartCopyTip, ":/images/duplicate.png");
    stop = action(Stop, StopTip, ":/images/stop.png");
    stop->setShortcut(QKeySequence(QStringLiteral("Esc")));
    newNandFlash = new QAction(QStringLiteral("Nand Flash"), this);
    newSpiFlash = new QAction(QStringLiteral("SPI Flash"), this);
    language = action(Language, LanguageTip);
    editDeviceFile = action(EditDeviceFile, EditDeviceFile);
    autoScript = action(AutoScript, AutoScript);
    autoScript->setCheckable(true);
    scriptDirectory = action(ScriptDirectory, SelectScriptDirectory);
    multipleReadCorrection = action(MultipleFileCorrection, MultipleFileCorrectionTip);
    newChip = action(NewChip, NewChipTip);
    saveSourceTable = action(SaveBbt, SaveBbtTip);
    loadSourceTable = action(LoadBbt, LoadBbtTip);
    configFolder = action(GotoConfigureFolder, GotoConfigureFolderTip);
    about = action(About, AboutTitle, ":/images/about.png");

    QMenuBar *bar = window.menuBar();
    fileMenu = bar->addMenu(QString());
    texts.registerMenu(fileMenu, File);
    fileMenu->addAction(clear);
    fileMenu->addAction(open);
    fileMenu->addAction(save);
    recentFiles = fileMenu->addMenu(QString());
    texts.registerMenu(recentFiles, RecentFiles);
    fileMenu->addSeparator();
    fileMenu->addAction(exit);

    toolsMenu = bar->addMenu(QString());
    texts.registerMenu(toolsMenu, Tools);
    for (QAction *a :
         {selectDevice, detect, read, verify, blankCheck, erase, write, smartCopy, stop})
        toolsMenu->addAction(a);
    newFlash = toolsMenu->addMenu(QString());
    texts.registerMenu(newFlash, NewFlash);
    newFlash->addAction(newNandFlash);
    newFlash->addAction(newSpiFlash);
    recentTargets = toolsMenu->addMenu(QString());
    texts.registerMenu(recentTargets, RecentTargets);
    toolsMenu->addAction(language);
    toolsMenu->addAction(editDeviceFile);
    toolsMenu->addSeparator();
    toolsMenu->addAction(autoScript);
    toolsMenu->addAction(scriptDirectory);

    // Titled "Nand" only while a NAND family is selected.
    nandMenu = bar->addMenu(QString());
    nandMenu->addAction(multipleReadCorrection);
    nandMenu->addAction(newChip);
    nandMenu->addSeparator();
    nandMenu->addAction(saveSourceTable);
    nandMenu->addAction(loadSourceTable);

    helpMenu = bar->addMenu(QString());
    texts.registerMenu(helpMenu, Help);
    helpMenu->addAction(configFolder);
    helpMenu->addAction(about);

    for (QMenu *menu : {recentFiles, recentTargets}) {
        for (int i = 0; i < RecentList::MaxEntries; ++i) {
            auto *entry = new QAction(this);
            entry->setVisible(false);
            menu->addAction(entry);
        }
    }

    mainToolBar = window.addToolBar(QStringLiteral("main"));
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    mainToolBar->setMovable(false);
    for (QAction *a : {clear, open, save, selectDevice, detect, read, verify, blankCheck, erase,
                       write, stop, about})
        mainToolBar->addAction(a);
    engineToolBar = window.addToolBar(QStringLiteral("engine"));
    engineToolBar->setObjectName(QStringLiteral("engineToolBar"));
    engineToolBar->setMovable(false);
    engineToolBar->addAction(smartCopy);
}

QAction *MainActions::action(int textId, int tipId, const char *icon)
{
    auto *a = new QAction(this);
    if (icon)
        a->setIcon(QIcon(QString::fromLatin1(icon)));
    uiText().registerAction(a, textId, tipId);
    return a;
}

void MainActions::setRecentFiles(const QStringList &entries)
{
    fillRecent(recentFiles, entries, true);
}

void MainActions::setRecentTargets(const QStringList &entries)
{
    fillRecent(recentTargets, entries, false);
}

void MainActions::fillRecent(QMenu *menu, const QStringList &entries, bool files)
{
    const QList<QAction *> actions = menu->actions();
    for (int i = 0; i < actions.size(); ++i) {
        QAction *a = actions[i];
        if (i < entries.size() && i < RecentList::MaxEntries) {
            a->setText(RecentList::actionText(i + 1, entries[i], files));
            a->setData(entries[i]);
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
}

void MainActions::followEngine(bool nand, quint32 capabilities)
{
    // A NAND image is saved through its backing file.
    save->setVisible(!nand);
    save->setEnabled(!nand);
    nandMenu->setTitle(nand ? QStringLiteral("Nand") : QString());
    nandMenu->setEnabled(nand);
    nandMenu->menuAction()->setVisible(nand);
    multipleReadCorrection->setEnabled(nand);
    newChip->setEnabled(nand);
    saveSourceTable->setEnabled(nand);
    loadSourceTable->setEnabled(nand);
    smartCopy->setVisible(nand);
    const CapabilityActions enabled = CapabilityActions::from(capabilities);
    detect->setEnabled(enabled.detect);
    erase->setEnabled(enabled.erase);
    blankCheck->setEnabled(enabled.blankCheck);
}
