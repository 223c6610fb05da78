#pragma once

#include "TargetSettings.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;

// The program's only top-level window.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Appends one line to the message log.
    void appendLog(const QString &text);
    QString logText() const;

    // Stores `path` (empty: built-in English) as the chosen translation and
    // relabels every registered menu, action and label.
    void applyLanguage(const QString &path);

    QAction *exitAction() const { return m_exitAction; }
    QAction *languageAction() const { return m_languageAction; }
    QMenu *fileMenu() const { return m_fileMenu; }
    QSplitter *horizontalSplitter() const { return m_horizontal; }
    QSplitter *verticalSplitter() const { return m_vertical; }

    // "Korvane 1.10  " and, with a target, "Target: " and its name.
    QString titleText() const;

    // The USB status texts (52, 53, 54) padded with blanks to the longest.
    static QStringList usbStatusTexts();
    QLabel *usbStatusLabel() const { return m_usbStatus; }

public slots:
    void chooseLanguage();

private:
    void buildActions();
    void buildLayout();
    void restoreGeometry();
    void saveWindowSettings();

    TargetSettings m_target;
    QAction *m_exitAction = nullptr;
    QAction *m_languageAction = nullptr;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_toolsMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QSplitter *m_horizontal = nullptr;
    QSplitter *m_vertical = nullptr;
    QTabWidget *m_tabs = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QLabel *m_usbStatus = nullptr;
};
