#pragma once

#include <optional>

// What the working folder's file list shows and selects: how many entries it
// has, how many rows fit, which entry is at the top and which row is
// selected. The selected row counts from the top row, so scrolling moves the
// selection along with the rows. Keys and mouse presses change the state and
// say what changed; the list widget only draws and scrolls accordingly.
class FileListState
{
public:
    struct Change
    {
        bool selection = false;
        bool scroll = false;
        bool any() const { return selection || scroll; }
        bool operator==(const Change &) const = default;
    };

    enum class MouseResult { Nothing, Selected, Open };

    int entryCount() const { return m_entryCount; }
    int lineHeight() const { return m_lineHeight; }
    int visibleRows() const { return m_visibleRows; }
    int topRow() const { return m_topRow; }
    int maximumTopRow() const { return m_maximumTopRow; }
    int selectedRow() const { return m_selectedRow; }
    // Index of the entry in the selected row; -1 when that row holds none.
    int selectedEntry() const;

    // A new listing of `count` entries: top row 0, a selection beyond the
    // list back to row 0, then the metrics again.
    void setEntries(int count);
    // Visible rows = text height / line height; the maximum top row follows
    // and the top row is lowered to it when above.
    void setMetrics(int textHeight, int lineHeight);
    // The list was resized: selected row 0 and new metrics.
    void resize(int textHeight, int lineHeight);
    // The scroll bar moved (or the wheel): the top row within 0..maximum.
    // True when it changed.
    bool setTopRow(int row);

    Change home();
    Change end();
    Change up();
    Change down();
    Change pageUp();
    Change pageDown();
    // The change for a Qt::Key of the table above; nothing for other keys.
    std::optional<Change> key(int qtKey);

    // The row under the viewport's `y` (y / line height).
    int rowAt(int y) const;
    // A left press at `y`. `quickRepeat` says that it follows the previous
    // press within the double-click interval (the second press of a double
    // click): a second open of the file that press opened is skipped.
    MouseResult press(int y, bool quickRepeat);
    // A left double-click at `y`: selects the row and opens its entry, unless
    // the press just before it opened that entry already.
    MouseResult doubleClick(int y);

private:
    bool holdsEntry(int row) const;

    int m_entryCount = 0;
    int m_lineHeight = 0;
    int m_visibleRows = 0;
    int m_topRow = 0;
    int m_maximumTopRow = 0;
    int m_selectedRow = 0;
    int m_openedByPress = -1; // entry the last press opened, -1 when it opened none
};
