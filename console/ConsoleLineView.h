#pragma once

#include "ConsoleInput.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

class CommandConsole;
class QAction;

// The console input under the tabs: the entered lines, each on a row after
// "-", and the input line after "-" with a blinking cursor. Keys go to a
// ConsoleInput; an entered line goes to CommandConsole::SubmitLine, Tab to
// its completion. Black on white in a fixed-pitch font; the scroll bar is
// shown only when the rows do not fit. Its context menu holds the Paste
// and Clear actions.
class ConsoleLineView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int BlinkMs = 500;

    // `console` must outlive the view.
    explicit ConsoleLineView(CommandConsole &console, QWidget *parent = nullptr);
    ~ConsoleLineView() override;

    void setViewFont(const QFont &font);

    QAction *pasteAction() const { return m_paste; }
    QAction *clearAction() const { return m_clear; }
    const ConsoleInput &input() const { return m_input; }

    // Rows that fit in the viewport, and the first one shown.
    int visibleRows() const;
    int firstVisibleRow() const;
    int lineHeight() const;
    // True while the blinking cursor is drawn.
    bool cursorShown() const { return m_blinkOn && hasFocus(); }

    // Appends the clipboard's text to the input line.
    void paste();
    // Empties the entered lines, the completion prefix and the input line.
    void clear();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int rowCount() const;
    void updateScrollBar();
    void scrollToBottom();
    void changed();

    CommandConsole &m_console;
    ConsoleInput m_input;
    QAction *m_paste = nullptr;
    QAction *m_clear = nullptr;
    QBasicTimer m_blink;
    bool m_blinkOn = true;
};
