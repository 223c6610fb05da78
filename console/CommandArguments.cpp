#include "CommandArguments.h"

#include "CCmd.h"
#include "ChipEngine.h"
#include "CommandConsole.h"

#include <limits>

namespace {

bool isHexWord(const QString &word)
{
    if (word.isEmpty())
        return false;
    for (const QChar c : word) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

bool isDecimalWord(const QString &word)
{
    if (word.isEmpty())
        return false;
    for (const QChar c : word) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    }
    return true;
}

// The end of [start, start + length), held at the largest value.
quint64 endOf(quint64 start, quint64 length)
{
    constexpr quint64 Max = std::numeric_limits<quint64>::max();
    return length > Max - start ? Max : start + length;
}

} // namespace

std::optional<quint64> CommandArguments::hex(const QString &word)
{
    // Only digits: toULongLong alone would take blanks, signs and "0x".
    if (!isHexWord(word))
        return std::nullopt;
    bool ok = false;
    const quint64 value = word.toULongLong(&ok, 16);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

std::optional<quint16> CommandArguments::decimal16(const QString &word)
{
    if (!isDecimalWord(word))
        return std::nullopt;
    bool ok = false;
    const quint16 value = word.toUShort(&ok, 10);
    return ok ? std::optional<quint16>(value) : std::nullopt;
}

QString CommandArguments::hexText(quint64 value)
{
    return QString::number(value, 16);
}

std::optional<CommandArguments::Range> CommandArguments::range(const QStringList &arguments,
                                                               ChipEngine &engine,
                                                               const CCmd &command,
                                                               CommandConsole &console)
{
    Range range;
    if (arguments.size() == 2) {
        const std::optional<quint64> start = hex(arguments[0]);
        const std::optional<quint64> length = hex(arguments[1]);
        if (!start || !length) {
            command.printUsage(console);
            return std::nullopt;
        }
        range.given = true;
        range.start = *start;
        range.length = *length;
    }
    const quint64 askedStart = range.start;
    const quint64 askedLength = range.length;
    engine.normalizeRange(range.start, range.length);
    if (range.given) {
        range.changed = range.start != askedStart || range.length != askedLength;
        range.widened = range.start < askedStart ||
                        endOf(range.start, range.length) > endOf(askedStart, askedLength);
    }
    return range;
}

QString CommandArguments::rangeLine(const CCmd &command, const Range &range)
{
    return command.keyword() + QLatin1Char(' ') + hexText(range.start) + QLatin1Char(' ') +
           hexText(range.length);
}
