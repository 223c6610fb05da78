#pragma once

// Flick scrolling of a view dragged with the mouse. While the button is held
// the content follows the pointer row by row, and every tick of the view's
// 30 ms timer records the vertical pixels moved since the last tick as the
// speed. After the release each tick scrolls by the speed (rows per tick),
// clamped to ±MaxSpeed and brought 1 closer to 0 each tick, until it is 0.
// Row deltas are positive towards the end of the node.
class FlickScroll
{
public:
    static constexpr int MaxSpeed = 29;
    static constexpr int TickMs = 30;

    // Button pressed: any coasting stops.
    void press();
    // The pointer moved by `dy` pixels with the button held; returns the rows
    // to scroll (moving down scrolls towards the start).
    int drag(int dy, int rowHeight);
    // Button released.
    void release();
    // One timer tick; returns the rows to scroll.
    int tick();
    // Whether the view's timer should run.
    bool running() const { return m_dragging || m_speed != 0; }
    bool dragging() const { return m_dragging; }
    int speed() const { return m_speed; }

private:
    bool m_pressed = false;
    bool m_dragging = false;
    int m_tickPixels = 0;
    int m_rowPixels = 0;
    int m_speed = 0;
};
