#pragma once

#include "FlickScroll.h"
#include "HexCursor.h"
#include "HexLayout.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QList>
#include <QPointer>

#include <functional>
#include <vector>

class CMemoryNode;
class QAction;

// One memory node as a hex dump: addresses, 16 bytes in hexadecimal and the
// same bytes as characters. Each paint reads only the rows it shows (one
// Read of at most 96 rows), so nodes of many gigabytes can be shown. A nibble
// cursor takes hexadecimal digits into resident nodes; the view scrolls with
// its scroll bars, the wheel, the keys and flick-dragging, and loads a file
// dropped from the working-folder panel. While an operation has claimed the
// node, typed digits, Init and drops are refused with "Busy" in the tool tip
// and status bar (a drop also logs it); painting goes on, since reads never
// wait for a claim. The node is not owned.
class HexView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit HexView(CMemoryNode *node, QWidget *parent = nullptr);
    ~HexView() override;

    CMemoryNode *node() const { return m_node; }

    // Recomputes the metrics and scroll ranges after the node's size or
    // contents changed; keeps the cursor and the first row inside the node.
    void relayout();
    // Scrolls so that node offsets first..last are visible.
    void makeVisible(quint64 first, quint64 last);
    // Called with the path after a dropped file was loaded.
    void setRememberFile(std::function<void(const QString &)> remember);
    // How a dropped file gets into the node; false when it could not be
    // loaded. Default: the node's own Load.
    void setLoader(std::function<bool(const QString &)> load);
    // An extra context-menu entry, shown after a separator while enabled.
    void setContextAction(QAction *action);
    void setViewFont(const QFont &font);

    quint64 cursorOffset() const { return m_cursor.offset(); }
    bool cursorUpper() const { return m_cursor.upper(); }
    void setCursorPosition(quint64 offset, bool upper);
    quint64 firstRow() const { return m_firstRow; }
    void setFirstRow(quint64 row);
    int horizontalOffset() const { return m_horizontal; }
    int visibleRows() const { return m_layout.visibleRows(); }
    int addressDigits() const { return m_layout.addressDigits(); }
    const HexLayout &layout() const { return m_layout; }
    bool blinking() const { return m_blinkTimer.isActive(); }
    bool flicking() const { return m_flickTimer.isActive(); }
    // The "Init" action, present for resident nodes only.
    QAction *initAction() const { return m_initAction; }
    // The context menu's entries (null for a separator); empty: no menu.
    QList<QAction *> contextMenuEntries() const;

    // Viewport rectangle of the cursor's byte (both digits).
    QRect cursorByteRect() const;

signals:
    void edited();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void paintRows(QPainter &painter);
    void paintCursorByte(QPainter &painter);
    void paintOverlay(QPainter &painter);
    void updateScrollBars();
    void scrollRows(qint64 rows);
    void moveCursor(HexCursor cursor);
    void placeCursorAt(QPoint point);
    void updateBlink();
    bool cursorRowVisible() const;
    QRect cursorNibbleRect() const;
    void log(const QString &line) const;
    // True, with "Busy" shown, when the node is claimed.
    bool refuseWhileClaimed();
    // Takes "Busy" down again.
    void clearBusy();
    // The node's current size (0 without a node).
    quint64 nodeSize() const;
    void showRange(quint64 first, quint64 last);

    CMemoryNode *m_node;
    HexLayout m_layout;
    HexCursor m_cursor;
    quint64 m_firstRow = 0;
    int m_horizontal = 0;
    bool m_settingBars = false;
    bool m_blinkOn = false;
    QBasicTimer m_blinkTimer;
    FlickScroll m_flick;
    QBasicTimer m_flickTimer;
    QPoint m_lastPoint;
    int m_wheelRemainder = 0;
    QAction *m_initAction = nullptr;
    QPointer<QAction> m_contextAction;
    std::function<void(const QString &)> m_rememberFile;
    std::function<bool(const QString &)> m_load;
    std::vector<quint8> m_rowBytes;
    bool m_busyShown = false;
};
