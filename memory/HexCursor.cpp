#include "HexCursor.h"

#include "HexLayout.h"

#include <Qt>

#include <algorithm>

HexCursor HexCursor::stepped(qint64 delta, bool upper, quint64 size) const
{
    if (size == 0)
        return {};
    if (delta < 0) {
        const quint64 back = quint64(-(delta + 1)) + 1;
        if (back > m_offset)
            return {0, true};
        return HexCursor(m_offset - back, upper).clamped(size);
    }
    const quint64 forward = quint64(delta);
    if (m_offset >= size || forward > size - 1 - m_offset)
        return {size - 1, false};
    return {m_offset + forward, upper};
}

HexCursor HexCursor::clamped(quint64 size) const
{
    if (size == 0)
        return {};
    if (m_offset >= size)
        return {size - 1, false};
    return *this;
}

HexCursor HexCursor::moved(Move move, quint64 size, int visibleRows) const
{
    const qint64 row = HexLayout::BytesPerRow;
    const qint64 page = qint64(std::max(visibleRows - 1, 1)) * row;
    switch (move) {
    case Move::Left:
        return stepped(m_upper ? -1 : 0, !m_upper, size);
    case Move::Right:
        return stepped(m_upper ? 0 : 1, !m_upper, size);
    case Move::Up:
        return stepped(-row, m_upper, size);
    case Move::Down:
        return stepped(row, m_upper, size);
    case Move::PageUp:
        return stepped(-page, m_upper, size);
    case Move::PageDown:
        return stepped(page, m_upper, size);
    case Move::Home:
        return stepped(HomeStep, true, size);
    case Move::End:
        return stepped(EndStep, false, size);
    }
    return clamped(size);
}

HexCursor HexCursor::advanced(quint64 size) const
{
    return m_upper ? stepped(0, false, size) : stepped(1, true, size);
}

bool HexCursor::moveForKey(int key, Move *move)
{
    switch (key) {
    case Qt::Key_Left:
        *move = Move::Left;
        return true;
    case Qt::Key_Right:
        *move = Move::Right;
        return true;
    case Qt::Key_Up:
        *move = Move::Up;
        return true;
    case Qt::Key_Down:
        *move = Move::Down;
        return true;
    case Qt::Key_PageUp:
        *move = Move::PageUp;
        return true;
    case Qt::Key_PageDown:
        *move = Move::PageDown;
        return true;
    case Qt::Key_Home:
        *move = Move::Home;
        return true;
    case Qt::Key_End:
        *move = Move::End;
        return true;
    default:
        return false;
    }
}

int HexCursor::digitForKey(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return key - Qt::Key_0;
    if (key >= Qt::Key_A && key <= Qt::Key_F)
        return key - Qt::Key_A + 10;
    return -1;
}
