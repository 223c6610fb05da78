#include "DeviceCatalogue.h"
#include "DeviceSelectDialog.h"
#include "DeviceSelection.h"
#include "ProgramObjects.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString nandLine(const QString &name, const QString &maker)
{
    return QStringLiteral("Name=\"%1\",MFG=\"%2\",ID1=\"ech\",ID2=\"f1h\",size=\"8400000h\","
                          "PageSize=\"840h\",BlockSize=\"40h\"\n")
        .arg(name, maker);
}

QString spiLine(const QString &name, const QString &maker)
{
    return QStringLiteral("Name=\"%1\",MFG=\"%2\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\","
                          "size=\"800000h\",SectorSize=\"10000h\",SectorNum=\"80h\"\n")
        .arg(name, maker);
}

// A catalogue loaded from files of its own.
class TestCatalogue
{
public:
    TestCatalogue(const QString &nand, const QString &spi)
    {
        const QString folder = m_dir.path() + QLatin1Char('/');
        TestFiles::write(folder + QStringLiteral("Nand.txt"), nand.toUtf8());
        TestFiles::write(folder + QStringLiteral("SPI.txt"), spi.toUtf8());
        catalogue.load(folder);
    }
    DeviceCatalogue catalogue;

private:
    QTemporaryDir m_dir;
};

// Four NAND parts, five SPI lines with one name twice (SPI keeps both).
TestCatalogue *makeBench()
{
    return new TestCatalogue(nandLine("K9F1G08U0B", "SAMSUNG") + nandLine("HY27UF081G2A", "HYNIX") +
                                 nandLine("W29N01HV", "WINBOND") +
                                 nandLine("TC58NVG2S0F", "TOSHIBA"),
                             spiLine("W25Q64FV", "WINBOND") + spiLine("MX25L6405", "MACRONIX") +
                                 spiLine("W25Q64", "WINBOND") + spiLine("W25Q32", "WINBOND") +
                                 spiLine("W25Q64FV", "WINBOND"));
}

const QStringList allDevices{"NAND OFNI", "K9F1G08U0B", "HY27UF081G2A", "W29N01HV", "TC58NVG2S0F",
                             "SPI SFDP",  "W25Q64FV",   "MX25L6405",    "W25Q64",   "W25Q32"};
const QStringList spiDevices{"SPI SFDP", "W25Q64FV", "MX25L6405", "W25Q64", "W25Q32"};

QStringList texts(const QListWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result << list->item(i)->text();
    return result;
}

QString stored()
{
    return settings().string(Settings::FavoriteDeviceList);
}

void store(const QString &favourites)
{
    settings().setString(Settings::FavoriteDeviceList, favourites);
}

// Radio buttons take clicks on their indicator and label only.
const QPoint onIndicator(8, 8);

QPoint centreOf(QListWidget *list, int row)
{
    return list->visualItemRect(list->item(row)).center();
}

} // namespace

class TestDeviceSelectDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void favouritesAtStart_data();
    void favouritesAtStart();
    void addingStoresKnownNamesOnly();
    void nameWithCommaIsNoFavourite();
    void removeFavourite_data();
    void removeFavourite();
    void searchIgnoresFamilyAndMaker_data();
    void searchIgnoresFamilyAndMaker();
    void makerListMatchesTypedCase_data();
    void makerListMatchesTypedCase();
    void typeChoiceListsOneFamily();
    void acceptTakesCurrentRow_data();
    void acceptTakesCurrentRow();
    void nothingChosenKeepsDevice();

    void layout();
    void widgetSearchAndType();
    void doubleClickOnFavouriteAccepts();
    void widgetFavouriteButtons();

private:
    DeviceCatalogue &catalogue() { return m_bench->catalogue; }
    CDeviceItem *record(const QString &name) { return catalogue().findByName(name); }

    std::unique_ptr<TestHome::Fresh> m_home;
    std::unique_ptr<ProgramObjects> m_objects;
    std::unique_ptr<TestCatalogue> m_bench;
};

void TestDeviceSelectDialog::init()
{
    m_home = std::make_unique<TestHome::Fresh>();
    m_objects = std::make_unique<ProgramObjects>();
    m_bench.reset(makeBench());
    DeviceSelection::resetChosenDevices();
}

void TestDeviceSelectDialog::cleanup()
{
    DeviceSelection::resetChosenDevices();
    m_bench.reset();
    m_objects.reset();
    m_home.reset();
}

