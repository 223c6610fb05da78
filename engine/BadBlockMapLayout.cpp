#include "BadBlockMapLayout.h"

#include <algorithm>
#include <limits>

BadBlockMapLayout::BadBlockMapLayout(int cell, int margin, int width, int height,
                                     quint32 blockCount)
    : m_cell(std::clamp(cell, 1, MaxCell)), m_margin(std::clamp(margin, 0, MaxCell)),
      m_height(std::max(height, 0)), m_blockCount(blockCount)
{
    // 64-bit: width − margin − 20 must not wrap for widths near INT_MIN.
    const qint64 columnsWidth = qint64(std::max(width, 0)) - m_margin - ScrollBarReserve;
    m_cellsPerRow = int(std::max<qint64>(columnsWidth / pitch(), 1));
    m_visibleRows = std::max(m_height - m_margin, 0) / pitch();
}

qint64 BadBlockMapLayout::totalRows() const
{
    return (qint64(m_blockCount) + m_cellsPerRow - 1) / m_cellsPerRow;
}

int BadBlockMapLayout::scrollRows() const
{
    const qint64 rows = totalRows() - m_visibleRows;
    return int(std::clamp<qint64>(rows, 0, std::numeric_limits<int>::max()));
}

int BadBlockMapLayout::clampFirstRow(int row) const
{
    return std::clamp(row, 0, scrollRows());
}

qint64 BadBlockMapLayout::blockAt(QPoint point, int firstRow) const
{
    if (point.x() < 0 || point.y() < 0)
        return -1;
    const int column = point.x() / pitch();
    if (column >= m_cellsPerRow)
        return -1;
    const qint64 row = qint64(std::max(firstRow, 0)) + point.y() / pitch();
    const qint64 block = row * m_cellsPerRow + column;
    return block < qint64(m_blockCount) ? block : -1;
}

QRect BadBlockMapLayout::cellRect(qint64 index) const
{
    const qint64 column = index % m_cellsPerRow;
    const qint64 row = index / m_cellsPerRow;
    return QRect(int(m_margin + column * pitch()), int(m_margin + row * pitch()), m_cell, m_cell);
}

int BadBlockMapLayout::paintedRows() const
{
    // Row r ends at margin + r × pitch + cell.
    const int room = m_height - m_margin - m_cell;
    return room < 0 ? 0 : room / pitch() + 1;
}

qint64 BadBlockMapLayout::paintedCount(int firstRow) const
{
    const qint64 first = firstBlock(std::max(firstRow, 0));
    if (first >= qint64(m_blockCount))
        return 0;
    const qint64 fitting = qint64(paintedRows()) * m_cellsPerRow;
    return std::min(fitting, qint64(m_blockCount) - first);
}
