#include "FlickScroll.h"

#include <algorithm>

void FlickScroll::press()
{
    m_pressed = true;
    m_dragging = false;
    m_tickPixels = 0;
    m_rowPixels = 0;
    m_speed = 0;
}

int FlickScroll::drag(int dy, int rowHeight)
{
    if (!m_pressed)
        return 0;
    m_dragging = true;
    m_tickPixels += dy;
    m_rowPixels += dy;
    const int rows = m_rowPixels / std::max(rowHeight, 1);
    m_rowPixels -= rows * std::max(rowHeight, 1);
    return -rows;
}

void FlickScroll::release()
{
    m_pressed = false;
    if (!m_dragging)
        m_speed = 0;
    m_dragging = false;
}

int FlickScroll::tick()
{
    if (m_dragging) {
        m_speed = m_tickPixels;
        m_tickPixels = 0;
        return 0;
    }
    if (m_speed == 0)
        return 0;
    const int speed = std::clamp(m_speed, -MaxSpeed, MaxSpeed);
    m_speed = speed > 0 ? speed - 1 : speed + 1;
    return -speed;
}
