// An ONFI parameter page as a chip might send it.
#include "CDeviceItemNand.h"
#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray page = fuzzBytes(data, size);
    for (int ceCount : {1, 2, 4}) {
        const OnfiParameters p = CDeviceItemNand::parseOnfi(page, ceCount);
        if (!p.valid) {
            CDeviceItemNand untouched;
            FUZZ_CHECK(!untouched.fillFromOnfi(p));
            FUZZ_CHECK(untouched.size == 0 && untouched.pageSize == 0x840);
            continue;
        }
        FUZZ_CHECK(size >= static_cast<size_t>(OnfiParameters::MinimumSize));
        FUZZ_CHECK(p.totalSize != 0);
        FUZZ_CHECK(p.totalSize == quint64(p.pagesPerBlock) * p.blocksPerLun * p.lunCount *
                                      quint64(ceCount) *
                                      (quint64(p.dataBytesPerPage) + p.spareBytesPerPage));
        FUZZ_CHECK(p.manufacturer.size() <= 12 && p.model.size() <= 20);

        CDeviceItemNand item;
        FUZZ_CHECK(item.fillFromOnfi(p));
        FUZZ_CHECK(item.size == p.totalSize);
        FUZZ_CHECK(item.pageSize == p.dataBytesPerPage + p.spareBytesPerPage);
        FUZZ_CHECK(item.blockSize > 0);
        FUZZ_CHECK(item.ce == ceCount);
        FUZZ_CHECK(item.pageClass >= 0 && item.pageClass <= 2);
        (void)item.displayName();
        (void)item.catalogueLine();
    }
    return 0;
}
