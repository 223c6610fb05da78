#include "FileListState.h"

#include <Qt>

#include <algorithm>

int FileListState::selectedEntry() const
{
    return holdsEntry(m_selectedRow) ? m_topRow + m_selectedRow : -1;
}

bool FileListState::holdsEntry(int row) const
{
    return row >= 0 && m_topRow + row < m_entryCount;
}

void FileListState::setEntries(int count)
{
    m_entryCount = std::max(0, count);
    m_topRow = 0;
    if (m_selectedRow >= m_entryCount)
        m_selectedRow = 0;
    m_openedByPress = -1;
    setMetrics(m_visibleRows * m_lineHeight, m_lineHeight);
}

void FileListState::setMetrics(int textHeight, int lineHeight)
{
    m_lineHeight = std::max(0, lineHeight);
    m_visibleRows = m_lineHeight > 0 ? std::max(0, textHeight) / m_lineHeight : 0;
    m_maximumTopRow = m_entryCount > m_visibleRows ? m_entryCount - m_visibleRows : 0;
    if (m_topRow > m_maximumTopRow)
        m_topRow = m_maximumTopRow;
}

void FileListState::resize(int textHeight, int lineHeight)
{
    m_selectedRow = 0;
    setMetrics(textHeight, lineHeight);
}

bool FileListState::setTopRow(int row)
{
    const int top = std::clamp(row, 0, m_maximumTopRow);
    if (top == m_topRow)
        return false;
    m_topRow = top;
    return true;
}

FileListState::Change FileListState::home()
{
    Change change;
    change.selection = m_selectedRow != 0;
    change.scroll = m_topRow != 0;
    m_selectedRow = 0;
    m_topRow = 0;
    return change;
}

FileListState::Change FileListState::end()
{
    if (m_topRow < m_maximumTopRow) {
        m_topRow = m_maximumTopRow;
        return {.scroll = true};
    }
    const int last = m_entryCount - 1 - m_topRow;
    if (m_entryCount == 0 || last == m_selectedRow)
        return {};
    m_selectedRow = last;
    return {.selection = true};
}

FileListState::Change FileListState::up()
{
    if (m_selectedRow > 0) {
        --m_selectedRow;
        return {.selection = true};
    }
    if (m_topRow > 0) {
        --m_topRow;
        return {.scroll = true};
    }
    return {};
}

FileListState::Change FileListState::down()
{
    if (m_topRow + m_selectedRow >= m_entryCount - 1)
        return {};
    if (m_selectedRow >= m_visibleRows - 1) {
        if (m_topRow >= m_maximumTopRow)
            return {};
        ++m_topRow;
        return {.scroll = true};
    }
    ++m_selectedRow;
    return {.selection = true};
}

FileListState::Change FileListState::pageUp()
{
    if (m_topRow == 0)
        return {};
    m_topRow = std::max(0, m_topRow - m_visibleRows);
    return {.scroll = true};
}

FileListState::Change FileListState::pageDown()
{
    if (m_topRow >= m_maximumTopRow)
        return {};
    m_topRow = std::min(m_maximumTopRow, m_topRow + m_visibleRows);
    return {.scroll = true};
}

std::optional<FileListState::Change> FileListState::key(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Home:
        return home();
    case Qt::Key_End:
        return end();
    case Qt::Key_Up:
        return up();
    case Qt::Key_Down:
        return down();
    case Qt::Key_PageUp:
        return pageUp();
    case Qt::Key_PageDown:
        return pageDown();
    default:
        return std::nullopt;
    }
}

int FileListState::rowAt(int y) const
{
    return m_lineHeight > 0 && y >= 0 ? y / m_lineHeight : -1;
}

FileListState::MouseResult FileListState::press(int y, bool quickRepeat)
{
    const int row = rowAt(y);
    if (!holdsEntry(row))
        return MouseResult::Nothing;
    const int entry = m_topRow + row;
    if (row != m_selectedRow) {
        m_selectedRow = row;
        m_openedByPress = -1;
        return MouseResult::Selected;
    }
    if (quickRepeat && m_openedByPress == entry)
        return MouseResult::Nothing;
    m_openedByPress = entry;
    return MouseResult::Open;
}

FileListState::MouseResult FileListState::doubleClick(int y)
{
    const int row = rowAt(y);
    if (!holdsEntry(row))
        return MouseResult::Nothing;
    const int entry = m_topRow + row;
    if (m_openedByPress == entry)
        return MouseResult::Nothing;
    m_selectedRow = row;
    m_openedByPress = entry;
    return MouseResult::Open;
}
