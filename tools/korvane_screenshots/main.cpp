// korvane_screenshots [folder]
//     Renders the README's pictures of the main window into `folder`
//     (default docs/screenshots), in a settings home of its own, over the
//     emulated programmer beside the program (dll/libkvusb.so).
// korvane_screenshots --grab-screen <file.png> [--wait-ms N]
//     Grabs the whole X screen after N milliseconds into file.png; exits 0
//     when the screen shows something, 1 when it is blank, 2 on an error.
#include "ScreenPicture.h"
#include "ScreenshotScene.h"
#include "TestHome.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <cstring>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: korvane_screenshots [folder]\n"
                         "       korvane_screenshots --grab-screen <file.png> [--wait-ms N]\n");
    return 2;
}

int grabScreen(int argc, char **argv, const QString &path, int waitMs)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    if (waitMs > 0)
        QTest::qWait(waitMs);
    QScreen *screen = QGuiApplication::primaryScreen();
    const QImage shot = screen ? screen->grabWindow(0).toImage() : QImage();
    if (shot.isNull()) {
        std::fprintf(stderr, "korvane_screenshots: no screen to grab on %s\n",
                     qPrintable(QGuiApplication::platformName()));
        return 2;
    }
    QString error;
    if (!ScreenPicture::save(shot, path, &error)) {
        std::fprintf(stderr, "korvane_screenshots: %s\n", qPrintable(error));
        return 2;
    }
    const int colours = ScreenPicture::distinctColours(shot);
    std::printf("%s: %dx%d, %d%s colours\n", qPrintable(path), shot.width(), shot.height(), colours,
                colours >= 256 ? "+" : "");
    if (ScreenPicture::blank(shot)) {
        std::fprintf(stderr, "korvane_screenshots: the screen is blank\n");
        return 1;
    }
    return 0;
}

int renderScenes(int argc, char **argv, const QString &folder)
{
    TestHome::prepareProcess();
    QApplication application(argc, argv);
    ScreenshotScene scene;
    if (!scene.loadEmulator()) {
        std::fprintf(stderr, "korvane_screenshots: %s\n", qPrintable(scene.error()));
        return 1;
    }
    int failures = 0;
    for (ScreenshotScene::Kind kind : ScreenshotScene::kinds()) {
        const QString path = QDir(folder).filePath(ScreenshotScene::fileName(kind));
        QString error;
        if (!scene.stage(kind)) {
            error = scene.error();
        } else {
            const QImage picture = scene.picture();
            if (ScreenPicture::blank(picture))
                error = QStringLiteral("the picture is blank");
            else if (ScreenPicture::save(picture, path, &error))
                std::printf("%s: %dx%d\n", qPrintable(path), picture.width(), picture.height());
        }
        scene.finish();
        if (!error.isEmpty()) {
            std::fprintf(stderr, "korvane_screenshots: %s: %s\n",
                         qPrintable(ScreenshotScene::fileName(kind)), qPrintable(error));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QString folder = QStringLiteral("docs/screenshots");
    QString grabPath;
    int waitMs = 0;
    bool folderGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--grab-screen") == 0 && i + 1 < argc) {
            grabPath = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argument, "--wait-ms") == 0 && i + 1 < argc) {
            bool ok = false;
            waitMs = QByteArray(argv[++i]).toInt(&ok);
            if (!ok || waitMs < 0 || waitMs > 600000)
                return usage();
        } else if (argument[0] == '-' || folderGiven) {
            return usage();
        } else {
            folder = QString::fromLocal8Bit(argument);
            folderGiven = true;
        }
    }
    if (!grabPath.isEmpty())
        return folderGiven ? usage() : grabScreen(argc, argv, grabPath, waitMs);
    if (waitMs > 0)
        return usage();
    // Absolute now: each scene's settings home makes a folder of its own current.
    return renderScenes(argc, argv, QDir(folder).absolutePath());
}