void TestDeviceSelectDialog::favouritesAtStart_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("text");

    QTest::newRow("unknown first") << "NOSUCH,W25Q32," << QStringList{"W25Q32"} << "W25Q32,";
    QTest::newRow("no final comma") << "W25Q32,MX25L6405" << QStringList{"W25Q32"} << "W25Q32,";
    QTest::newRow("sorted, stored order kept")
        << "W25Q32,MX25L6405," << QStringList{"MX25L6405", "W25Q32"} << "W25Q32,MX25L6405,";
    QTest::newRow("repeat") << "W25Q32,W25Q32,K9F1G08U0B," << QStringList{"K9F1G08U0B", "W25Q32"}
                            << "W25Q32,K9F1G08U0B,";
    QTest::newRow("empty entry ends") << "W25Q32,,MX25L6405," << QStringList{"W25Q32"} << "W25Q32,";
    QTest::newRow("leading comma") << ",W25Q32," << QStringList{} << "";
    QTest::newRow("other case") << "w25q32," << QStringList{} << "";
    QTest::newRow("placeholder") << "SPI SFDP," << QStringList{"SPI SFDP"} << "SPI SFDP,";
    QTest::newRow("empty") << "" << QStringList{} << "";
}

void TestDeviceSelectDialog::favouritesAtStart()
{
    QFETCH(QString, setting);
    QFETCH(QStringList, listed);
    QFETCH(QString, text);
    store(setting);
    const DeviceSelection selection(catalogue(), settings());
    QCOMPARE(selection.favourites(), listed);
    QCOMPARE(selection.favouritesText(), text);
    QCOMPARE(selection.favouriteRow(), -1);
    // Dropped names leave the setting only at the next change.
    QCOMPARE(stored(), setting);
}

void TestDeviceSelectDialog::addingStoresKnownNamesOnly()
{
    store(QStringLiteral("NOSUCH,W25Q32,"));
    DeviceSelection selection(catalogue(), settings());
    selection.deviceRowChanged(static_cast<int>(selection.devices().indexOf("MX25L6405")));
    QCOMPARE(selection.addFavourite(), QStringLiteral("W25Q32,MX25L6405,"));
    QCOMPARE(stored(), QStringLiteral("W25Q32,MX25L6405,"));
    QCOMPARE(selection.favourites(), (QStringList{"MX25L6405", "W25Q32"}));

    // The same device again changes nothing; a favourite row follows its item.
    selection.setFavouriteRow(1);
    QCOMPARE(selection.addFavourite(), QStringLiteral("W25Q32,MX25L6405,"));
    selection.deviceRowChanged(static_cast<int>(selection.devices().indexOf("K9F1G08U0B")));
    selection.setFavouriteRow(1);
    QCOMPARE(selection.addFavourite(), QStringLiteral("W25Q32,MX25L6405,K9F1G08U0B,"));
    QCOMPARE(selection.favourites(), (QStringList{"K9F1G08U0B", "MX25L6405", "W25Q32"}));
    QCOMPARE(selection.favouriteRow(), 2);
}

void TestDeviceSelectDialog::nameWithCommaIsNoFavourite()
{
    const TestCatalogue odd(QString(), spiLine("AT45,DB", "ATMEL") + spiLine("AT45", "ATMEL"));
    store(QStringLiteral("AT45,"));
    DeviceSelection selection(odd.catalogue, settings());
    selection.deviceRowChanged(static_cast<int>(selection.devices().indexOf("AT45,DB")));
    QCOMPARE(selection.nameText(), QStringLiteral("AT45,DB"));
    QCOMPARE(selection.addFavourite(), QStringLiteral("AT45,"));
    QCOMPARE(selection.favourites(), QStringList{"AT45"});
    QCOMPARE(stored(), QStringLiteral("AT45,"));
}

