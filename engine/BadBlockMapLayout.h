#pragma once

#include <QPoint>
#include <QRect>
#include <QtGlobal>

// The geometry of a bad-block map: one square cell per block, row after row,
// in a viewport of the given size. Each cell is `cell` pixels square with
// `margin` pixels on every side, so cells repeat every pitch = cell + 2 ×
// margin pixels; 20 pixels on the right are kept free for the scroll bar.
// A plain value, computed and checked without widgets. Row counts are
// 64-bit (a device of 2^32 blocks in one column has that many rows); the
// first row and the scroll range are ints, as scroll bars count.
class BadBlockMapLayout
{
public:
    // Pixels on the right that no column uses.
    static constexpr int ScrollBarReserve = 20;
    // Largest cell and margin taken; larger ones are cut to it.
    static constexpr int MaxCell = 4096;

    BadBlockMapLayout() = default;
    // A cell below 1 pixel counts as 1, a negative margin or size as 0.
    BadBlockMapLayout(int cell, int margin, int width, int height, quint32 blockCount);

    int cell() const { return m_cell; }
    int margin() const { return m_margin; }
    int pitch() const { return m_cell + 2 * m_margin; }
    quint32 blockCount() const { return m_blockCount; }
    // At least 1, however narrow the viewport.
    int cellsPerRow() const { return m_cellsPerRow; }
    // Rows whose full pitch fits the height.
    int visibleRows() const { return m_visibleRows; }
    qint64 totalRows() const;
    // Total rows − visible rows, 0 when everything fits; at most INT_MAX.
    int scrollRows() const;
    // `row` cut to 0 .. scrollRows().
    int clampFirstRow(int row) const;

    // The block of the first cell painted with the map scrolled to `firstRow`.
    qint64 firstBlock(int firstRow) const { return qint64(firstRow) * m_cellsPerRow; }
    // The block under viewport point `point` with the map scrolled to
    // `firstRow`; -1 left of or above the map, right of the last column, or
    // past the last block.
    qint64 blockAt(QPoint point, int firstRow) const;
    // Viewport rectangle (cell × cell) of the `index`-th painted cell.
    QRect cellRect(qint64 index) const;
    // Rows whose cells end inside the height (one more than visibleRows()
    // when the last row fits but its lower margin does not).
    int paintedRows() const;
    // How many cells a paint draws from firstBlock(`firstRow`): whole rows
    // that fit the height, fewer when the blocks run out.
    qint64 paintedCount(int firstRow) const;

private:
    int m_cell = 1;
    int m_margin = 0;
    int m_height = 0;
    quint32 m_blockCount = 0;
    int m_cellsPerRow = 1;
    int m_visibleRows = 0;
};
