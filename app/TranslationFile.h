#pragma once

#include <QByteArray>
#include <QIODevice>

class QTextCodec;

// Line reader of the translation file format: lines of at most 1023 bytes,
// simplified, with the rules that classify them.
class TranslationFile
{
public:
    static constexpr qint64 MaxLineBytes = 1023;
    static constexpr int LastIndex = 190;

    explicit TranslationFile(QIODevice *device) : m_device(device) {}

    // Reads the next line; false at the end of the file.
    bool next(QByteArray &line);

    static bool isComment(const QByteArray &line);
    static bool isEncoding(const QByteArray &line);
    // Codec of an "Encoding=<name>" line; an unknown name gives the system
    // (locale) codec.
    static QTextCodec *codecOf(const QByteArray &line);
    // "LanguageName=<name>" (also written "LanguageName = <name>"): sets
    // `name` to the bytes after the sign.
    static bool languageName(const QByteArray &line, QByteArray &name);
    // "NNNN=\"...": index and text (the rest without its last two
    // characters, with each \r\n sequence expanded).
    static bool textEntry(const QByteArray &line, int &index, QByteArray &text);

private:
    QIODevice *m_device;
};
