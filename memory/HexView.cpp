#include "HexView.h"

#include "CMemoryNode.h"
#include "DroppedFileName.h"
#include "FolderListing.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <QTimerEvent>
#include <QWheelEvent>

#include <algorithm>

namespace {

const QColor Background(255, 255, 255);
const QColor AddressColour(150, 0, 150);
const QColor HexColour(0, 0, 255);
const QColor CharColour(0, 0, 0);
const QColor HeaderBand(192, 192, 192);
const QColor HeaderColour(255, 0, 0);
const QColor CursorOverlay(0, 0, 0, 128);

constexpr int BlinkMs = 500;
constexpr int WheelStep = 120;

QString dragFormat()
{
    return QString::fromLatin1(FolderListing::DragMimeType);
}

bool acceptsDrag(const QDropEvent *event)
{
    const Qt::DropAction action = event->proposedAction();
    return (action == Qt::CopyAction || action == Qt::MoveAction) && event->mimeData() &&
           event->mimeData()->hasFormat(dragFormat());
}

} // namespace

HexView::HexView(CMemoryNode *node, QWidget *parent) : QAbstractScrollArea(parent), m_node(node)
{
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    setCursor(Qt::PointingHandCursor);
    if (m_node && m_node->IsResident()) {
        m_initAction = new QAction(CMemoryNode::text(UiTextId::Init), this);
        m_initAction->setStatusTip(CMemoryNode::text(UiTextId::InitTip));
        if (ProgramObjects::current())
            uiText().registerAction(m_initAction, UiTextId::Init, UiTextId::InitTip);
        connect(m_initAction, &QAction::triggered, this, [this] {
            if (refuseWhileClaimed())
                return;
            m_node->Fill();
            viewport()->update();
        });
    }
    setViewFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

HexView::~HexView() = default;

quint64 HexView::nodeSize() const
{
    return m_node ? m_node->GetSize() : 0;
}

void HexView::log(const QString &line) const
{
    if (m_node && m_node->hooks().log)
        m_node->hooks().log(line);
}

bool HexView::refuseWhileClaimed()
{
    if (!m_node || !m_node->IsClaimed())
        return false;
    const QString busy = CMemoryNode::text(UiTextId::Busy);
    setToolTip(busy);
    setStatusTip(busy);
    // Up the parents to the window's status bar.
    QStatusTipEvent tip(busy);
    QCoreApplication::sendEvent(this, &tip);
    m_busyShown = true;
    return true;
}

void HexView::clearBusy()
{
    if (!m_busyShown)
        return;
    m_busyShown = false;
    setToolTip(QString());
    setStatusTip(QString());
    QStatusTipEvent tip{QString()};
    QCoreApplication::sendEvent(this, &tip);
}

void HexView::setViewFont(const QFont &font)
{
    setFont(font);
    relayout();
}

void HexView::setRememberFile(std::function<void(const QString &)> remember)
{
    m_rememberFile = std::move(remember);
}

void HexView::setLoader(std::function<bool(const QString &)> load)
{
    m_load = std::move(load);
}

void HexView::setContextAction(QAction *action)
{
    m_contextAction = action;
}

QList<QAction *> HexView::contextMenuEntries() const
{
    QList<QAction *> entries;
    if (!m_initAction)
        return entries;
    entries << m_initAction;
    if (m_contextAction && m_contextAction->isEnabled())
        entries << nullptr << m_contextAction.data();
    return entries;
}

void HexView::relayout()
{
    if (!(m_node && m_node->IsClaimed()))
        clearBusy();
    const QFontMetrics metrics(font());
    const quint64 size = nodeSize();
    m_layout = HexLayout(metrics.horizontalAdvance(QLatin1Char('0')), metrics.height(),
                         viewport()->width(), viewport()->height(), size);
    m_cursor = m_cursor.clamped(size);
    m_firstRow = std::min(m_firstRow, m_layout.maxFirstRow());
    m_horizontal = std::clamp(m_horizontal, 0, m_layout.maxHorizontal());
    updateScrollBars();
    updateBlink();
    viewport()->update();
}

void HexView::updateScrollBars()
{
    m_settingBars = true;
    QScrollBar *vertical = verticalScrollBar();
    vertical->setRange(0, m_layout.barMaximum());
    vertical->setPageStep(m_layout.barPageStep());
    vertical->setSingleStep(1);
    vertical->setValue(m_layout.barValue(m_firstRow));
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setRange(0, m_layout.maxHorizontal());
    horizontal->setPageStep(std::max(m_layout.textArea().width(), 1));
    horizontal->setSingleStep(m_layout.charWidth());
    horizontal->setValue(m_horizontal);
    m_settingBars = false;
}

void HexView::scrollContentsBy(int dx, int dy)
{
    if (m_settingBars)
        return;
    if (dy != 0)
        m_firstRow = m_layout.rowForBarValue(verticalScrollBar()->value());
    if (dx != 0)
        m_horizontal = horizontalScrollBar()->value();
    updateBlink();
    viewport()->update();
}

void HexView::setFirstRow(quint64 row)
{
    m_firstRow = std::min(row, m_layout.maxFirstRow());
    updateScrollBars();
    updateBlink();
    viewport()->update();
}

void HexView::scrollRows(qint64 rows)
{
    if (rows == 0)
        return;
    quint64 row = m_firstRow;
    if (rows < 0)
        row = quint64(-rows) > row ? 0 : row - quint64(-rows);
    else
        row = std::min(row + quint64(rows), m_layout.maxFirstRow());
    setFirstRow(row);
}

void HexView::showRange(quint64 first, quint64 last)
{
    m_firstRow = m_layout.firstRowShowing(first, last, m_firstRow);
    m_horizontal = m_layout.horizontalShowing(first, last, m_horizontal);
    updateScrollBars();
    updateBlink();
    viewport()->update();
}

void HexView::makeVisible(quint64 first, quint64 last)
{
    const quint64 size = nodeSize();
    if (size == 0)
        return;
    showRange(std::min(first, size - 1), std::min(last, size - 1));
}

void HexView::setCursorPosition(quint64 offset, bool upper)
{
    moveCursor(HexCursor(offset, upper).clamped(nodeSize()));
}

void HexView::moveCursor(HexCursor cursor)
{
    m_cursor = cursor;
    m_blinkOn = m_blinkTimer.isActive();
    showRange(cursor.offset(), cursor.offset());
}

bool HexView::cursorRowVisible() const
{
    if (nodeSize() == 0)
        return false;
    const quint64 row = m_cursor.offset() / HexLayout::BytesPerRow;
    return row >= m_firstRow && row - m_firstRow < quint64(m_layout.paintedRows());
}

QRect HexView::cursorByteRect() const
{
    if (!cursorRowVisible())
        return {};
    const int row = int(m_cursor.offset() / HexLayout::BytesPerRow - m_firstRow);
    const int column = int(m_cursor.offset() % HexLayout::BytesPerRow);
    return QRect(m_layout.textArea().left() - m_horizontal + m_layout.hexCellX(column, true),
                 m_layout.rowsTop() + row * m_layout.rowHeight(), 2 * m_layout.charWidth(),
                 m_layout.rowHeight());
}

QRect HexView::cursorNibbleRect() const
{
    QRect cell = cursorByteRect();
    if (!m_cursor.upper())
        cell.translate(m_layout.charWidth(), 0);
    cell.setWidth(m_layout.charWidth());
    return cell;
}

void HexView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect cell = cursorByteRect();
    if (!cell.isEmpty() && cell.contains(event->rect())) {
        // Blinking: only the cursor's byte.
        paintCursorByte(painter);
        paintOverlay(painter);
        return;
    }
    painter.fillRect(viewport()->rect(), Background);
    const QRect area = m_layout.textArea();
    painter.setClipRect(area);
    painter.fillRect(area.left(), area.top(), area.width(), m_layout.headerHeight(), HeaderBand);
    painter.setPen(HeaderColour);
    painter.drawText(area.left() - m_horizontal,
                     area.top() + HexLayout::HeaderExtra / 2 + painter.fontMetrics().ascent(),
                     HexLayout::headerText());
    paintRows(painter);
    paintOverlay(painter);
}

