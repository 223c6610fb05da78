#include "TestHome.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
// An Intel HEX data line with its checksum.
QByteArray hexLine(unsigned address, unsigned type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    unsigned sum = 0;
    for (char b : bytes)
        sum += quint8(b);
    bytes.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return ':' + bytes.toHex().toUpper() + '\n';
}

const QByteArray endLine(":00000001FF\n");

struct Run
{
    int exitCode;
    QByteArray output;
    QByteArray generated;
};
} // namespace

class TestFwgen : public QObject
{
    Q_OBJECT
private slots:
    void convertsAndSplitsLongRecords();
    void rejectsBadInput_data();
    void rejectsBadInput();
    void checksTheRecordCount();

private:
    Run run(const QByteArray &hex, const QString &expected = QStringLiteral("0"));
    QTemporaryDir m_dir;
};

Run TestFwgen::run(const QByteArray &hex, const QString &expected)
{
    const QString input = m_dir.filePath(QStringLiteral("image.hex"));
    const QString output = m_dir.filePath(QStringLiteral("out.cpp"));
    QFile::remove(output);
    QFile file(input);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the input");
    file.write(hex);
    file.close();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(FWGEN), {output, QStringLiteral("testRecords"),
                                          QStringLiteral("Test image"), input, expected});
    process.waitForFinished(30000);
    QFile generated(output);
    Run result{process.exitCode(), process.readAll(), QByteArray()};
    if (generated.open(QIODevice::ReadOnly))
        result.generated = generated.readAll();
    return result;
}

void TestFwgen::convertsAndSplitsLongRecords()
{
    QByteArray data32;
    for (int i = 0; i < 32; ++i)
        data32.append(char(i));
    const Run result = run(hexLine(0x0100, 0, data32) + hexLine(0x0000, 0, QByteArray()) +
                           hexLine(0x16FF, 0, QByteArray(1, char(0xAB))) + "\r\n" + endLine);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(result.generated.contains("const FirmwareRecord testRecords[5] = {"));
    // The 32-byte line became two records of 16 at 0x0100 and 0x0110.
    QVERIFY(result.generated.contains("{0x10, 0, {0x00, 0x01}, 0, {0x00, 0x01, 0x02"));
    QVERIFY(result.generated.contains("{0x10, 0, {0x10, 0x01}, 0, {0x10, 0x11, 0x12"));
    // A record without data stays one record of length 0.
    QVERIFY(result.generated.contains("{0x00, 0, {0x00, 0x00}, 0, {0x00"));
    QVERIFY(result.generated.contains("{0x01, 0, {0xff, 0x16}, 0, {0xab"));
    QVERIFY(result.generated.contains("{0x00, 0, {0x00, 0x00}, 1, {"));
    QVERIFY(result.generated.contains("{\"Test image\", testRecords, 5},"));
}

void TestFwgen::rejectsBadInput_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("message");
    const QByteArray good = hexLine(0, 0, "\x02\x00\x10");
    QByteArray badSum = good;
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("checksum") << badSum + endLine << QByteArray("image.hex:1: checksum mismatch");
    QTest::newRow("type 04") << good + hexLine(0, 4, QByteArray(2, '\0')) + endLine
                             << QByteArray("image.hex:2: record type 4 is not supported");
    QTest::newRow("beyond 0x1700") << hexLine(0x16F8, 0, QByteArray(16, 'x')) + endLine
                                   << QByteArray("image.hex:1: data beyond the load limit 0x1700");
    QTest::newRow("no end") << good << QByteArray("no end-of-file record");
    QTest::newRow("after end") << good + endLine + good
                               << QByteArray("image.hex:3: data after the end-of-file record");
    QTest::newRow("no colon") << "020000000200FC\n" + endLine
                              << QByteArray("image.hex:1: a record must start with ':'");
    QTest::newRow("not hex") << ":0300000002G010EB\n" + endLine
                             << QByteArray("image.hex:1: not a hexadecimal digit");
    QTest::newRow("length") << ":05000000020010EB\n" + endLine
                            << QByteArray("image.hex:1: the length byte does not match");
    QTest::newRow("empty image") << endLine << QByteArray("the image holds no data");
    QTest::newRow("binary") << QByteArray("\x7f"
                                          "ELF\x02\x01\x01\0\0\0",
                                          10)
                            << QByteArray("image.hex:1: a record must start with ':'");
}

void TestFwgen::rejectsBadInput()
{
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, message);
    const Run result = run(hex);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.contains(message), result.output.constData());
    QVERIFY(result.generated.isEmpty());
}

void TestFwgen::checksTheRecordCount()
{
    const QByteArray hex = hexLine(0, 0, "\x02\x00\x10") + hexLine(3, 0, "\x32") + endLine;
    QCOMPARE(run(hex, QStringLiteral("3")).exitCode, 0);
    const Run wrong = run(hex, QStringLiteral("415"));
    QCOMPARE(wrong.exitCode, 1);
    QVERIFY2(wrong.output.contains("holds 3 records, Test image must have 415"),
             wrong.output.constData());
    QCOMPARE(run(hex, QStringLiteral("many")).exitCode, 2);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestFwgen)
#include "tst_fwgen.moc"