void TestDeviceSelectDialog::removeFavourite_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("rowAfter");

    QTest::newRow("second of two") << "W25Q32,MX25L6405,"
                                   << "MX25L6405"
                                   << "W25Q32," << 0;
    QTest::newRow("last row") << "W25Q32,MX25L6405,"
                              << "W25Q32"
                              << "MX25L6405," << -1;
    QTest::newRow("only one") << "W25Q32,"
                              << "W25Q32"
                              << "" << -1;
    QTest::newRow("whole entry, longer name first") << "W25Q64FV,W25Q64,"
                                                    << "W25Q64"
                                                    << "W25Q64FV," << 0;
    QTest::newRow("whole entry, longer name last") << "W25Q64,W25Q64FV,"
                                                   << "W25Q64"
                                                   << "W25Q64FV," << 0;
    QTest::newRow("name inside another") << "TC58NVG2S0F,W25Q32,W25Q64,W25Q64FV,"
                                         << "W25Q64FV"
                                         << "TC58NVG2S0F,W25Q32,W25Q64," << -1;
    QTest::newRow("unknown name dropped") << "NOSUCH,W25Q32,MX25L6405,"
                                          << "MX25L6405"
                                          << "W25Q32," << 0;
}

void TestDeviceSelectDialog::removeFavourite()
{
    QFETCH(QString, setting);
    QFETCH(QString, removed);
    QFETCH(QString, left);
    QFETCH(int, rowAfter);
    store(setting);
    DeviceSelection selection(catalogue(), settings());
    QVERIFY(selection.deviceRow() >= 0);
    selection.setFavouriteRow(static_cast<int>(selection.favourites().indexOf(removed)));
    selection.favouriteClicked();
    QCOMPARE(selection.removeFavourite(), left);
    QCOMPARE(stored(), left);
    QVERIFY(!selection.favourites().contains(removed));
    QCOMPARE(selection.favouriteRow(), rowAfter);
    QCOMPARE(selection.deviceRow(), -1);
    QVERIFY(!selection.fromFavourites());

    // Without a current favourite nothing is removed or written.
    selection.setFavouriteRow(-1);
    store(QStringLiteral("marker"));
    QCOMPARE(selection.removeFavourite(), left);
    QCOMPARE(stored(), QStringLiteral("marker"));
}

void TestDeviceSelectDialog::searchIgnoresFamilyAndMaker_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("maker");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("checked");

    QTest::newRow("SPI chosen, both families found")
        << 2 << ""
        << "w2" << QStringList{"W29N01HV", "W25Q64FV", "W25Q64", "W25Q32", "W25Q64FV"} << 0;
    QTest::newRow("Nand and a maker chosen")
        << 1 << "SAMSUNG"
        << "w25q64" << QStringList{"W25Q64FV", "W25Q64", "W25Q64FV"} << 0;
    QTest::newRow("all, maker chosen") << 0 << "MACRONIX"
                                       << "Q3" << QStringList{"W25Q32"} << 0;
    QTest::newRow("placeholder") << 2 << ""
                                 << "sfdp" << QStringList{"SPI SFDP"} << 0;
    QTest::newRow("nothing") << 1 << ""
                             << "zz" << QStringList{} << 0;
    QTest::newRow("emptied: every record, type kept")
        << 2 << ""
        << "" << allDevices + QStringList{"W25Q64FV"} << 2;
}

void TestDeviceSelectDialog::searchIgnoresFamilyAndMaker()
{
    QFETCH(int, type);
    QFETCH(QString, maker);
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    QFETCH(int, checked);
    DeviceSelection selection(catalogue(), settings());
    selection.typeChanged(type);
    if (!maker.isEmpty())
        selection.makerChanged(static_cast<int>(selection.makers().indexOf(maker)));
    const int family = selection.familyFilter();

    selection.searchEdited(typed);
    QCOMPARE(selection.devices(), found);
    QCOMPARE(selection.searchText(), typed.toUpper());
    QCOMPARE(selection.searchEditText(), typed);
    QCOMPARE(selection.checkedType(), checked);
    QCOMPARE(selection.familyFilter(), family);
    QCOMPARE(selection.deviceRow(), -1);
}

void TestDeviceSelectDialog::makerListMatchesTypedCase_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("upper case") << "W25Q6" << QStringList{"W25Q64FV", "W25Q64"};
    QTest::newRow("lower case matches nothing") << "w25q6" << QStringList{};
    QTest::newRow("no text") << "" << QStringList{"W29N01HV", "W25Q64FV", "W25Q64", "W25Q32"};
}

