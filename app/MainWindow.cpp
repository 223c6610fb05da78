#include "MainWindow.h"

#include "ApplicationFolders.h"
#include "LanguageDialog.h"
#include "ProgramObjects.h"
#include "UsbDriverTable.h"
#include "WindowGeometry.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>
#include <algorithm>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), m_target(settings())
{
    UsbDriverTable::instance().bind();
    const QString language = settings().string(Settings::LanguageFile);
    if (!language.isEmpty())
        uiText().loadTranslation(language);

    buildActions();
    buildLayout();
    m_target.restore();
    setScriptFolderOverride(m_target.scriptDir);
    restoreGeometry();
    setWindowTitle(titleText());
}

MainWindow::~MainWindow()
{
    saveWindowSettings();
    UsbDriverTable::instance().unbind();
}

QStringList MainWindow::usbStatusTexts()
{
    QStringList texts{uiText().text(52), uiText().text(53), uiText().text(54)};
    qsizetype longest = 0;
    for (const QString &text : std::as_const(texts))
        longest = std::max(longest, text.size());
    for (QString &text : texts)
        text = text.leftJustified(longest, QLatin1Char(' '));
    return texts;
}

QString MainWindow::titleText() const
{
    return ProgramObjects::productName() + QLatin1Char(' ') + ProgramObjects::version() +
           QStringLiteral("  ");
}

void MainWindow::buildActions()
{
    UiText &texts = uiText();

    m_fileMenu = menuBar()->addMenu(QString());
    texts.registerMenu(m_fileMenu, 0);
    m_exitAction = new QAction(this);
    m_exitAction->setShortcut(QKeySequence::Quit);
    texts.registerAction(m_exitAction, 1, 2);
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);
    m_fileMenu->addAction(m_exitAction);

    m_toolsMenu = menuBar()->addMenu(QString());
    texts.registerMenu(m_toolsMenu, 9);
    m_languageAction = new QAction(this);
    texts.registerAction(m_languageAction, 108, 109);
    connect(m_languageAction, &QAction::triggered, this, &MainWindow::chooseLanguage);
    m_toolsMenu->addAction(m_languageAction);

    m_helpMenu = menuBar()->addMenu(QString());
    texts.registerMenu(m_helpMenu, 27);
    auto *configFolder = new QAction(this);
    texts.registerAction(configFolder, 30, 31);
    connect(configFolder, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QStringLiteral("file:///") +
                                       QDir::toNativeSeparators(applicationFolder(ConfigFolder))));
    });
    m_helpMenu->addAction(configFolder);
}

void MainWindow::buildLayout()
{
    m_log = new QPlainTextEdit(this);
    m_log->setReadOnly(true);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(m_log, uiText().text(76));

    m_vertical = new QSplitter(Qt::Vertical, this);
    m_vertical->addWidget(m_tabs);
    m_vertical->addWidget(new QWidget(m_vertical)); // the command console's place

    m_horizontal = new QSplitter(Qt::Horizontal, this);
    m_horizontal->addWidget(new QWidget(m_horizontal)); // the working-folder panel's place
    m_horizontal->addWidget(m_vertical);
    setCentralWidget(m_horizontal);

    m_usbStatus = new QLabel(usbStatusTexts().first(), this);
    m_usbStatus->setStyleSheet(
        QStringLiteral("QLabel {border: 1px solid grey; border-radius: 0px;height: 12px;}"));
    statusBar()->addWidget(m_usbStatus);
}

void MainWindow::restoreGeometry()
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

void MainWindow::appendLog(const QString &text)
{
    m_log->appendPlainText(text);
    if (m_tabs->currentWidget() != m_log)
        statusBar()->showMessage(text);
}

QString MainWindow::logText() const
{
    return m_log->toPlainText();
}

void MainWindow::applyLanguage(const QString &path)
{
    settings().setString(Settings::LanguageFile, path);
    uiText().loadTranslation(path);
    m_tabs->setTabText(m_tabs->indexOf(m_log), uiText().text(76));
}

void MainWindow::chooseLanguage()
{
    LanguageDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        applyLanguage(dialog.selectedPath());
}
