// Opens the device selection dialog over the shipped catalogue and types a
// part number into its search field one key at a time; prints the time to
// open the dialog and the time per keystroke. Run it offscreen:
//   QT_QPA_PLATFORM=offscreen build/bin/bench_device_dialog [rounds]
#include "CDeviceFamilyNand.h"
#include "CDeviceFamilySPI.h"
#include "CatalogueFiles.h"
#include "DeviceCatalogue.h"
#include "DeviceSelectDialog.h"
#include "ProgramObjects.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
// One key press and release on `edit`, as the user types it.
void typeKey(QLineEdit *edit, QChar key)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(key));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(key));
    QApplication::sendEvent(edit, &press);
    QApplication::sendEvent(edit, &release);
}

void backspace(QLineEdit *edit)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(edit, &press);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings in a home of our own, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    const int rounds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: bench_device_dialog [rounds]\n");
        return 2;
    }

    ProgramObjects objects;
    const QString folder = home.path() + QStringLiteral("/catalogue/");
    if (CatalogueFiles::installShipped(folder).size() != 2) {
        std::fprintf(stderr, "cannot install the shipped catalogue into %s\n", qPrintable(folder));
        return 1;
    }
    DeviceCatalogue catalogue;
    catalogue.load(folder);
    const int devices = catalogue.nand()->count() - 1 + catalogue.spi()->count() - 1;
    const QString typed = QStringLiteral("w25q64fv");

    std::vector<double> openMs;
    std::vector<double> keyMs;
    std::vector<double> eraseMs;
    int lastCount = -1;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        auto dialog = std::make_unique<DeviceSelectDialog>(catalogue, false);
        dialog->show();
        QApplication::processEvents();
        openMs.push_back(timer.nsecsElapsed() / 1e6);

        QLineEdit *edit = dialog->searchEdit();
        for (const QChar key : typed) {
            timer.restart();
            typeKey(edit, key);
            QApplication::processEvents();
            keyMs.push_back(timer.nsecsElapsed() / 1e6);
        }
        lastCount = dialog->deviceList()->count();
        // Back to an empty field: every record is listed again.
        for (qsizetype i = 0; i < typed.size(); ++i) {
            timer.restart();
            backspace(edit);
            QApplication::processEvents();
            eraseMs.push_back(timer.nsecsElapsed() / 1e6);
        }
    }

    std::printf("device dialog: %d devices (%d NAND, %d SPI), %d rounds, typing \"%s\"\n", devices,
                catalogue.nand()->count() - 1, catalogue.spi()->count() - 1, rounds,
                qPrintable(typed));
    std::printf("  open (construct + show): median %7.2f ms, max %7.2f ms\n", median(openMs),
                *std::max_element(openMs.begin(), openMs.end()));
    std::printf("  keystroke (narrowing):   median %7.2f ms, max %7.2f ms (%d left listed)\n",
                median(keyMs), *std::max_element(keyMs.begin(), keyMs.end()), lastCount);
    std::printf("  backspace (widening):    median %7.2f ms, max %7.2f ms\n", median(eraseMs),
                *std::max_element(eraseMs.begin(), eraseMs.end()));
    return 0;
}
