#include "BadBlockMapView.h"

#include "BadBlockTable.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

BadBlockMapView::BadBlockMapView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(1);
    m_layout = currentLayout();
}

void BadBlockMapView::setTable(const BadBlockTable *table)
{
    m_table = table;
    refresh();
}

void BadBlockMapView::setCellSize(int cell)
{
    m_cell = std::clamp(cell, 1, BadBlockMapLayout::MaxCell);
    refresh();
}

BadBlockMapLayout BadBlockMapView::currentLayout() const
{
    return BadBlockMapLayout(m_cell, Margin, viewport()->width(), viewport()->height(),
                             m_table ? m_table->blockCount() : 0);
}

void BadBlockMapView::refresh()
{
    m_layout = currentLayout();
    const Qt::ScrollBarPolicy policy =
        m_layout.scrollRows() > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (verticalScrollBarPolicy() != policy) {
        // Showing or hiding the bar resizes the viewport (and may come back
        // here through resizeEvent): lay out again for the new width.
        setVerticalScrollBarPolicy(policy);
        m_layout = currentLayout();
    }
    m_firstRow = m_layout.clampFirstRow(m_firstRow);
    updateScrollBar();
    viewport()->update();
}

void BadBlockMapView::updateScrollBar()
{
    m_settingBar = true;
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, m_layout.scrollRows());
    bar->setPageStep(m_layout.visibleRows());
    bar->setValue(m_firstRow);
    m_settingBar = false;
}

void BadBlockMapView::setFirstRow(int row)
{
    m_firstRow = m_layout.clampFirstRow(row);
    updateScrollBar();
    viewport()->update();
}

void BadBlockMapView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    refresh();
}

void BadBlockMapView::scrollContentsBy(int, int dy)
{
    if (m_settingBar || dy == 0)
        return;
    m_firstRow = m_layout.clampFirstRow(verticalScrollBar()->value());
    viewport()->update();
}

void BadBlockMapView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    if (!m_table)
        return;
    const qint64 first = m_layout.firstBlock(m_firstRow);
    const qint64 count = m_layout.paintedCount(m_firstRow);
    // A state the map has no colour for keeps the fill of the cell before.
    for (qint64 i = 0; i < count; ++i) {
        switch (m_table->state(quint32(first + i))) {
        case BadBlockTable::Unknown:
            painter.setBrush(Qt::lightGray);
            break;
        case BadBlockTable::Good:
            painter.setBrush(Qt::darkGreen);
            break;
        case BadBlockTable::Bad:
            painter.setBrush(Qt::darkRed);
            break;
        default:
            break;
        }
        painter.drawRect(m_layout.cellRect(i));
    }
}

void BadBlockMapView::mousePressEvent(QMouseEvent *event)
{
    const qint64 block = m_layout.blockAt(event->position().toPoint(), m_firstRow);
    if (block >= 0)
        emit blockClicked(quint32(block), event->button());
    event->accept();
}
