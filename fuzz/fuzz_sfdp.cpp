// An SFDP table as a chip might send it.
#include "CDeviceFamilySPI.h"
#include "CDeviceItemSPIFlash.h"
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const SfdpParameters p = CDeviceItemSPIFlash::parseSfdp(fuzzBytes(data, size));
    CDeviceFamilySPI family;
    family.addLine(QStringLiteral("Name=\"M\",MFG=\"MAKER\",ID1=\"efh\",ID2=\"40h\",ID3=\"17h\","
                                  "size=\"800000h\",SectorSize=\"10000h\",SectorNum=\"80h\""));
    auto *placeholder = static_cast<CDeviceItemSPIFlash *>(family.placeholder());
    placeholder->id[0] = size > 0 ? data[0] : 0xEF;
    if (!p.valid) {
        FUZZ_CHECK(!placeholder->fillFromSfdp(p, &family));
        FUZZ_CHECK(placeholder->size == 0);
        return 0;
    }
    FUZZ_CHECK(p.density > 0 && p.density <= 0xFFFFFFFFu);
    FUZZ_CHECK(p.basicTableWords >= 2);
    FUZZ_CHECK(p.basicTableOffset <= CDeviceItemSPIFlash::MaxTablePointer);
    FUZZ_CHECK(quint64(p.basicTableOffset) + 4 * quint64(p.basicTableWords) <= size);
    FUZZ_CHECK(size_t(8) + 8 * size_t(p.headerCount) <= size);

    FUZZ_CHECK(placeholder->fillFromSfdp(p, &family));
    FUZZ_CHECK(placeholder->size == p.density);
    FUZZ_CHECK(placeholder->sectorSize == 0x10000);
    FUZZ_CHECK(quint64(placeholder->sectorNum) == p.density / 0x10000);
    (void)placeholder->displayName();
    return 0;
}
