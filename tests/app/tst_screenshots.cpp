#include "BadBlockMapView.h"
#include "BadBlockTab.h"
#include "CFileMemoryNode.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"
#include "ConsoleLineView.h"
#include "DeviceSelectDialog.h"
#include "FolderListing.h"
#include "HexView.h"
#include "MainActions.h"
#include "MainWindow.h"
#include "ScreenPicture.h"
#include "ScreenshotScene.h"
#include "TestHome.h"
#include "WorkingFolderPanel.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

// The README's pictures, rendered offscreen as tools/screenshots renders
// them: each scene shows something (not one flat colour) and nothing of the
// window is cut off at the pictures' size of 1280 x 800.
class TestScreenshots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void sceneIsDrawnAndUnclipped_data();
    void sceneIsDrawnAndUnclipped();
    void blankPictures_data();
    void blankPictures();
    void savedPictureIsOpaque();

private:
    ScreenshotScene m_scene;
};

namespace {

bool fits(const QSize &size)
{
    return size.width() <= ScreenshotScene::windowSize().width() &&
           size.height() <= ScreenshotScene::windowSize().height();
}

// Why `widget` is not wholly on show inside `window`; empty when it is.
QString clipped(const char *name, const QWidget *widget, const QWidget *window)
{
    if (!widget)
        return QStringLiteral("%1: missing").arg(QLatin1String(name));
    if (!widget->isVisible() || widget->width() <= 0 || widget->height() <= 0)
        return QStringLiteral("%1: not on show").arg(QLatin1String(name));
    const QRect area(widget->mapTo(window, QPoint(0, 0)), widget->size());
    if (!window->rect().contains(area))
        return QStringLiteral("%1: %2,%3 %4x%5 outside the window")
            .arg(QLatin1String(name))
            .arg(area.x())
            .arg(area.y())
            .arg(area.width())
            .arg(area.height());
    return QString();
}

// The first bytes the current memory tab shows.
QByteArray shownBytes(const MainWindow &window, int length)
{
    auto *view = qobject_cast<HexView *>(window.tabs()->currentWidget());
    if (!view || !view->node())
        return QByteArray();
    QByteArray bytes(length, '\0');
    view->node()->Read(view->firstRow() * 16, reinterpret_cast<quint8 *>(bytes.data()),
                       quint64(length));
    return bytes;
}

} // namespace

void TestScreenshots::initTestCase()
{
    QVERIFY2(m_scene.loadEmulator(), qPrintable(m_scene.error()));
}

void TestScreenshots::cleanup()
{
    m_scene.finish();
}

void TestScreenshots::sceneIsDrawnAndUnclipped_data()
{
    QTest::addColumn<int>("kind");
    // What the current tab shows first; empty: no memory tab.
    QTest::addColumn<QByteArray>("firstRow");
    QTest::newRow("nand-hex") << int(ScreenshotScene::NandHex) << QByteArray("block 00 page 00");
    QTest::newRow("nand-bad-blocks") << int(ScreenshotScene::NandBadBlocks) << QByteArray();
    QTest::newRow("spi-read") << int(ScreenshotScene::SpiRead) << QByteArray("sector 0000     ");
    QTest::newRow("device-selection") << int(ScreenshotScene::DeviceSelection) << QByteArray();
}

