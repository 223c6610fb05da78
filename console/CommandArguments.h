#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

class CCmd;
class ChipEngine;
class CommandConsole;

// How the commands read their arguments and the "address length" range of
// READ, VERIFY, BLKCHK, PROGRAM and ERASE.
class CommandArguments
{
public:
    // A hexadecimal number without prefix, unsigned 64-bit. Nothing for a
    // word that is not one (empty, other characters, more than 64 bits).
    static std::optional<quint64> hex(const QString &word);
    // A decimal unsigned 16-bit number; nothing otherwise.
    static std::optional<quint16> decimal16(const QString &word);
    // Lower-case hexadecimal without leading zeros.
    static QString hexText(quint64 value);

    struct Range
    {
        quint64 start = 0;
        quint64 length = 0;
        // Exactly two arguments were given.
        bool given = false;
        // The engine's adjustment changed the given range.
        bool changed = false;
        // The adjusted range reaches outside the given one.
        bool widened = false;
    };
    // Reads "address length" (both only when exactly two arguments are
    // given, else 0 and 0), then lets the engine adjust them to the device.
    // Nothing, after printing the command's usage, when one of the two is
    // not a number.
    static std::optional<Range> range(const QStringList &arguments, ChipEngine &engine,
                                      const CCmd &command, CommandConsole &console);
    // The line that shows a range: keyword, address, length.
    static QString rangeLine(const CCmd &command, const Range &range);
};
