#include "CDeviceFamilyNand.h"
#include "DeviceCatalogue.h"
#include "DeviceChoiceDialog.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {
// Runs `step` on the modal dialog once it is shown; gives up after about 5 s.
void onModalDialog(const std::function<void(DeviceChoiceDialog *)> &step, int attempts = 500)
{
    QTimer::singleShot(attempts == 500 ? 0 : 10, [step, attempts] {
        auto *dialog = qobject_cast<DeviceChoiceDialog *>(QApplication::activeModalWidget());
        if (dialog)
            step(dialog);
        else if (attempts > 0)
            onModalDialog(step, attempts - 1);
        else
            qWarning("no device choice dialog appeared");
    });
}

QStringList listed(const DeviceChoiceDialog &dialog)
{
    QStringList names;
    for (int i = 0; i < dialog.list()->count(); ++i)
        names << dialog.list()->item(i)->text();
    return names;
}

QString nandLine(const QString &name)
{
    return QStringLiteral("Name=\"%1\",ID1=\"98h\",ID2=\"dch\",size=\"8400000h\","
                          "PageSize=\"840h\",BlockSize=\"40h\"")
        .arg(name);
}
} // namespace

class TestDeviceChoiceDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layoutAndTexts();
    void selectAndCancel();
    void translatedTexts();
    void catalogueAsksThroughTheDialog();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
};

void TestDeviceChoiceDialog::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
}

void TestDeviceChoiceDialog::cleanup()
{
    m_objects.reset();
    m_home.reset();
}

void TestDeviceChoiceDialog::layoutAndTexts()
{
    const DeviceChoiceDialog dialog({"TC58NVG2S0F", "TC58NVG2S0H", "TH58NVG2S3H"});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Select Device"));
    QCOMPARE(dialog.size(), QSize(200, 400));
    QCOMPARE(dialog.minimumSize(), QSize(200, 400));
    QCOMPARE(dialog.maximumSize(), QSize(200, 400));
    QCOMPARE(dialog.list()->geometry(), QRect(QPoint(20, 10), QPoint(179, 359)));
    QCOMPARE(dialog.selectButton()->text(), QStringLiteral("Select"));
    QCOMPARE(dialog.selectButton()->geometry(), QRect(QPoint(20, 370), QPoint(94, 392)));
    QCOMPARE(dialog.cancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog.cancelButton()->geometry(), QRect(QPoint(110, 370), QPoint(184, 392)));
    QCOMPARE(listed(dialog), (QStringList{"TC58NVG2S0F", "TC58NVG2S0H", "TH58NVG2S3H"}));
    QCOMPARE(dialog.selectedRow(), 0);
    QVERIFY(dialog.list()->item(0)->isSelected());

    const DeviceChoiceDialog empty({});
    QCOMPARE(empty.selectedRow(), -1);
}

void TestDeviceChoiceDialog::selectAndCancel()
{
    {
        DeviceChoiceDialog dialog({"A", "B", "C"});
        dialog.show();
        dialog.list()->setCurrentRow(2);
        QTest::mouseClick(dialog.selectButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedRow(), 2);
    }
    {
        DeviceChoiceDialog dialog({"A", "B", "C"});
        dialog.show();
        QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    // The chooser shows the dialog modally and answers with the row, or -1.
    const DeviceChooser chooser = DeviceChoiceDialog::chooser(nullptr);
    QStringList seen;
    onModalDialog([&seen](DeviceChoiceDialog *dialog) {
        seen = listed(*dialog);
        dialog->list()->setCurrentRow(1);
        dialog->selectButton()->click();
    });
    QCOMPARE(chooser({"A", "B", "C"}), 1);
    QCOMPARE(seen, (QStringList{"A", "B", "C"}));
    onModalDialog([](DeviceChoiceDialog *dialog) { dialog->cancelButton()->click(); });
    QCOMPARE(chooser({"A", "B", "C"}), -1);
    onModalDialog([](DeviceChoiceDialog *dialog) { dialog->selectButton()->click(); });
    QCOMPARE(chooser({"A", "B"}), 0);
}

void TestDeviceChoiceDialog::translatedTexts()
{
    uiText().loadTranslation(QStringLiteral(":/languages/KVGerman.txt"));
    const DeviceChoiceDialog dialog({"A"});
    QCOMPARE(dialog.windowTitle(), uiText().text(10));
    QCOMPARE(dialog.selectButton()->text(), uiText().text(130));
    QCOMPARE(dialog.cancelButton()->text(), uiText().text(131));
    QVERIFY(dialog.windowTitle() != UiText::builtInText(10));
}

void TestDeviceChoiceDialog::catalogueAsksThroughTheDialog()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Nand.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write((nandLine("FIRST") + "\n" + nandLine("SECOND") + "\n" + nandLine("THIRD")).toUtf8());
    file.close();
    DeviceCatalogue catalogue;
    catalogue.setChooser(DeviceChoiceDialog::chooser(nullptr));
    catalogue.load(dir.path() + QLatin1Char('/'));
    const QByteArray id("\x98\xDC\x90\x26\x76\x16\x08", 7);

    QStringList seen;
    onModalDialog([&seen](DeviceChoiceDialog *dialog) {
        seen = listed(*dialog);
        dialog->list()->setCurrentRow(2);
        dialog->selectButton()->click();
    });
    CDeviceItem *chosen = catalogue.findById(0, id, true);
    QVERIFY(chosen);
    QCOMPARE(chosen->name, QStringLiteral("THIRD"));
    QCOMPARE(seen, (QStringList{"FIRST", "SECOND", "THIRD"}));

    onModalDialog([](DeviceChoiceDialog *dialog) { dialog->cancelButton()->click(); });
    QVERIFY(!catalogue.findById(0, id, true));
    // Without collectAll no dialog opens (a dialog here would never close).
    QCOMPARE(catalogue.findById(0, id, false)->name, QStringLiteral("FIRST"));
}

KORVANE_TEST_MAIN_WITH(QApplication, TestDeviceChoiceDialog)
#include "tst_device_choice_dialog.moc"
