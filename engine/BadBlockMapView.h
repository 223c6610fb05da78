#pragma once

#include "BadBlockMapLayout.h"

#include <QAbstractScrollArea>

class BadBlockTable;

// One bad-block table as a map: a square cell per block on a white ground,
// filled light grey (unknown), dark green (good) or dark red (bad), row after
// row as BadBlockMapLayout places them. The vertical scroll bar is there
// only while the rows do not all fit; the wheel scrolls by rows. A press on
// a block emits blockClicked; the owner decides what the block means. The
// table is not owned and is only read; after its states change the owner
// calls refresh().
class BadBlockMapView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    static constexpr int Margin = 1;
    static constexpr int DefaultCell = 10;
    // The cell of the large-font layout.
    static constexpr int LargeCell = 20;

    explicit BadBlockMapView(QWidget *parent = nullptr);

    // Null shows the empty ground. The table may change size only when it
    // is set anew.
    void setTable(const BadBlockTable *table);
    const BadBlockTable *table() const { return m_table; }
    void setCellSize(int cell);
    int cellSize() const { return m_cell; }

    // Recomputes the layout and the scroll bar and repaints.
    void refresh();

    int firstRow() const { return m_firstRow; }
    // Cut to the scroll range.
    void setFirstRow(int row);
    const BadBlockMapLayout &layout() const { return m_layout; }

signals:
    void blockClicked(quint32 block, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    BadBlockMapLayout currentLayout() const;
    void updateScrollBar();

    const BadBlockTable *m_table = nullptr;
    int m_cell = DefaultCell;
    int m_firstRow = 0;
    BadBlockMapLayout m_layout;
    bool m_settingBar = false;
};
