#include "HexLayout.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr quint64 BarLimit = quint64(std::numeric_limits<int>::max());

// Writes `digits` upper-case hexadecimal digits of `value` at `out`.
void putHex(QChar *out, quint64 value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QLatin1Char(HexDigits[value & 0xF]);
        value >>= 4;
    }
}

} // namespace

HexLayout::HexLayout(int charWidth, int rowHeight, int viewportWidth, int viewportHeight,
                     quint64 nodeSize)
    : m_charWidth(std::max(charWidth, 1)), m_rowHeight(std::max(rowHeight, 1)),
      m_nodeSize(nodeSize), m_textArea(MarginX, MarginY, std::max(viewportWidth - 2 * MarginX, 0),
                                       std::max(viewportHeight - 2 * MarginY, 0)),
      m_addressDigits(nodeSize > EightDigitLimit ? 10 : 8)
{
    const int rowsHeight = std::max(m_textArea.height() - headerHeight(), 0);
    m_visibleRows = rowsHeight / m_rowHeight;
    m_paintedRows = std::min((rowsHeight + m_rowHeight - 1) / m_rowHeight, MaxPaintRows);
}

quint64 HexLayout::totalRows() const
{
    return m_nodeSize / BytesPerRow + (m_nodeSize % BytesPerRow != 0 ? 1 : 0);
}

quint64 HexLayout::maxFirstRow() const
{
    const quint64 total = totalRows();
    const quint64 visible = quint64(m_visibleRows);
    return total > visible ? total - visible : 0;
}

int HexLayout::maxHorizontal() const
{
    return std::max(contentWidth() - m_textArea.width(), 0);
}

quint64 HexLayout::scrollScale() const
{
    const quint64 rows = maxFirstRow();
    return rows <= BarLimit ? 1 : (rows + BarLimit - 1) / BarLimit;
}

int HexLayout::barMaximum() const
{
    const quint64 scale = scrollScale();
    return int((maxFirstRow() + scale - 1) / scale);
}

int HexLayout::barPageStep() const
{
    return int(std::max<quint64>(quint64(m_visibleRows) / scrollScale(), 1));
}

int HexLayout::barValue(quint64 firstRow) const
{
    if (firstRow >= maxFirstRow())
        return barMaximum();
    return int(firstRow / scrollScale());
}

quint64 HexLayout::rowForBarValue(int value) const
{
    if (value <= 0)
        return 0;
    return std::min(quint64(value) * scrollScale(), maxFirstRow());
}

quint64 HexLayout::firstRowShowing(quint64 first, quint64 last, quint64 firstRow) const
{
    if (last < first)
        std::swap(first, last);
    const quint64 rowFirst = first / BytesPerRow;
    const quint64 rowLast = last / BytesPerRow;
    const quint64 visible = quint64(std::max(m_visibleRows, 1));
    quint64 row = firstRow;
    if (rowFirst < firstRow || rowLast - rowFirst + 1 > visible)
        row = rowFirst;
    else if (rowLast - firstRow >= visible)
        row = rowLast - visible + 1;
    return std::min(row, maxFirstRow());
}

int HexLayout::horizontalShowing(quint64 first, quint64 last, int horizontal) const
{
    if (last < first)
        std::swap(first, last);
    const bool oneRow = first / BytesPerRow == last / BytesPerRow;
    const int left = hexCellX(oneRow ? int(first % BytesPerRow) : 0, true);
    const int right =
        hexCellX(oneRow ? int(last % BytesPerRow) : BytesPerRow - 1, false) + m_charWidth;
    if (right - horizontal > m_textArea.width())
        horizontal = right - m_textArea.width();
    if (left < horizontal)
        horizontal = left;
    return std::clamp(horizontal, 0, maxHorizontal());
}

HexLayout::Hit HexLayout::hitTest(QPoint point, quint64 firstRow, int horizontal) const
{
    if (m_nodeSize == 0)
        return {};
    const int x = std::clamp(point.x() + horizontal + m_charWidth / 2 - MarginX, hexX(),
                             hexX() + hexWidth() - 1);
    const int k = std::min((x - hexX()) / m_charWidth, BytesPerRow * 3 - 1);
    const int dy = point.y() - rowsTop();
    const int row = std::clamp(dy < 0 ? 0 : dy / m_rowHeight, 0, std::max(m_paintedRows, 1) - 1);
    const quint64 offset = (firstRow + quint64(row)) * BytesPerRow + quint64(k / 3);
    if (offset >= m_nodeSize)
        return {m_nodeSize - 1, false};
    return {offset, k % 3 == 0};
}

QString HexLayout::headerText()
{
    return QStringLiteral(" OFFSET   0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F     A S C I I");
}

QString HexLayout::addressText(quint64 address, int digits)
{
    if ((address >> 32) != 0) {
        // "%02X%08X": the upper part takes as many digits as it needs.
        const quint64 upper = address >> 32;
        int upperDigits = 2;
        while (upperDigits < 8 && (upper >> (4 * upperDigits)) != 0)
            ++upperDigits;
        QString text(upperDigits + 8, Qt::Uninitialized);
        putHex(text.data(), upper, upperDigits);
        putHex(text.data() + upperDigits, address & 0xFFFFFFFFULL, 8);
        return text;
    }
    digits = std::clamp(digits, 1, 16);
    int needed = 1;
    while (needed < 8 && (address >> (4 * needed)) != 0)
        ++needed;
    QString text(std::max(digits, needed), Qt::Uninitialized);
    putHex(text.data(), address, int(text.size()));
    return text;
}

QString HexLayout::hexText(const quint8 *bytes, int count)
{
    count = std::clamp(count, 0, int(BytesPerRow));
    if (count == 0)
        return {};
    QString text(count * 3 - 1, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < count; ++i) {
        putHex(out + i * 3, bytes[i], 2);
        if (i + 1 < count)
            out[i * 3 + 2] = QLatin1Char(i == 7 ? '-' : ' ');
    }
    return text;
}

QString HexLayout::charText(const quint8 *bytes, int count)
{
    count = std::clamp(count, 0, int(BytesPerRow));
    QString text(count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        text[i] = QLatin1Char(std::isprint(bytes[i]) ? char(bytes[i]) : '.');
    return text;
}
