#include "FileListView.h"

#include "FolderListing.h"

#include <QDrag>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>

namespace {
const QColor SelectionColour(0, 128, 215);
} // namespace

FileListView::FileListView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
}

void FileListView::setFolder(const QString &folder)
{
    m_folder = folder;
    m_entries = FolderListing::files(folder);
    m_state.setEntries(int(m_entries.size()));
    relayout();
    viewport()->update();
    refreshInformation();
}

std::unique_ptr<QMimeData> FileListView::dragData() const
{
    const int entry = m_state.selectedEntry();
    if (entry < 0)
        return nullptr;
    return FolderListing::dragData(m_entries.at(entry).absoluteFilePath());
}

QRect FileListView::textRect() const
{
    return viewport()->rect().adjusted(1, 1, -1, -1);
}

void FileListView::relayout()
{
    m_relayoutPending = false;
    m_state.setMetrics(textRect().height(), fontMetrics().height());
    applyMetrics();
}

void FileListView::applyMetrics()
{
    QScopedValueRollback syncing(m_syncingScrollBar, true);
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, m_state.maximumTopRow());
    bar->setPageStep(m_state.visibleRows());
    bar->setSingleStep(1);
    bar->setValue(m_state.topRow());
    setVerticalScrollBarPolicy(m_state.maximumTopRow() > 0 ? Qt::ScrollBarAlwaysOn
                                                           : Qt::ScrollBarAlwaysOff);
}

void FileListView::apply(FileListState::Change change)
{
    if (!change.any())
        return;
    if (change.scroll) {
        QScopedValueRollback syncing(m_syncingScrollBar, true);
        verticalScrollBar()->setValue(m_state.topRow());
    }
    viewport()->update();
    refreshInformation();
}

void FileListView::refreshInformation()
{
    const int entry = m_state.selectedEntry();
    if (entry < 0)
        return;
    // The file may have grown since it was listed (a read streams into it).
    QFileInfo &info = m_entries[entry];
    info.refresh();
    emit informationChanged(FolderListing::informationText(info));
}

void FileListView::paintEvent(QPaintEvent *)
{
    if (m_relayoutPending)
        relayout();
    QPainter painter(viewport());
    const QRect text = textRect();
    painter.fillRect(text, Qt::white);
    painter.setClipRect(text);
    const int lineHeight = m_state.lineHeight();
    if (lineHeight <= 0)
        return;
    const int selected = m_state.topRow() + m_state.selectedRow();
    int y = text.top();
    for (int entry = m_state.topRow(); entry < m_entries.size() && y <= text.bottom(); ++entry) {
        const QRect row(text.left(), y, text.width(), lineHeight);
        if (entry == selected) {
            painter.fillRect(row, SelectionColour);
            painter.setPen(Qt::white);
        } else {
            painter.setPen(Qt::black);
        }
        painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, m_entries.at(entry).fileName());
        y += lineHeight;
    }
}

void FileListView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    m_relayoutPending = false;
    m_state.resize(textRect().height(), fontMetrics().height());
    applyMetrics();
    viewport()->update();
    refreshInformation();
}

void FileListView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        relayout();
        viewport()->update();
    }
}

void FileListView::scrollContentsBy(int, int)
{
    if (m_syncingScrollBar || !m_state.setTopRow(verticalScrollBar()->value()))
        return;
    viewport()->update();
    refreshInformation();
}

void FileListView::keyPressEvent(QKeyEvent *event)
{
    const std::optional<FileListState::Change> change = m_state.key(event->key());
    if (!change) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    apply(*change);
    event->accept();
}

void FileListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const quint64 time = event->timestamp();
    const bool quickRepeat =
        m_pressedBefore && time >= m_lastPressTime &&
        time - m_lastPressTime < quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    m_pressedBefore = true;
    m_lastPressTime = time;
    applyMouse(m_state.press(event->position().toPoint().y(), quickRepeat));
}

void FileListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        applyMouse(m_state.doubleClick(event->position().toPoint().y()));
}

void FileListView::mouseReleaseEvent(QMouseEvent *event)
{
    event->setAccepted(event->button() == Qt::LeftButton);
}

void FileListView::applyMouse(FileListState::MouseResult result)
{
    if (result == FileListState::MouseResult::Nothing)
        return;
    apply({.selection = true});
    if (result == FileListState::MouseResult::Open)
        emit fileOpened(m_entries.at(m_state.selectedEntry()).absoluteFilePath());
}

void FileListView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    std::unique_ptr<QMimeData> mime = dragData();
    if (!mime)
        return;
    // The drag manager deletes the drag when it ends.
    auto *drag = new QDrag(this);
    drag->setMimeData(mime.release());
    drag->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(32));
    drag->exec(Qt::CopyAction);
}
