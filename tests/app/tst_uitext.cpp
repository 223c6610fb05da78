#include "TestHome.h"
#include "UiText.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

namespace {
// Writes `bytes` to a new file in `dir` and returns its path.
QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

const QByteArray header("LanguageName=Test\n");

} // namespace

class TestUiText : public QObject
{
    Q_OBJECT
private slots:
    void builtInTextsByteForByte();
    void reservedAndOutOfRange();
    void firstEntryAtFiveFillsGap();
    void entriesOutOfOrderOrAbove190();
    void partialFileFallsBackAfterLastEntry();
    void entryFormat();
    void lineRules();
    void languageNameForms();
    void withoutLanguageNameLoadsEnglish();
    void encodingDecodesAndUnknownFallsBack();
    void badFilesNeverCorruptTheTable_data();
    void badFilesNeverCorruptTheTable();
    void longLinesAreCutAt1023Bytes();
    void registeredObjectsFollowTheLanguage();
    void deletedRegisteredObjectsAreSkipped();
    void textFromAnotherThread();

private:
    QTemporaryDir m_dir;
};

void TestUiText::builtInTextsByteForByte()
{
    UiText texts;
    QCOMPARE(texts.text(0), QStringLiteral("File"));
    QCOMPARE(texts.text(32), QStringLiteral("   Speed: "));
    QCOMPARE(texts.text(55), QStringLiteral("Target: "));
    QCOMPARE(texts.text(57), QStringLiteral("Are you sure you want to program?  "));
    QCOMPARE(texts.text(73), QStringLiteral("Incompatible  adapter(top module) detected."));
    QCOMPARE(texts.text(81), QStringLiteral("Usage: initusb\r\n Reinit the USB port."));
    QCOMPARE(texts.text(87),
             QStringLiteral("Usage: write \r\n Write memory to target from PC memory"));
    QCOMPARE(texts.text(92), QStringLiteral("Usage: configshow\r\nShow Existing config."));
    QCOMPARE(texts.text(123), QStringLiteral("Manufacture"));
    QCOMPARE(texts.text(135), QStringLiteral("Usage: devices\n Display all the devices"));
    QCOMPARE(texts.text(149), QStringLiteral("Duplcaite found"));
    QCOMPARE(texts.text(183), QStringLiteral("ID detection error, check pin connetion!!"));
    QCOMPARE(texts.text(186), QStringLiteral("Target bad block No. "));
    QCOMPARE(texts.text(190), QStringLiteral("Copy source badblock"));
}

void TestUiText::reservedAndOutOfRange()
{
    UiText texts;
    for (int reserved : {25, 26, 46, 47, 48, 49, 50, 51, 118, 119, 142, 143, 144})
        QVERIFY2(texts.text(reserved).isEmpty(), qPrintable(QString::number(reserved)));
    int nonEmpty = 0;
    for (int i = 0; i < UiText::Count; ++i)
        nonEmpty += texts.text(i).isEmpty() ? 0 : 1;
    QCOMPARE(nonEmpty, 178);
    QVERIFY(texts.text(-1).isEmpty());
    QVERIFY(texts.text(191).isEmpty());
    QVERIFY(texts.text(100000).isEmpty());
}

void TestUiText::firstEntryAtFiveFillsGap()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "five.txt", header + "0005=\"Oeffnen\";\n"));
    QCOMPARE(texts.text(5), QStringLiteral("Oeffnen"));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(texts.text(i), UiText::builtInText(i));
    QCOMPARE(texts.translationCount(), 6);
    QCOMPARE(texts.text(6), QStringLiteral("Load binary file"));
}

void TestUiText::entriesOutOfOrderOrAbove190()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "order.txt",
                                    header + "0012=\"twelve\";\n"
                                             "0010=\"ten\";\n"
                                             "0012=\"again\";\n"
                                             "0190=\"last\";\n"
                                             "0191=\"beyond\";\n"
                                             "9999=\"far\";\n"));
    QCOMPARE(texts.text(12), QStringLiteral("twelve"));
    QCOMPARE(texts.text(10), QStringLiteral("Select Device"));
    QCOMPARE(texts.text(190), QStringLiteral("last"));
    QVERIFY(texts.text(191).isEmpty());
    QCOMPARE(texts.translationCount(), 191);
    QCOMPARE(texts.text(100), QStringLiteral("No script files"));
}

