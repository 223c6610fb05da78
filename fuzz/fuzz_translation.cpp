// A translation file's bytes through the line reader and its rules, then
// loaded into a text table of its own.
#include "FuzzChecks.h"
#include "TranslationFile.h"
#include "UiText.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    const QByteArray bytes = fuzzBytes(data, size);

    QBuffer buffer;
    buffer.setData(bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly | QIODevice::Text));
    TranslationFile reader(&buffer);
    QByteArray line;
    qint64 lines = 0;
    while (reader.next(line)) {
        // Every line moves the reader on: the file ends.
        FUZZ_CHECK(++lines <= qint64(size) + 1);
        FUZZ_CHECK(line.size() <= TranslationFile::MaxLineBytes);
        if (TranslationFile::isEncoding(line))
            FUZZ_CHECK(TranslationFile::codecOf(line) != nullptr);
        TranslationFile::isComment(line);
        QByteArray name;
        if (TranslationFile::languageName(line, name))
            FUZZ_CHECK(name.size() < line.size());
        int index = -1;
        QByteArray text;
        if (TranslationFile::textEntry(line, index, text))
            FUZZ_CHECK(index >= 0 && index <= 9999 && text.size() <= line.size());
    }

    const QString path = folder.filePath(QStringLiteral("Language.txt"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    UiText table;
    table.loadTranslation(path);
    FUZZ_CHECK(table.translationCount() <= UiText::Count);
    FUZZ_CHECK(table.text(-1).isEmpty() && table.text(UiText::Count).isEmpty());
    for (int i = 0; i < UiText::Count; ++i)
        table.text(i);
    UiText::languageName(path);
    return 0;
}
