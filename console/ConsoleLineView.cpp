#include "ConsoleLineView.h"

#include "CommandConsole.h"
#include "ProgramObjects.h"
#include "UiTextId.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr int Margin = 2;
const QString RowMark = QStringLiteral("-");
} // namespace

ConsoleLineView::ConsoleLineView(CommandConsole &console, QWidget *parent)
    : QAbstractScrollArea(parent), m_console(console)
{
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    setViewFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_paste = new QAction(uiText().text(UiTextId::Paste), this);
    m_paste->setStatusTip(uiText().text(UiTextId::PasteTip));
    m_paste->setShortcut(QKeySequence::Paste);
    m_paste->setShortcutContext(Qt::WidgetShortcut);
    uiText().registerAction(m_paste, UiTextId::Paste, UiTextId::PasteTip);
    connect(m_paste, &QAction::triggered, this, &ConsoleLineView::paste);

    m_clear = new QAction(uiText().text(UiTextId::Clear), this);
    m_clear->setStatusTip(uiText().text(UiTextId::ClearCommandWindow));
    uiText().registerAction(m_clear, UiTextId::Clear, UiTextId::ClearCommandWindow);
    connect(m_clear, &QAction::triggered, this, &ConsoleLineView::clear);

    addAction(m_paste);
    addAction(m_clear);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    updateScrollBar();
}

ConsoleLineView::~ConsoleLineView() = default;

void ConsoleLineView::setViewFont(const QFont &font)
{
    setFont(font);
    viewport()->setFont(font);
    updateScrollBar();
    viewport()->update();
}

int ConsoleLineView::lineHeight() const
{
    return qMax(1, fontMetrics().lineSpacing());
}

int ConsoleLineView::rowCount() const
{
    return int(m_input.lines().size()) + 1;
}

int ConsoleLineView::visibleRows() const
{
    return qMax(1, (viewport()->height() - 2 * Margin) / lineHeight());
}

int ConsoleLineView::firstVisibleRow() const
{
    return verticalScrollBar()->value();
}

void ConsoleLineView::paste()
{
    m_input.paste(QApplication::clipboard()->text());
    changed();
}

void ConsoleLineView::clear()
{
    m_input.clear();
    changed();
}

bool ConsoleLineView::event(QEvent *event)
{
    // Tab completes; it never moves the focus.
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void ConsoleLineView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        event->ignore();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Backspace:
        m_input.backspace();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QString line = m_input.enter();
        changed();
        m_console.SubmitLine(line);
        return;
    }
    case Qt::Key_Up:
        m_input.up();
        break;
    case Qt::Key_Down:
        m_input.down();
        break;
    case Qt::Key_Tab:
        m_input.tab(m_console);
        break;
    default: {
        const QString text = event->text();
        bool printable = !text.isEmpty();
        for (const QChar c : text)
            printable = printable && c.isPrint();
        if (printable)
            m_input.type(text);
        else
            m_input.otherKey();
        break;
    }
    }
    changed();
}

void ConsoleLineView::changed()
{
    m_blinkOn = true;
    updateScrollBar();
    scrollToBottom();
    viewport()->update();
}

void ConsoleLineView::updateScrollBar()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(visibleRows());
    bar->setSingleStep(1);
    bar->setRange(0, qMax(0, rowCount() - visibleRows()));
}

void ConsoleLineView::scrollToBottom()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ConsoleLineView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    painter.setPen(Qt::black);
    painter.setFont(font());
    const QFontMetrics metrics = fontMetrics();
    const int height = lineHeight();
    const int first = firstVisibleRow();
    const int last = qMin(rowCount(), first + visibleRows() + 1);
    const int inputRow = rowCount() - 1;
    for (int row = first; row < last; ++row) {
        const QString text =
            RowMark + (row == inputRow ? m_input.input() : m_input.lines().at(row));
        const int top = Margin + (row - first) * height;
        painter.drawText(Margin, top + metrics.ascent(), text);
        if (row == inputRow && cursorShown()) {
            const int x = Margin + metrics.horizontalAdvance(text);
            painter.fillRect(x, top, qMax(1, metrics.averageCharWidth() / 4), height, Qt::black);
        }
    }
}

void ConsoleLineView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void ConsoleLineView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    m_blinkOn = true;
    m_blink.start(BlinkMs, this);
    viewport()->update();
}

void ConsoleLineView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    viewport()->update();
}

void ConsoleLineView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_blinkOn = !m_blinkOn;
    viewport()->update();
}
