#pragma once

#include <QtGlobal>

// The nibble cursor of a hex view: a byte offset in the node and which of
// its two digits. Every move is clamped to the node: before the start it
// stops on offset 0's upper nibble, past the end on the last byte's lower
// nibble; in an empty node it stays on offset 0's upper nibble.
class HexCursor
{
public:
    enum class Move { Left, Right, Up, Down, PageUp, PageDown, Home, End };

    static constexpr qint64 HomeStep = -0x08000000LL;
    static constexpr qint64 EndStep = 0x07FFFFFFLL;

    HexCursor() = default;
    HexCursor(quint64 offset, bool upper) : m_offset(offset), m_upper(upper) {}

    quint64 offset() const { return m_offset; }
    bool upper() const { return m_upper; }
    bool operator==(const HexCursor &) const = default;

    // The cursor after `move` in a node of `size` bytes; `visibleRows` is
    // the page for Page Up and Page Down.
    HexCursor moved(Move move, quint64 size, int visibleRows) const;
    // Where the cursor goes after a digit was typed: the lower nibble of the
    // same byte, or from the lower nibble the upper nibble of the next byte.
    HexCursor advanced(quint64 size) const;
    // This cursor inside a node of `size` bytes.
    HexCursor clamped(quint64 size) const;

    // The move a key makes (Qt::Key values), false for other keys.
    static bool moveForKey(int key, Move *move);
    // The value of a hexadecimal digit key (0-9, A-F with or without Shift),
    // -1 for other keys.
    static int digitForKey(int key);

private:
    // The cursor `delta` bytes away with nibble `upper`, clamped.
    HexCursor stepped(qint64 delta, bool upper, quint64 size) const;

    quint64 m_offset = 0;
    bool m_upper = true;
};