void TestScreenshots::sceneIsDrawnAndUnclipped()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, firstRow);
    const auto scene = ScreenshotScene::Kind(kind);
    QVERIFY2(m_scene.stage(scene), qPrintable(m_scene.error()));

    const QImage picture = m_scene.picture();
    QCOMPARE(picture.size() / picture.devicePixelRatio(), m_scene.subject()->size());
    const int colours = ScreenPicture::distinctColours(picture, 64);
    QVERIFY2(colours >= 16, qPrintable(QStringLiteral("%1 colours").arg(colours)));

    if (DeviceSelectDialog *dialog = m_scene.dialog()) {
        QVERIFY(fits(dialog->size()));
        QVERIFY(fits(dialog->minimumSizeHint()));
        QCOMPARE(dialog->searchEdit()->text(), ScreenshotScene::search());
        QVERIFY(dialog->deviceList()->count() > 0);
        QCOMPARE(dialog->chosenName(), m_scene.window()->targetName());
        const std::pair<const char *, QWidget *> parts[] = {
            {"search", dialog->searchEdit()},
            {"device list", dialog->deviceList()},
            {"select", dialog->selectButton()},
            {"cancel", dialog->cancelButton()},
        };
        for (const auto &[name, part] : parts) {
            const QString why = clipped(name, part, dialog);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
        // Captions keep their whole text.
        for (const QLabel *caption : dialog->findChildren<QLabel *>()) {
            if (!caption->text().isEmpty() && !caption->wordWrap())
                QVERIFY2(caption->width() >= caption->sizeHint().width(),
                         qPrintable(caption->text()));
        }
        return;
    }

    MainWindow *window = m_scene.window();
    QVERIFY2(fits(window->minimumSizeHint()),
             qPrintable(QStringLiteral("minimum %1x%2")
                            .arg(window->minimumSizeHint().width())
                            .arg(window->minimumSizeHint().height())));
    QCOMPARE(window->size(), ScreenshotScene::windowSize());
    QWidget *tool = qobject_cast<QWidget *>(window->engine()->toolWidget());
    const std::pair<const char *, QWidget *> parts[] = {
        {"tabs", window->tabs()},
        {"current tab", window->tabs()->currentWidget()},
        {"console", window->consoleView()},
        {"status bar", window->statusBar()},
        {"USB status", window->usbStatusLabel()},
        {"tool bar", window->actions().mainToolBar},
        {"engine tool bar", window->actions().engineToolBar},
    };
    for (const auto &[name, part] : parts) {
        const QString why = clipped(name, part, window);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }
    if (tool) {
        const QString why = clipped("engine tools", tool, window);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }
    // Every button the tool bar shows is on it, none in an overflow menu.
    QToolBar *bar = window->actions().mainToolBar;
    for (QAction *action : bar->actions()) {
        if (!action->isVisible() || action->isSeparator())
            continue;
        const QString why =
            clipped(qPrintable(action->text()), bar->widgetForAction(action), window);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    if (!firstRow.isEmpty()) {
        QCOMPARE(shownBytes(*window, int(firstRow.size())), firstRow);
        // The working folder's line tells the image file as the read left it.
        const auto *panel = window->findChild<WorkingFolderPanel *>();
        QVERIFY(panel);
        if (const auto *image =
                dynamic_cast<const CFileMemoryNode *>(window->engine()->memoryNode(0))) {
            QVERIFY(!image->backingFileName().isEmpty());
            QCOMPARE(panel->information(),
                     FolderListing::informationText(QFileInfo(image->backingFileName())));
        }
    } else {
        BadBlockTab *badBlocks = window->badBlockTab();
        QCOMPARE(window->tabs()->currentWidget(), badBlocks->page());
        for (BadBlockMapView *map : {badBlocks->sourceView(), badBlocks->targetView()}) {
            const QString why = clipped("bad-block map", map, window);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        }
    }
}

void TestScreenshots::blankPictures_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("blank");
    QImage flat(64, 48, QImage::Format_RGB32);
    flat.fill(Qt::black);
    QImage twoTone = flat;
    for (int x = 0; x < twoTone.width(); x += 2)
        twoTone.setPixel(x, 10, qRgb(255, 255, 255));
    QImage drawn = flat;
    for (int x = 0; x < drawn.width(); ++x)
        drawn.setPixel(x, 20, qRgb(x * 4, 255 - x * 4, 128));
    QTest::newRow("none") << QImage() << true;
    QTest::newRow("one colour") << flat << true;
    QTest::newRow("two colours") << twoTone << true;
    QTest::newRow("drawn") << drawn << false;
    QTest::newRow("drawn, with alpha")
        << drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied) << false;
}

void TestScreenshots::blankPictures()
{
    QFETCH(QImage, image);
    QFETCH(bool, blank);
    QCOMPARE(ScreenPicture::blank(image), blank);
}

// The pictures go into the repository: RGB without alpha, same pixels, the
// folder made on the way.
void TestScreenshots::savedPictureIsOpaque()
{
    QImage drawn(40, 30, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(qRgb(20, 40, 60));
    for (int x = 0; x < drawn.width(); ++x)
        drawn.setPixel(x, x % drawn.height(), qRgb(x * 6, 200, 255 - x * 6));
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("new/folder/picture.png"));
    QString error;
    QVERIFY2(ScreenPicture::save(drawn, path, &error), qPrintable(error));
    const QImage back(path);
    QVERIFY(!back.hasAlphaChannel());
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32),
             drawn.convertToFormat(QImage::Format_RGB32));
    QVERIFY(!ScreenPicture::save(QImage(), folder.filePath(QStringLiteral("none.png")), &error));
    QVERIFY(!error.isEmpty());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestScreenshots)
#include "tst_screenshots.moc"
