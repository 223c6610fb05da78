#pragma once

#include "EmulatedWindow.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class DeviceSelectDialog;
class MainWindow;
class QWidget;

// The pictures of the program for its README: the real main window over the
// emulated programmer, driven by console lines as a user would type them,
// at a fixed size. Each scene starts in a settings home and window of its
// own; `stage` leaves the window (or the dialog) on show, ready to grab.
class ScreenshotScene
{
public:
    enum Kind {
        NandHex,         // a NAND chip read, the "Nand" hex view in front
        NandBadBlocks,   // a smart copy onto a second chip, the "BadBlock" tab in front
        SpiRead,         // an SPI chip read, the "SPI" hex view in front
        DeviceSelection, // the device selection dialog with a search typed
    };
    static QList<Kind> kinds();
    // The picture's file name, e.g. "nand-hex.png".
    static QString fileName(Kind kind);
    static QSize windowSize() { return QSize(1280, 800); }
    // What the device selection scene types into the search.
    static QString search() { return QStringLiteral("W25Q"); }

    ScreenshotScene();
    ~ScreenshotScene();

    // Loads the emulated programmer from "dll/libkvusb.so" beside the
    // program; false when it is not there.
    bool loadEmulator();
    // Sets `kind` up; false when a step failed, error() says which.
    bool stage(Kind kind);
    // Closes the dialog and the window and removes the scene's home.
    void finish();

    MainWindow *window() const;
    DeviceSelectDialog *dialog() const { return m_dialog.get(); }
    // The dialog while one is open, else the window.
    QWidget *subject() const;
    // subject() as drawn now (its own pixels, whatever covers it on screen).
    QImage picture() const;
    const QString &error() const { return m_error; }
    // The emulated programmer and the window's session, for checks.
    EmulatedWindow &session() { return m_session; }

private:
    bool fail(const QString &why);
    bool open(const char *profileFile, const QString &target);
    bool run(const QString &line);
    bool setNandWindow(int startBlock, int blockCount);
    bool fillNandSource(int blockCount);
    // The NAND source chip filled and read into "Nand".
    bool readNandSource();
    bool showFirstMemoryView();
    bool stageNandHex();
    bool stageNandBadBlocks();
    bool stageSpiRead();
    bool stageDeviceSelection();
    void settle();

    EmulatedWindow m_session;
    std::unique_ptr<DeviceSelectDialog> m_dialog;
    std::unique_ptr<QTemporaryDir> m_files;
    QString m_error;
};
