#include "CDeviceFamily.h"
#include "CustomDeviceDialog.h"
#include "DeviceCatalogue.h"
#include "ProgramObjects.h"
#include "TestHome.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
QRect corners(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// The label showing `text`, or null.
const QLabel *labelFor(const QDialog &dialog, const QString &text)
{
    for (const QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

QStringList items(const QComboBox *box)
{
    QStringList result;
    for (int i = 0; i < box->count(); ++i)
        result << box->itemText(i);
    return result;
}
} // namespace

class TestCustomDeviceDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void okFillsTheRecord();
    void cancelLeavesNoLine();

private:
    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<DeviceCatalogue> m_catalogue;
};

void TestCustomDeviceDialog::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    m_folder = std::make_unique<QTemporaryDir>();
    m_catalogue = std::make_unique<DeviceCatalogue>();
    m_catalogue->load(m_folder->path() + QLatin1Char('/'));
    m_catalogue->family(0)->addText("Name=\"A\",MFG=\"TOSHIBA\",ID1=\"98h\",size=\"1h\","
                                    "PageSize=\"840h\",BlockSize=\"40h\"\n"
                                    "Name=\"B\",MFG=\"TOSHIBA\",ID1=\"98h\",size=\"1h\","
                                    "PageSize=\"840h\",BlockSize=\"40h\"\n");
}

void TestCustomDeviceDialog::cleanup()
{
    m_catalogue.reset();
    m_folder.reset();
    m_objects.reset();
    m_home.reset();
}

void TestCustomDeviceDialog::layout_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("presets");
    QTest::addColumn<QStringList>("geometryLabels");
    QTest::addColumn<QStringList>("makers");

    QTest::newRow("Nand Flash") << 0 << "Nand Flash" << QStringList()
                                << QStringList{"Page Size", "Block Size", "CE Pins"}
                                << QStringList{"", "TOSHIBA"};
    QTest::newRow("New SPI") << 1 << "New SPI" << QStringList{"efh", "40h", "18h", "99h"}
                             << QStringList{"Sector Size", "Sector Num", "IO Pins"}
                             << QStringList{""};
}

void TestCustomDeviceDialog::layout()
{
    QFETCH(int, mode);
    QFETCH(QString, title);
    QFETCH(QStringList, presets);
    QFETCH(QStringList, geometryLabels);
    QFETCH(QStringList, makers);

    const CustomDeviceDialog dialog(*m_catalogue, mode, title, presets);
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.size(), QSize(391, 269));
    QCOMPARE(dialog.minimumSize(), QSize(391, 269));
    QCOMPARE(dialog.maximumSize(), QSize(391, 269));

    const int idFields = mode == 1 ? 3 : 6;
    QCOMPARE(dialog.idEdits().size(), idFields);
    QCOMPARE(dialog.idEdits().first()->geometry(), corners(40, 10, 69, 29));
    QCOMPARE(dialog.idEdits().last()->geometry(),
             corners(40 + 60 * (idFields - 1), 10, 69 + 60 * (idFields - 1), 29));
    const QLabel *lastId = labelFor(dialog, QStringLiteral("ID%1").arg(idFields));
    QVERIFY(lastId);
    QCOMPARE(lastId->geometry(),
             corners(20 + 60 * (idFields - 1), 10, 49 + 60 * (idFields - 1), 25));
    QVERIFY(!labelFor(dialog, QStringLiteral("ID%1").arg(idFields + 1)));
    for (int i = 0; i < idFields; ++i)
        QCOMPARE(dialog.idEdits().at(i)->text(), presets.value(i));

    QCOMPARE(dialog.nameEdit()->geometry(), corners(80, 40, 309, 59));
    QCOMPARE(labelFor(dialog, QStringLiteral("Name"))->geometry(), corners(20, 40, 49, 55));
    QCOMPARE(labelFor(dialog, QStringLiteral("Manufacture"))->geometry(), corners(20, 70, 119, 85));
    QCOMPARE(dialog.makerBox()->geometry(), corners(150, 70, 329, 94));
    QCOMPARE(dialog.sizeEdit()->geometry(), corners(80, 100, 309, 119));
    QCOMPARE(dialog.firstGeometryEdit()->geometry(), corners(80, 130, 129, 149));
    QCOMPARE(dialog.secondGeometryEdit()->geometry(), corners(210, 130, 259, 149));
    QCOMPARE(dialog.pinsBox()->geometry(), corners(320, 130, 369, 149));
    QCOMPARE(dialog.buttonBox()->geometry(), corners(90, 230, 279, 261));
    const QList<QRect> labelRects{corners(20, 130, 79, 149), corners(140, 130, 199, 149),
                                  corners(270, 130, 309, 149)};
    for (int i = 0; i < geometryLabels.size(); ++i) {
        const QLabel *label = labelFor(dialog, geometryLabels.at(i));
        QVERIFY2(label, qPrintable(geometryLabels.at(i)));
        QCOMPARE(label->geometry(), labelRects.at(i));
    }

    QCOMPARE(items(dialog.makerBox()), makers);
    QCOMPARE(dialog.makerBox()->currentIndex(), 0);
    QCOMPARE(items(dialog.pinsBox()), (QStringList{"1", "2", "4"}));
    QCOMPARE(dialog.pinsBox()->currentText(), QStringLiteral("1"));
    QVERIFY(dialog.buttonBox()->button(QDialogButtonBox::Ok));
    QVERIFY(dialog.buttonBox()->button(QDialogButtonBox::Cancel));
    QCOMPARE(dialog.catalogueLine(), QString());
}

void TestCustomDeviceDialog::okFillsTheRecord()
{
    CustomDeviceDialog dialog(*m_catalogue, 0, QStringLiteral("New Nand"),
                              {"98h", "dch", "90h", "26h", "76h", "16h"});
    dialog.open();
    QTest::keyClicks(dialog.idEdits().at(2), QStringLiteral("x")); // "90hx" reads as 0
    QTest::keyClicks(dialog.nameEdit(), QStringLiteral("tc58nvg2s0f"));
    dialog.makerBox()->setCurrentIndex(1);
    QTest::keyClicks(dialog.sizeEdit(), QStringLiteral("21000000h"));
    QTest::keyClicks(dialog.firstGeometryEdit(), QStringLiteral("1080"));
    QTest::keyClicks(dialog.secondGeometryEdit(), QStringLiteral("40h"));
    dialog.pinsBox()->setCurrentIndex(1);
    QTest::mouseClick(dialog.buttonBox()->button(QDialogButtonBox::Ok), Qt::LeftButton);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.record());
    QCOMPARE(dialog.catalogueLine(),
             QStringLiteral("Name=\"tc58nvg2s0f\",MFG=\"TOSHIBA\",ID1=\"98h\",ID2=\"dch\","
                            "ID3=\"0h\",ID4=\"26h\",ID5=\"76h\",ID6=\"16h\",size=\"21000000h\","
                            "PageSize=\"1080h\",BlockSize=\"40h\",CE=\"2\""));
}

void TestCustomDeviceDialog::cancelLeavesNoLine()
{
    CustomDeviceDialog dialog(*m_catalogue, 1, QStringLiteral("SPI Flash"));
    dialog.open();
    QTest::keyClicks(dialog.nameEdit(), QStringLiteral("W25Q128"));
    QTest::mouseClick(dialog.buttonBox()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(!dialog.record());
    QCOMPARE(dialog.catalogueLine(), QString());
}

KORVANE_TEST_MAIN_WITH(QApplication, TestCustomDeviceDialog)
#include "tst_custom_device_dialog.moc"
