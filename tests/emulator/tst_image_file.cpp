#include "TestHome.h"

#include "ImageFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <stdexcept>
#include <vector>

using kvemu::chips::ImageFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readBack(const ImageFile &image, std::uint64_t offset, std::size_t length)
{
    Bytes out(length, 0x55);
    image.read(offset, out);
    return out;
}

std::uint64_t allocatedBytes(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

} // namespace

// The file behind the emulated chips: erased when new, sparse, flash and
// EEPROM writes, persistent between openings.
class TestImageFile : public QObject
{
    Q_OBJECT
private slots:
    void newFileIsErasedAndSparse();
    void programOnlyClearsBits();
    void writeOverwritesAndEraseRestores();
    void contentsSurviveReopening();
    void shorterFileGrowsErased();
    void readsPastTheEndAreErased();
    void temporaryFileWorks();
    void unusablePathThrows();
};

void TestImageFile::newFileIsErasedAndSparse()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("chip.img");
    ImageFile image(path.toStdString(), 4ull << 30); // 4 GiB
    QCOMPARE(image.size(), 4ull << 30);
    QCOMPARE(QFileInfo(path).size(), qint64(4ll << 30));
    QCOMPARE(readBack(image, 0, 16), Bytes(16, 0xFF));
    QCOMPARE(readBack(image, (4ull << 30) - 16, 16), Bytes(16, 0xFF));
    QVERIFY(allocatedBytes(path) < 1024 * 1024);
}

void TestImageFile::programOnlyClearsBits()
{
    ImageFile image({}, 4096);
    image.program(100, Bytes{0xF0, 0x0F, 0xAA});
    QCOMPARE(readBack(image, 99, 5), (Bytes{0xFF, 0xF0, 0x0F, 0xAA, 0xFF}));
    // A second program can clear more bits but never set one.
    image.program(100, Bytes{0x3C, 0xFF, 0x55});
    QCOMPARE(readBack(image, 100, 3), (Bytes{0x30, 0x0F, 0x00}));
}

void TestImageFile::writeOverwritesAndEraseRestores()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("e.img");
    ImageFile image(path.toStdString(), 1 << 20);
    image.write(10, Bytes{0x00, 0x12});
    image.write(10, Bytes{0xFF, 0x34}); // an EEPROM write sets bits too
    QCOMPARE(readBack(image, 10, 2), (Bytes{0xFF, 0x34}));
    Bytes pattern(65536);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i * 7);
    image.write(65536, pattern);
    QVERIFY(allocatedBytes(path) >= 65536);
    image.erase(65536 + 100, 65536 - 200); // unaligned at both ends
    const Bytes after = readBack(image, 65536, 65536);
    QCOMPARE(Bytes(after.begin(), after.begin() + 100),
             Bytes(pattern.begin(), pattern.begin() + 100));
    QCOMPARE(Bytes(after.begin() + 100, after.end() - 100), Bytes(65536 - 200, 0xFF));
    QCOMPARE(Bytes(after.end() - 100, after.end()), Bytes(pattern.end() - 100, pattern.end()));
    image.erase(0, 1 << 20);
    QCOMPARE(readBack(image, 65536, 16), Bytes(16, 0xFF));
    QVERIFY(allocatedBytes(path) < 65536);
}

void TestImageFile::contentsSurviveReopening()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("keep.img").toStdString();
    {
        ImageFile image(path, 1 << 16);
        image.program(0x1234, Bytes{0x12, 0x34});
    }
    ImageFile again(path, 1 << 16);
    QCOMPARE(readBack(again, 0x1233, 4), (Bytes{0xFF, 0x12, 0x34, 0xFF}));
}

void TestImageFile::shorterFileGrowsErased()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("grow.img").toStdString();
    {
        ImageFile image(path, 100);
        image.program(99, Bytes{0x00});
    }
    ImageFile bigger(path, 200);
    QCOMPARE(bigger.size(), 200u);
    QCOMPARE(readBack(bigger, 98, 4), (Bytes{0xFF, 0x00, 0xFF, 0xFF}));
    QCOMPARE(QFileInfo(QString::fromStdString(path)).size(), qint64(200));
}

void TestImageFile::readsPastTheEndAreErased()
{
    ImageFile image({}, 10);
    image.program(8, Bytes{1, 2, 3, 4}); // only two bytes fit
    QCOMPARE(readBack(image, 8, 4), (Bytes{1, 2, 0xFF, 0xFF}));
    QCOMPARE(readBack(image, 1000, 3), Bytes(3, 0xFF));
    image.write(1000, Bytes{0}); // ignored
    image.erase(1000, 10);       // ignored
}

void TestImageFile::temporaryFileWorks()
{
    ImageFile image({}, 1ull << 32);
    QVERIFY(image.path().empty());
    image.program((1ull << 32) - 1, Bytes{0x5A});
    QCOMPARE(readBack(image, (1ull << 32) - 2, 2), (Bytes{0xFF, 0x5A}));
}

void TestImageFile::unusablePathThrows()
{
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ImageFile("/nonexistent-folder-kvemu/x.img", 16));
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestImageFile)
#include "tst_image_file.moc"