void TestDeviceSelectDialog::makerListMatchesTypedCase()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, listed);
    DeviceSelection selection(catalogue(), settings());
    selection.searchEdited(typed);
    selection.makerChanged(static_cast<int>(selection.makers().indexOf("WINBOND")));
    QCOMPARE(selection.makerFilter(), QStringLiteral("WINBOND"));
    QCOMPARE(selection.devices(), listed);
    QCOMPARE(selection.deviceRow(), listed.isEmpty() ? -1 : 0);
}

void TestDeviceSelectDialog::typeChoiceListsOneFamily()
{
    store(QStringLiteral("W25Q32,"));
    DeviceSelection selection(catalogue(), settings());
    QCOMPARE(selection.makers(),
             (QStringList{"HYNIX", "MACRONIX", "SAMSUNG", "TOSHIBA", "WINBOND"}));
    QCOMPARE(selection.devices(), allDevices);
    QCOMPARE(selection.deviceRow(), 0);
    QCOMPARE(selection.nameText(), QStringLiteral("NAND OFNI"));

    selection.searchEdited(QStringLiteral("W25"));
    selection.setFavouriteRow(0);
    selection.typeChanged(2);
    QCOMPARE(selection.familyFilter(), 1);
    QCOMPARE(selection.searchEditText(), QString());
    QCOMPARE(selection.makers(), (QStringList{"MACRONIX", "WINBOND"}));
    QCOMPARE(selection.makerRow(), -1);
    QCOMPARE(selection.devices(), spiDevices);
    QCOMPARE(selection.deviceRow(), 0);
    QCOMPARE(selection.favouriteRow(), -1);
    QCOMPARE(selection.nameText(), QStringLiteral("SPI SFDP"));

    selection.makerChanged(0);
    QCOMPARE(selection.devices(), QStringList{"MX25L6405"});
    QCOMPARE(selection.nameText(), QStringLiteral("MX25L6405"));
    QCOMPARE(selection.makerText(), QStringLiteral("MACRONIX"));

    selection.typeChanged(0);
    QCOMPARE(selection.familyFilter(), int(DeviceSelection::AllFamilies));
    QCOMPARE(selection.makerFilter(), QString());
    QCOMPARE(selection.devices(), allDevices);
}

void TestDeviceSelectDialog::acceptTakesCurrentRow_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("favourite");
    QTest::addColumn<bool>("fromFavourites");
    QTest::addColumn<QString>("chosen");

    QTest::newRow("device") << "W25Q64"
                            << "" << false << "W25Q64";
    QTest::newRow("favourite after a click there") << "W25Q64"
                                                   << "MX25L6405" << true << "MX25L6405";
    QTest::newRow("favourite row, last click in devices") << "W25Q64"
                                                          << "MX25L6405" << false << "W25Q64";
    QTest::newRow("clicked favourites, none current") << "W25Q64"
                                                      << "" << true << "TC58NVG2S0F";
}

void TestDeviceSelectDialog::acceptTakesCurrentRow()
{
    QFETCH(QString, device);
    QFETCH(QString, favourite);
    QFETCH(bool, fromFavourites);
    QFETCH(QString, chosen);
    DeviceSelection::setChosenDevice(record("TC58NVG2S0F"));
    store(QStringLiteral("W25Q32,MX25L6405,"));
    DeviceSelection selection(catalogue(), settings());
    selection.deviceRowChanged(static_cast<int>(selection.devices().indexOf(device)));
    if (!favourite.isEmpty())
        selection.setFavouriteRow(static_cast<int>(selection.favourites().indexOf(favourite)));
    if (fromFavourites)
        selection.favouriteClicked();
    // Browsing alone chooses nothing.
    QCOMPARE(DeviceSelection::chosenDevice()->name, QStringLiteral("TC58NVG2S0F"));

    selection.accept();
    QCOMPARE(DeviceSelection::chosenDevice(), record(chosen));
    QCOMPARE(selection.chosenName(), chosen);
    if (chosen != QLatin1String("TC58NVG2S0F"))
        QCOMPARE(DeviceSelection::previousDevice(), record("TC58NVG2S0F"));
}