void TestUiText::partialFileFallsBackAfterLastEntry()
{
    QByteArray file = header;
    for (int i = 0; i <= 20; ++i)
        file +=
            QByteArray::number(i).rightJustified(4, '0') + "=\"T" + QByteArray::number(i) + "\";\n";
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "twenty.txt", file));
    QCOMPARE(texts.text(0), QStringLiteral("T0"));
    QCOMPARE(texts.text(20), QStringLiteral("T20"));
    for (int i = 21; i <= 190; ++i)
        QCOMPARE(texts.text(i), UiText::builtInText(i));

    // Loading the built-in English again drops the translation.
    texts.loadTranslation(QString());
    QCOMPARE(texts.translationCount(), 0);
    QCOMPARE(texts.text(0), QStringLiteral("File"));
}

void TestUiText::entryFormat()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "format.txt",
                                    header + "0000=\"Da\"tei\";\n" // the last two characters go
                                             "0001=\"A\\r\\nB\\nC\";\n" // only \r\n is expanded
                                             "0002=\"\";\n"             // empty: the built-in text
                                             "0003= \"no\";\n"          // '="' not at position 4
                                             "04=\"no\";\n"             // index not four digits
                                             "+005=\"no\";\n"           // not a decimal index
                                             "0006=\"a  b   c\";\n"));  // inner blanks collapse
    QCOMPARE(texts.text(0), QStringLiteral("Da\"tei"));
    QCOMPARE(texts.text(1), QStringLiteral("A\r\nB\\nC"));
    QCOMPARE(texts.text(2), QStringLiteral("Exit the application"));
    QCOMPARE(texts.text(3), QStringLiteral("Error"));
    QCOMPARE(texts.text(4), QStringLiteral("Language Update Failed"));
    QCOMPARE(texts.text(5), QStringLiteral("Open"));
    QCOMPARE(texts.text(6), QStringLiteral("a b c"));
}

void TestUiText::lineRules()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "lines.txt",
                                    "; a comment\n"
                                    "/0000=\"comment\";\n"
                                    "\t  LanguageName=Rules  \r\n"
                                    ";0001=\"comment\";\n"
                                    "0002=\"\r\n" // too short once simplified
                                    "   0003=\"indented\";   \r\n"
                                    "\n\n"));
    QCOMPARE(texts.text(0), QStringLiteral("File"));
    QCOMPARE(texts.text(1), QStringLiteral("Exit"));
    QCOMPARE(texts.text(2), QStringLiteral("Exit the application"));
    QCOMPARE(texts.text(3), QStringLiteral("indented"));
    QCOMPARE(UiText::languageName(m_dir.filePath("lines.txt")), QStringLiteral("Rules"));
}

void TestUiText::languageNameForms()
{
    QCOMPARE(UiText::languageName(writeFile(m_dir, "n1.txt", "LanguageName=Deutsch\n")),
             QStringLiteral("Deutsch"));
    QCOMPARE(UiText::languageName(writeFile(m_dir, "n2.txt", "LanguageName   =   Français\n")),
             QString::fromLatin1("Fran\xc3\xa7"
                                 "ais")); // no codec: bytes as Latin-1
    QCOMPARE(UiText::languageName(writeFile(m_dir, "n3.txt",
                                            "Encoding=UTF-8\nLanguageName = Fran\xc3\xa7"
                                            "ais\n")),
             QString::fromUtf8("Fran\xc3\xa7"
                               "ais"));
    // The first name wins; a commented one does not count.
    QCOMPARE(UiText::languageName(writeFile(
                 m_dir, "n4.txt", ";LanguageName=Hidden\nLanguageName=One\nLanguageName=Two\n")),
             QStringLiteral("One"));
    QCOMPARE(UiText::languageName(writeFile(m_dir, "n5.txt", "0001=\"x\";\n")), QString());
    QCOMPARE(UiText::languageName(m_dir.filePath("missing.txt")), QString());
    QCOMPARE(UiText::languageName(QString()), QString());
}

