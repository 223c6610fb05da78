#include "TranslationFile.h"

#include <QTextCodec>

bool TranslationFile::next(QByteArray &line)
{
    if (m_device->atEnd())
        return false;
    // readLine(n) keeps n - 1 bytes, as fgets does.
    line = m_device->readLine(MaxLineBytes + 1).simplified();
    return true;
}

bool TranslationFile::isComment(const QByteArray &line)
{
    return line.startsWith(';') || line.startsWith('/');
}

bool TranslationFile::isEncoding(const QByteArray &line)
{
    return line.startsWith("Encoding");
}

QTextCodec *TranslationFile::codecOf(const QByteArray &line)
{
    if (QTextCodec *codec = QTextCodec::codecForName(line.mid(9)))
        return codec;
    // "System" is the locale's codec; newer Qt no longer knows it by that name.
    if (QTextCodec *system = QTextCodec::codecForName("System"))
        return system;
    return QTextCodec::codecForLocale();
}

bool TranslationFile::languageName(const QByteArray &line, QByteArray &name)
{
    static const QByteArray spaced("LanguageName = ");
    static const QByteArray plain("LanguageName=");
    QByteArray normalised = line;
    if (normalised.startsWith(spaced))
        normalised = plain + normalised.mid(spaced.size());
    if (!normalised.startsWith(plain))
        return false;
    name = normalised.mid(plain.size());
    return true;
}

bool TranslationFile::textEntry(const QByteArray &line, int &index, QByteArray &text)
{
    if (line.size() < 6 || line.indexOf("=\"") != 4)
        return false;
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = line.at(i);
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    index = value;
    text = line.mid(6);
    text.chop(2);
    text.replace("\\r\\n", "\r\n");
    return true;
}
