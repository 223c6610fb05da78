// A whole catalogue file's bytes through both families, then the catalogue
// operations on what they kept.
#include "CDeviceFamilyNand.h"
#include "CDeviceFamilySPI.h"
#include "CDeviceItemNand.h"
#include "CDeviceItemSPIFlash.h"
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = fuzzBytes(data, size);
    CDeviceFamilyNand nand;
    CDeviceFamilySPI spi;
    const int nandAdded = nand.addText(text);
    const int spiAdded = spi.addText(text);
    FUZZ_CHECK(nand.count() == 1 + nandAdded);
    FUZZ_CHECK(spi.count() == 1 + spiAdded);
    FUZZ_CHECK(nand.placeholder()->name == QStringLiteral("NAND OFNI"));
    FUZZ_CHECK(spi.placeholder()->name == QStringLiteral("SPI SFDP"));

    // NAND names are unique.
    QStringList names;
    for (const CDeviceItem *item : nand.records())
        names << item->name;
    names.removeDuplicates();
    FUZZ_CHECK(names.size() == nand.count());

    int lines = 0;
    const TextSink count = [&lines](const QString &) { ++lines; };
    nand.printAll(count, true);
    spi.printAll(count, true);
    FUZZ_CHECK(lines == 2 + 2 * (nand.count() + spi.count()));

    // Look every record up by its name and its own ID.
    int chooserCalls = 0;
    nand.setChooser([&chooserCalls](const QStringList &offered) {
        ++chooserCalls;
        return static_cast<int>(offered.size()) - 1;
    });
    for (int i = 1; i < nand.count(); ++i) {
        const auto *item = static_cast<const CDeviceItemNand *>(nand.record(i));
        FUZZ_CHECK(nand.findByName(item->name) == item);
        QByteArray id(7, '\0');
        for (int j = 0; j < CDeviceItemNand::IdBytes; ++j)
            id[j] = static_cast<char>(item->id[j]);
        CDeviceItem *found = nand.findById(0, id, true);
        FUZZ_CHECK(!item->idKnown[0] || found);
        nand.reportDuplicates(count, 0, id);
    }
    for (int i = 1; i < spi.count(); ++i) {
        const auto *item = static_cast<const CDeviceItemSPIFlash *>(spi.record(i));
        const QByteArray id(reinterpret_cast<const char *>(item->id.data()), 3);
        FUZZ_CHECK((spi.findById(1, id, true) != nullptr) == (item->id[0] != 0xFF));
        spi.reportDuplicates(count, 1, id);
    }
    return 0;
}
