// parseLine() of a NAND record on arbitrary text, then everything a caller
// does with an accepted record.
#include "CDeviceItemNand.h"
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    CDeviceItemNand item;
    if (!item.parseLine(line))
        return 0;

    FUZZ_CHECK(item.idCount >= 0 && item.idCount <= CDeviceItemNand::LineIdBytes);
    FUZZ_CHECK(item.pageClass >= 0 && item.pageClass <= 2);
    FUZZ_CHECK(item.ce == 1 || item.ce == 2 || item.ce == 4);
    FUZZ_CHECK(item.speed >= 1 && item.speed <= 10);
    for (int flag : item.initFlags)
        FUZZ_CHECK(flag >= 0 && flag <= 2);
    for (int i = item.idCount; i < CDeviceItemNand::IdBytes; ++i)
        FUZZ_CHECK(!item.idKnown[i]);

    int lines = 0;
    item.printInfo([&lines](const QString &) { ++lines; }, false);
    FUZZ_CHECK(lines == 3);
    (void)item.displayName();
    (void)item.shortName();

    // Matching against the line's own bytes, short and long.
    const QByteArray bytes = fuzzBytes(data, size < 7 ? size : 7);
    (void)item.matchId(bytes);
    // The record matches the ID it was written with.
    if (item.idKnown[0]) {
        QByteArray own(7, '\0');
        for (int i = 0; i < CDeviceItemNand::IdBytes; ++i)
            own[i] = static_cast<char>(item.id[i]);
        FUZZ_CHECK(item.matchId(own));
    }

    // What the record writes back, it reads back as an accepted line.
    CDeviceItemNand back;
    const QString written = item.catalogueLine();
    if (!item.name.contains(QLatin1Char('=')) && !item.manufacturer.contains(QLatin1Char('='))) {
        FUZZ_CHECK(back.parseLine(written));
        FUZZ_CHECK(back.size == item.size);
        FUZZ_CHECK(back.pageSize == item.pageSize);
        FUZZ_CHECK(back.ce == item.ce);
    }
    return 0;
}