void TestDeviceSelectDialog::nothingChosenKeepsDevice()
{
    DeviceSelection::setChosenDevice(record("MX25L6405"));
    DeviceSelection selection(catalogue(), settings());
    selection.deviceRowChanged(static_cast<int>(selection.devices().indexOf("W25Q32")));
    QCOMPARE(selection.nameText(), QStringLiteral("W25Q32"));
    selection.searchEdited(QStringLiteral("nosuch"));
    QVERIFY(selection.devices().isEmpty());
    selection.accept();
    QCOMPARE(DeviceSelection::chosenDevice(), record("MX25L6405"));
    QCOMPARE(selection.chosenName(), QStringLiteral("MX25L6405"));

    // Nothing chosen before either: still nothing.
    DeviceSelection::resetChosenDevices();
    DeviceSelection empty(catalogue(), settings());
    empty.searchEdited(QStringLiteral("nosuch"));
    empty.itemDoubleClicked(QStringLiteral("nosuch"));
    QVERIFY(!DeviceSelection::chosenDevice());
    QCOMPARE(empty.chosenName(), QString());
}

void TestDeviceSelectDialog::layout()
{
    DeviceSelectDialog dialog(catalogue(), false);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Device Selection/Search"));
    QCOMPARE(dialog.size(), QSize(740, 470));
    QCOMPARE(dialog.minimumSize(), QSize(740, 470));
    QCOMPARE(dialog.maximumSize(), QSize(740, 470));
    QCOMPARE(dialog.searchEdit()->geometry(), QRect(QPoint(140, 7), QPoint(389, 26)));
    QCOMPARE(dialog.searchEdit()->mapTo(&dialog, QPoint(0, 0)), QPoint(150, 17));
    QCOMPARE(dialog.deviceList()->geometry(), QRect(QPoint(310, 80), QPoint(509, 259)));
    QCOMPARE(dialog.favouriteList()->geometry(), QRect(QPoint(560, 80), QPoint(729, 259)));
    QCOMPARE(dialog.addButton()->text(), QStringLiteral(">>"));
    QCOMPARE(dialog.removeButton()->geometry(), QRect(QPoint(520, 180), QPoint(549, 209)));
    QCOMPARE(dialog.selectButton()->geometry(), QRect(QPoint(230, 435), QPoint(304, 457)));
    QCOMPARE(dialog.cancelButton()->text(), QStringLiteral("Cancel"));

    QStringList labels;
    for (const QRadioButton *radio : dialog.typeButtons())
        labels << radio->text();
    QCOMPARE(labels, (QStringList{"ALL", "Nand", "SPI"}));
    QVERIFY(dialog.typeButtons().at(0)->isChecked());
    QCOMPARE(dialog.typeButtons().at(2)->geometry(), QRect(QPoint(10, 70), QPoint(109, 86)));

    QVERIFY(dialog.tipLabel()->wordWrap());
    QCOMPARE(dialog.tipLabel()->styleSheet(),
             QStringLiteral("QLabel{color:rgb(100,0,150);font:13px}"));
    const DeviceSelectDialog large(catalogue(), true);
    QCOMPARE(large.tipLabel()->styleSheet(),
             QStringLiteral("QLabel{color:rgb(100,0,150);font:26px}"));

    // The first device is under the cursor from the start.
    QCOMPARE(texts(dialog.deviceList()), allDevices);
    QCOMPARE(dialog.deviceList()->currentRow(), 0);
    QCOMPARE(dialog.nameLabel()->text(), QStringLiteral("NAND OFNI"));
    QCOMPARE(dialog.nameLabel()->styleSheet(), QStringLiteral("QLabel{color:rgb(100,0,150)}"));

    // Before the catalogue is loaded: no families, nothing listed, labels "-".
    DeviceCatalogue unloaded;
    DeviceSelectDialog none(unloaded, false);
    QCOMPARE(none.typeButtons().size(), 1);
    none.searchEdited(QStringLiteral("X"));
    none.accept();
    QCOMPARE(none.deviceList()->count(), 0);
    QCOMPARE(none.nameLabel()->text(), QStringLiteral("-"));
    QCOMPARE(none.makerLabel()->text(), QStringLiteral("-"));
    QVERIFY(none.nameLabel()->styleSheet().isEmpty());
}

