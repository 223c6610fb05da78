#pragma once

#include <QString>

// Reads key="value" items from one catalogue line.
//
// Keys are case-insensitive and their values come back in upper case, except
// for "Message" and "Adapter", which are searched and returned in the line's
// own case. A hit that directly follows a letter A..Z belongs to a longer key
// ("size" inside "PageSize") and is passed over. The value runs up to the next
// double quote or the end of the line. Keys may stand in any order.
class CatalogueKeys
{
public:
    explicit CatalogueKeys(const QString &line);

    // True when `key` is present; its value is stored in `value`.
    bool read(const QString &key, QString &value) const;

    // One-off form of read().
    static bool readKey(const QString &line, const QString &key, QString &value);

    // Number conventions of the catalogue. Text that is not a number reads as 0.
    // Hexadecimal after removing a trailing "h" or "H" if present ("size", "Algo").
    static quint64 hexWithOptionalSuffix(const QString &value);
    // Hexadecimal after removing the last character, whatever it is (the "h"
    // of "ID1".."ID5", "PageSize", "BlockSize", "SectorSize", "SectorNum").
    static quint64 hexWithoutLastCharacter(const QString &value);
    // Hexadecimal as written ("CE").
    static quint64 hex(const QString &value);
    // Decimal ("Speed", "IO").
    static qint64 decimal(const QString &value);
    // A number too large for a 32-bit field does not count as a number: 0.
    static quint32 toUnsigned32(quint64 number);
    static qint32 toSigned32(quint64 number);

private:
    static bool keepsCase(const QString &key);
    static bool find(const QString &text, const QString &pattern, QString &value);

    QString m_line;
    QString m_upper;
};