void TestUiText::withoutLanguageNameLoadsEnglish()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "noname.txt", "0000=\"Datei\";\n0001=\"Ende\";\n"));
    QCOMPARE(texts.translationCount(), 0);
    QCOMPARE(texts.text(0), QStringLiteral("File"));
}

void TestUiText::encodingDecodesAndUnknownFallsBack()
{
    UiText texts;
    texts.loadTranslation(writeFile(m_dir, "utf8.txt",
                                    "Encoding=UTF-8\nLanguageName=Deutsch\n0005=\"\xc3\x96"
                                    "ffnen\";\n"));
    QCOMPARE(texts.codecName(), QStringLiteral("UTF-8"));
    QCOMPARE(texts.text(5), QString::fromUtf8("\xc3\x96"
                                              "ffnen"));
    QCOMPARE(texts.text(0), QStringLiteral("File")); // built-ins pass the codec unchanged

    texts.loadTranslation(writeFile(m_dir, "latin.txt",
                                    "Encoding=ISO-8859-1\nLanguageName=Latin\n0005=\"\xd6"
                                    "ffnen\";\n"));
    QCOMPARE(texts.text(5), QString::fromUtf8("\xc3\x96"
                                              "ffnen"));

    texts.loadTranslation(writeFile(m_dir, "unknown.txt",
                                    "Encoding=NoSuchCodec-42\nLanguageName=X\n0005=\"abc\";\n"));
    QCOMPARE(texts.codecName(), QString::fromLatin1(QTextCodec::codecForLocale()->name()));
    QCOMPARE(texts.text(5), QStringLiteral("abc"));

    // A new load clears the codec of the previous one.
    texts.loadTranslation(writeFile(m_dir, "plain.txt", header + "0005=\"\xd6\";\n"));
    QVERIFY(texts.codecName().isEmpty());
    QCOMPARE(texts.text(5), QString(QChar(0xd6)));
}

void TestUiText::badFilesNeverCorruptTheTable_data()
{
    QTest::addColumn<QByteArray>("content");
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) & 0xff);
    QTest::newRow("binary") << binary;
    QTest::newRow("binary with name") << header + binary;
    QTest::newRow("broken quotes") << header + "0000=Datei;\n0001=\"\n0002\"=\"x\";\n0003=\"Y";
    QTest::newRow("huge index") << header + "0000=\"ok\";\n4294967296=\"x\";\n0001=\"fine\";\n";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only name") << header;
}

void TestUiText::badFilesNeverCorruptTheTable()
{
    QFETCH(QByteArray, content);
    UiText texts;
    texts.loadTranslation(
        writeFile(m_dir, QStringLiteral("bad-%1.txt").arg(QTest::currentDataTag()), content));
    QVERIFY(texts.translationCount() <= UiText::Count);
    for (int i = 0; i < UiText::Count; ++i) {
        const bool reserved = QByteArray(UiText::builtInTexts[i]).isEmpty();
        QVERIFY2(reserved || !texts.text(i).isEmpty(), qPrintable(QString::number(i)));
    }
    if (QByteArray(QTest::currentDataTag()) == "huge index") {
        QCOMPARE(texts.text(0), QStringLiteral("ok"));
        QCOMPARE(texts.text(1), QStringLiteral("fine"));
    }
    // A folder cannot be read as a file: English.
    texts.loadTranslation(m_dir.path());
    QCOMPARE(texts.text(0), QStringLiteral("File"));
}