void HexView::paintRows(QPainter &painter)
{
    if (!m_node)
        return;
    // A node that shrank since the last relayout is read only up to its end.
    const quint64 size = std::min(m_layout.nodeSize(), nodeSize());
    const quint64 start = m_firstRow * HexLayout::BytesPerRow;
    if (start >= size)
        return;
    const quint64 bytes =
        std::min<quint64>(quint64(m_layout.paintedRows()) * HexLayout::BytesPerRow, size - start);
    if (bytes == 0)
        return;
    m_rowBytes.resize(std::size_t(bytes));
    m_node->Read(start, m_rowBytes.data(), bytes);

    const int rows = int((bytes + HexLayout::BytesPerRow - 1) / HexLayout::BytesPerRow);
    const int left = m_layout.textArea().left() - m_horizontal;
    const int ascent = painter.fontMetrics().ascent();
    const int rowHeight = m_layout.rowHeight();
    const int top = m_layout.rowsTop() + ascent;
    const quint64 base = m_node->GetBase() + start;
    auto count = [&](int row) {
        return int(std::min<quint64>(HexLayout::BytesPerRow,
                                     bytes - quint64(row) * HexLayout::BytesPerRow));
    };
    auto rowBytes = [&](int row) { return m_rowBytes.data() + row * HexLayout::BytesPerRow; };

    painter.setPen(AddressColour);
    for (int row = 0; row < rows; ++row)
        painter.drawText(left, top + row * rowHeight,
                         HexLayout::addressText(base + quint64(row) * HexLayout::BytesPerRow,
                                                m_layout.addressDigits()));
    painter.setPen(HexColour);
    for (int row = 0; row < rows; ++row)
        painter.drawText(left + m_layout.hexX(), top + row * rowHeight,
                         HexLayout::hexText(rowBytes(row), count(row)));
    painter.setPen(CharColour);
    for (int row = 0; row < rows; ++row)
        painter.drawText(left + m_layout.charX(), top + row * rowHeight,
                         HexLayout::charText(rowBytes(row), count(row)));
}

