#include "NandBlockWindow.h"

#include <algorithm>

NandBlockWindow::NandBlockWindow(quint32 totalBlocks)
    : m_total(totalBlocks), m_count(totalBlocks), m_countTop(totalBlocks),
      m_startText(QStringLiteral("0")), m_countText(QString::number(totalBlocks))
{}

void NandBlockWindow::startEdited(const QString &text)
{
    m_startText = text;
    m_start = std::min(text.toUInt(), startTop());
    m_countTop = m_total - m_start;
    m_count = m_countTop;
    m_countText = QString::number(m_count);
}

void NandBlockWindow::readEdits()
{
    m_start = std::min(m_startText.toUInt(), startTop());
    m_countTop = m_total - m_start;
    bool ok = false;
    const quint32 count = m_countText.toUInt(&ok);
    // An empty or zero count means up to the device's end.
    m_count = ok && count > 0 ? std::min(count, m_countTop) : m_countTop;
}

void NandBlockWindow::reset()
{
    m_start = 0;
    m_count = m_total;
    m_countTop = m_total;
}