void TestUiText::longLinesAreCutAt1023Bytes()
{
    // Line 1 is 1023 bytes exactly and fits; line 2 is longer: its first 1023
    // bytes are one line, the rest is read as the next line.
    QByteArray fits = "0001=\"" + QByteArray(1015, 'a') + "\";";
    QCOMPARE(fits.size(), 1023);
    QByteArray tooLong = "0002=\"" + QByteArray(1017, 'b') + "0003=\"tail\";";
    QByteArray huge = "0004=\"" + QByteArray(100000, 'c') + "\";";
    UiText texts;
    texts.loadTranslation(writeFile(
        m_dir, "long.txt", header + fits + "\n" + tooLong + "\n" + huge + "\n0005=\"ok\";\n"));
    QCOMPARE(texts.text(1), QString(1015, QLatin1Char('a')));
    QCOMPARE(texts.text(2).size(), 1023 - 6 - 2);
    QCOMPARE(texts.text(3), QStringLiteral("tail"));
    QCOMPARE(texts.text(4).size(), 1023 - 6 - 2);
    QCOMPARE(texts.text(5), QStringLiteral("ok"));
}

void TestUiText::registeredObjectsFollowTheLanguage()
{
    UiText texts;
    QObject menu, action, label;
    texts.registerMenu(&menu, 0);
    texts.registerAction(&action, 1, 2);
    texts.registerLabel(&label, 111);
    texts.registerLabel(&label, 111);
    QCOMPARE(menu.property("title").toString(), QStringLiteral("File"));
    QCOMPARE(action.property("text").toString(), QStringLiteral("Exit"));
    QCOMPARE(action.property("statusTip").toString(), QStringLiteral("Exit the application"));
    QCOMPARE(label.property("text").toString(), QStringLiteral("Available Language"));

    texts.loadTranslation(writeFile(m_dir, "reg.txt",
                                    "Encoding=UTF-8\nLanguageName=Deutsch\n0000=\"Datei\";\n"
                                    "0001=\"Beenden\";\n0002=\"Programm beenden\";\n"
                                    "0111=\"Verf\xc3\xbc"
                                    "gbar\";\n"));
    QCOMPARE(menu.property("title").toString(), QStringLiteral("Datei"));
    QCOMPARE(action.property("text").toString(), QStringLiteral("Beenden"));
    QCOMPARE(action.property("statusTip").toString(), QStringLiteral("Programm beenden"));
    QCOMPARE(label.property("text").toString(), QString::fromUtf8("Verf\xc3\xbcgbar"));

    // A label is listed once: registering it again with another index sets
    // its text now, but later passes keep following the first registration.
    texts.registerLabel(&label, 110);
    QCOMPARE(label.property("text").toString(), QStringLiteral("Language Selection"));
    texts.retranslate();
    QCOMPARE(label.property("text").toString(), QString::fromUtf8("Verf\xc3\xbcgbar"));

    texts.loadTranslation(QString());
    QCOMPARE(menu.property("title").toString(), QStringLiteral("File"));
    QCOMPARE(label.property("text").toString(), QStringLiteral("Available Language"));
}

void TestUiText::deletedRegisteredObjectsAreSkipped()
{
    UiText texts;
    auto *menu = new QObject;
    QObject kept;
    texts.registerMenu(menu, 0);
    texts.registerMenu(&kept, 9);
    delete menu;
    texts.loadTranslation(writeFile(m_dir, "del.txt", header + "0009=\"Werkzeuge\";\n"));
    QCOMPARE(kept.property("title").toString(), QStringLiteral("Werkzeuge"));
}

void TestUiText::textFromAnotherThread()
{
    UiText texts;
    const QString path = writeFile(m_dir, "thread.txt", header + "0065=\"Zeit\";\n");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    QThread *reader = QThread::create([&] {
        while (!stop) {
            const QString t = texts.text(65);
            if (t != QStringLiteral("Time") && t != QStringLiteral("Zeit"))
                ++bad;
        }
    });
    reader->start();
    for (int i = 0; i < 200; ++i)
        texts.loadTranslation(i % 2 ? QString() : path);
    stop = true;
    reader->wait();
    delete reader;
    QCOMPARE(bad.load(), 0);
}

KORVANE_TEST_MAIN_WITH(QCoreApplication, TestUiText)
#include "tst_uitext.moc"
