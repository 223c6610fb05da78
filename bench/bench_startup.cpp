// Time from process start to the main window shown, as the program starts:
// program-wide objects, QApplication, the main window (transport binding,
// shipped files, the 713-device catalogue, the last target selected and its
// engine started), show() until the window is exposed. Each round is a fresh
// process in a settings home of its own (the first round installs the
// shipped catalogue and translation); the parent prints the figures.
#include "MainWindow.h"
#include "ProgramObjects.h"
#include "ScriptedQuestions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Milliseconds since this process started (the kernel counts in clock ticks).
double sinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

int child(int argc, char **argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    ProgramObjects objects;
    settings().setString(Settings::TestName, QStringLiteral("K9F1G08U0B"));
    QApplication application(argc, argv);
    ScriptedQuestions questions;
    MainWindow window(&questions);
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    std::printf("%.1f %.1f %d\n", sinceProcessStart(), sinceMain.nsecsElapsed() / 1e6,
                window.catalogue().findByName(QStringLiteral("W25Q64FV")) ? 1 : 0);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("HOME"), home.path());
    if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    std::vector<double> fromStart, fromMain;
    for (int i = 0; i <= rounds; ++i) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            std::fprintf(stderr, "round %d failed: %s\n", i, process.readAllStandardError().data());
            return 1;
        }
        const QList<QByteArray> out = process.readAllStandardOutput().trimmed().split(' ');
        if (out.value(2) != "1") {
            std::fprintf(stderr, "round %d: the catalogue was not loaded\n", i);
            return 1;
        }
        if (i == 0) {
            std::printf("first start (installs the shipped files): %s ms from process start\n",
                        out.value(0).constData());
            continue;
        }
        fromStart.push_back(out.value(0).toDouble());
        fromMain.push_back(out.value(1).toDouble());
    }
    std::printf("process start to window shown: median %.1f ms, max %.1f ms (%d rounds, "
                "10 ms resolution)\n",
                median(fromStart), *std::max_element(fromStart.begin(), fromStart.end()), rounds);
    std::printf("main() to window shown: median %.1f ms, max %.1f ms\n", median(fromMain),
                *std::max_element(fromMain.begin(), fromMain.end()));
    return 0;
}