void TestDeviceSelectDialog::widgetSearchAndType()
{
    DeviceSelectDialog dialog(catalogue(), false);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseClick(dialog.typeButtons().at(2), Qt::LeftButton, {}, onIndicator);
    QCOMPARE(dialog.selection().familyFilter(), 1);
    QCOMPARE(texts(dialog.makerList()), (QStringList{"MACRONIX", "WINBOND"}));
    QCOMPARE(texts(dialog.deviceList()), spiDevices);

    QTest::keyClicks(dialog.searchEdit(), QStringLiteral("w2"));
    QCOMPARE(texts(dialog.deviceList()),
             (QStringList{"W29N01HV", "W25Q64FV", "W25Q64", "W25Q32", "W25Q64FV"}));
    QVERIFY(dialog.typeButtons().at(0)->isChecked());
    QCOMPARE(dialog.deviceList()->currentRow(), -1);

    // Choosing a family clears the field without counting as an edit.
    QTest::mouseClick(dialog.typeButtons().at(2), Qt::LeftButton, {}, onIndicator);
    QCOMPARE(dialog.searchEdit()->text(), QString());
    QCOMPARE(dialog.selection().searchText(), QStringLiteral("W2"));
    QCOMPARE(texts(dialog.deviceList()), spiDevices);

    // A maker click narrows the devices and shows the one under the cursor.
    dialog.makerList()->setCurrentRow(1);
    QCOMPARE(texts(dialog.deviceList()), (QStringList{"W25Q64FV", "W25Q64", "W25Q32"}));
    QCOMPARE(dialog.nameLabel()->text(), QStringLiteral("W25Q64FV"));
    QCOMPARE(dialog.makerLabel()->text(), QStringLiteral("WINBOND"));
    QCOMPARE(dialog.makerList()->currentRow(), 1);

    // Return in the search field selects; it adds no favourite.
    QTest::keyClick(dialog.searchEdit(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(DeviceSelection::chosenDevice(), record("W25Q64FV"));
    QCOMPARE(dialog.favouriteList()->count(), 0);
    QCOMPARE(stored(), QString());
}

void TestDeviceSelectDialog::doubleClickOnFavouriteAccepts()
{
    store(QStringLiteral("W25Q32,MX25L6405,"));
    DeviceSelectDialog dialog(catalogue(), false);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QListWidget *favourites = dialog.favouriteList();
    QCOMPARE(texts(favourites), (QStringList{"MX25L6405", "W25Q32"}));

    QTest::mouseClick(favourites->viewport(), Qt::LeftButton, {}, centreOf(favourites, 1));
    QVERIFY(dialog.selection().fromFavourites());
    QCOMPARE(favourites->currentRow(), 1);
    QTest::mouseDClick(favourites->viewport(), Qt::LeftButton, {}, centreOf(favourites, 1));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(DeviceSelection::chosenDevice(), record("W25Q32"));
    QCOMPARE(dialog.chosenName(), QStringLiteral("W25Q32"));
}

void TestDeviceSelectDialog::widgetFavouriteButtons()
{
    store(QStringLiteral("W25Q64FV,W25Q64,"));
    auto dialog = std::make_unique<DeviceSelectDialog>(catalogue(), false);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

    dialog->deviceList()->setCurrentRow(static_cast<int>(allDevices.indexOf("HY27UF081G2A")));
    QTest::mouseClick(dialog->addButton(), Qt::LeftButton);
    QCOMPARE(stored(), QStringLiteral("W25Q64FV,W25Q64,HY27UF081G2A,"));
    QCOMPARE(texts(dialog->favouriteList()), (QStringList{"HY27UF081G2A", "W25Q64", "W25Q64FV"}));

    QListWidget *favourites = dialog->favouriteList();
    QTest::mouseClick(favourites->viewport(), Qt::LeftButton, {}, centreOf(favourites, 1));
    QTest::mouseClick(dialog->removeButton(), Qt::LeftButton);
    QCOMPARE(stored(), QStringLiteral("W25Q64FV,HY27UF081G2A,"));
    QCOMPARE(favourites->currentRow(), 1);
    QCOMPARE(dialog->deviceList()->currentRow(), -1);
    QTest::mouseClick(dialog->removeButton(), Qt::LeftButton);
    QCOMPARE(stored(), QStringLiteral("HY27UF081G2A,"));
    QCOMPARE(favourites->currentRow(), -1);

    // Cancelled: the changes are kept, no device is chosen.
    QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!DeviceSelection::chosenDevice());
    dialog = std::make_unique<DeviceSelectDialog>(catalogue(), false);
    QCOMPARE(texts(dialog->favouriteList()), QStringList{"HY27UF081G2A"});
}

KORVANE_TEST_MAIN_WITH(QApplication, TestDeviceSelectDialog)
#include "tst_device_select_dialog.moc"
