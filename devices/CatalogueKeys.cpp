#include "CatalogueKeys.h"

CatalogueKeys::CatalogueKeys(const QString &line) : m_line(line), m_upper(line.toUpper()) {}

bool CatalogueKeys::keepsCase(const QString &key)
{
    return key == QLatin1String("Message") || key == QLatin1String("Adapter");
}

bool CatalogueKeys::read(const QString &key, QString &value) const
{
    const QString pattern = key + QStringLiteral("=\"");
    if (keepsCase(key))
        return find(m_line, pattern, value);
    return find(m_upper, pattern.toUpper(), value);
}

bool CatalogueKeys::readKey(const QString &line, const QString &key, QString &value)
{
    return CatalogueKeys(line).read(key, value);
}

// A hit preceded by a letter A..Z is part of a longer key. Such a hit is
// skipped by searching on after it: no pattern (key, '=', '"') can overlap
// another hit of itself, so this finds the same hit as blanking the false one
// out and searching again from the start.
bool CatalogueKeys::find(const QString &text, const QString &pattern, QString &value)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype hit = text.indexOf(pattern, from);
        if (hit < 0)
            return false;
        if (hit > 0) {
            const QChar before = text.at(hit - 1);
            if (before >= QLatin1Char('A') && before <= QLatin1Char('Z')) {
                from = hit + 1;
                continue;
            }
        }
        const qsizetype start = hit + pattern.size();
        const qsizetype end = text.indexOf(QLatin1Char('"'), start);
        value = end < 0 ? text.mid(start) : text.mid(start, end - start);
        return true;
    }
}

quint64 CatalogueKeys::hexWithOptionalSuffix(const QString &value)
{
    QString digits = value;
    if (digits.endsWith(QLatin1Char('h')) || digits.endsWith(QLatin1Char('H')))
        digits.chop(1);
    return hex(digits);
}

quint64 CatalogueKeys::hexWithoutLastCharacter(const QString &value)
{
    return value.isEmpty() ? 0 : hex(value.chopped(1));
}

quint64 CatalogueKeys::hex(const QString &value)
{
    bool ok = false;
    const quint64 number = value.toULongLong(&ok, 16);
    return ok ? number : 0;
}

qint64 CatalogueKeys::decimal(const QString &value)
{
    bool ok = false;
    const qint64 number = value.toLongLong(&ok, 10);
    return ok ? number : 0;
}

quint32 CatalogueKeys::toUnsigned32(quint64 number)
{
    return number <= 0xFFFFFFFFu ? static_cast<quint32>(number) : 0;
}

qint32 CatalogueKeys::toSigned32(quint64 number)
{
    return number <= 0x7FFFFFFFu ? static_cast<qint32>(number) : 0;
}