void HexView::paintCursorByte(QPainter &painter)
{
    const QRect cell = cursorByteRect();
    painter.setClipRect(cell & m_layout.textArea());
    painter.fillRect(cell, Background);
    if (m_cursor.offset() >= nodeSize())
        return;
    quint8 byte = 0;
    m_node->Read(m_cursor.offset(), &byte, 1);
    painter.setPen(HexColour);
    painter.drawText(cell.left(), cell.top() + painter.fontMetrics().ascent(),
                     HexLayout::hexText(&byte, 1));
}

void HexView::paintOverlay(QPainter &painter)
{
    if (!m_blinkOn || !cursorRowVisible())
        return;
    painter.setClipRect(m_layout.textArea());
    painter.fillRect(cursorNibbleRect(), CursorOverlay);
}

void HexView::updateBlink()
{
    const bool wanted = hasFocus() && cursorRowVisible();
    if (wanted == m_blinkTimer.isActive())
        return;
    if (wanted) {
        m_blinkTimer.start(BlinkMs, this);
        m_blinkOn = true;
    } else {
        m_blinkTimer.stop();
        m_blinkOn = false;
    }
    viewport()->update(cursorByteRect());
}

void HexView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void HexView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

void HexView::keyPressEvent(QKeyEvent *event)
{
    const quint64 size = nodeSize();
    HexCursor::Move move{};
    if (HexCursor::moveForKey(event->key(), &move)) {
        moveCursor(m_cursor.moved(move, size, m_layout.visibleRows()));
        return;
    }
    const int digit = HexCursor::digitForKey(event->key());
    const bool plain =
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (digit < 0 || !plain) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (size == 0 || refuseWhileClaimed())
        return;
    clearBusy();
    m_node->SetNibble(m_cursor.offset(), quint8(digit), m_cursor.upper());
    moveCursor(m_cursor.advanced(size));
    emit edited();
}

void HexView::placeCursorAt(QPoint point)
{
    const HexLayout::Hit hit = m_layout.hitTest(point, m_firstRow, m_horizontal);
    moveCursor(HexCursor(hit.offset, hit.upper).clamped(nodeSize()));
}

void HexView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_flickTimer.stop();
    m_flick.press();
    m_lastPoint = event->position().toPoint();
    placeCursorAt(m_lastPoint);
}

void HexView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        placeCursorAt(event->position().toPoint());
}

void HexView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    const QPoint moved = point - m_lastPoint;
    m_lastPoint = point;
    const int rows = m_flick.drag(moved.y(), m_layout.rowHeight());
    if (!m_flick.dragging())
        return;
    viewport()->setCursor(Qt::ClosedHandCursor);
    scrollRows(rows);
    if (moved.x() != 0) {
        m_horizontal = std::clamp(m_horizontal - moved.x(), 0, m_layout.maxHorizontal());
        updateScrollBars();
        viewport()->update();
    }
    if (!m_flickTimer.isActive())
        m_flickTimer.start(FlickScroll::TickMs, this);
}

void HexView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    viewport()->setCursor(Qt::IBeamCursor);
    m_flick.release();
    if (!m_flick.running())
        m_flickTimer.stop();
}

void HexView::wheelEvent(QWheelEvent *event)
{
    m_wheelRemainder += event->angleDelta().y();
    const int rows = m_wheelRemainder / WheelStep;
    m_wheelRemainder -= rows * WheelStep;
    scrollRows(-rows);
    event->accept();
}

void HexView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_blinkTimer.timerId()) {
        m_blinkOn = !m_blinkOn;
        viewport()->update(cursorByteRect());
    } else if (event->timerId() == m_flickTimer.timerId()) {
        scrollRows(m_flick.tick());
        if (!m_flick.running())
            m_flickTimer.stop();
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}

void HexView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    updateBlink();
}

void HexView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    updateBlink();
}

void HexView::contextMenuEvent(QContextMenuEvent *event)
{
    const QList<QAction *> entries = contextMenuEntries();
    if (entries.isEmpty()) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    for (QAction *action : entries) {
        if (action)
            menu.addAction(action);
        else
            menu.addSeparator();
    }
    menu.exec(event->globalPos());
}

void HexView::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void HexView::dragMoveEvent(QDragMoveEvent *event)
{
    if (acceptsDrag(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void HexView::dropEvent(QDropEvent *event)
{
    if (!m_node || !acceptsDrag(event)) {
        event->ignore();
        return;
    }
    const QString path = droppedFileName(event->mimeData()->data(dragFormat()));
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    if (refuseWhileClaimed()) {
        log(CMemoryNode::text(UiTextId::Busy));
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (m_load ? !m_load(path) : !m_node->Load(path, true)) {
        log(path + QLatin1Char(' ') + CMemoryNode::text(UiTextId::FileError));
        relayout();
        return;
    }
    if (m_rememberFile)
        m_rememberFile(path);
    relayout();
}
