#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QtGlobal>

// The geometry and texts of a hex dump: 16 bytes a row, an address column,
// the bytes in hexadecimal and the bytes as characters, under a header band.
// Built from the font's character width and row height, the viewport's size
// and the node's size; a plain value, so it can be computed and checked
// without widgets. Column positions are content coordinates: x = 0 is the
// left edge of the text area before horizontal scrolling.
class HexLayout
{
public:
    static constexpr int BytesPerRow = 16;
    // The most rows one paint reads (96 rows, 1536 bytes).
    static constexpr int MaxPaintRows = 96;
    static constexpr int MarginX = 5;
    static constexpr int MarginY = 2;
    static constexpr int HeaderExtra = 3;
    static constexpr int ColumnGap = 8;
    // Nodes larger than this show 10 address digits instead of 8.
    static constexpr quint64 EightDigitLimit = 0x100000000ULL;

    HexLayout() = default;
    HexLayout(int charWidth, int rowHeight, int viewportWidth, int viewportHeight,
              quint64 nodeSize);

    int charWidth() const { return m_charWidth; }
    int rowHeight() const { return m_rowHeight; }
    quint64 nodeSize() const { return m_nodeSize; }
    // The viewport minus the margins, in viewport coordinates.
    QRect textArea() const { return m_textArea; }
    int headerHeight() const { return m_rowHeight + HeaderExtra; }
    // Viewport y of the first row's top.
    int rowsTop() const { return m_textArea.top() + headerHeight(); }
    // Rows that fit completely (for paging and for "visible").
    int visibleRows() const { return m_visibleRows; }
    // Rows painted: the full ones plus a partly visible last one, at most
    // MaxPaintRows.
    int paintedRows() const { return m_paintedRows; }

    int addressDigits() const { return m_addressDigits; }
    int addressWidth() const { return m_charWidth * m_addressDigits + ColumnGap; }
    int hexX() const { return addressWidth(); }
    int hexWidth() const { return m_charWidth * (BytesPerRow * 3 - 1) + ColumnGap; }
    int charX() const { return hexX() + hexWidth(); }
    int charColumnWidth() const { return m_charWidth * BytesPerRow; }
    int contentWidth() const { return charX() + charColumnWidth(); }
    // Content x of a byte's hex digit (`upper` first, else second digit).
    int hexCellX(int column, bool upper) const
    {
        return hexX() + (column * 3 + (upper ? 0 : 1)) * m_charWidth;
    }

    quint64 totalRows() const;
    // Largest first row: total rows − visible rows, 0 when everything fits.
    quint64 maxFirstRow() const;
    // Largest horizontal offset in pixels, 0 when the columns fit.
    int maxHorizontal() const;

    // Scroll bars count in ints; nodes with more rows than that are scrolled
    // in steps of scrollScale() rows.
    quint64 scrollScale() const;
    int barMaximum() const;
    int barPageStep() const;
    int barValue(quint64 firstRow) const;
    quint64 rowForBarValue(int value) const;

    // The first row that shows node offsets first..last, starting from
    // `firstRow`: unchanged when all their rows are visible.
    quint64 firstRowShowing(quint64 first, quint64 last, quint64 firstRow) const;
    // The horizontal offset that puts the hex cells of first..last inside
    // the text area, starting from `horizontal`.
    int horizontalShowing(quint64 first, quint64 last, int horizontal) const;

    struct Hit
    {
        quint64 offset = 0;
        bool upper = true;
        bool operator==(const Hit &) const = default;
    };
    // The nibble under viewport point `point` with the rows scrolled to
    // `firstRow` and the columns by `horizontal` pixels. Points outside the
    // hex column land on the nearest cell of the row; points past the node's
    // end on its last byte's lower nibble.
    Hit hitTest(QPoint point, quint64 firstRow, int horizontal) const;

    // " OFFSET   0  1 ... F     A S C I I".
    static QString headerText();
    // The address of a row: upper-case hexadecimal with `digits` digits, or
    // "%02X%08X" when the value's upper 32 bits are not zero.
    static QString addressText(quint64 address, int digits);
    // Up to 16 bytes as "XX XX ... XX-XX ... XX".
    static QString hexText(const quint8 *bytes, int count);
    // Up to 16 bytes as characters, "." for the ones that are not printable.
    static QString charText(const quint8 *bytes, int count);

private:
    int m_charWidth = 1;
    int m_rowHeight = 1;
    quint64 m_nodeSize = 0;
    QRect m_textArea;
    int m_visibleRows = 0;
    int m_paintedRows = 0;
    int m_addressDigits = 8;
};
