#pragma once

#include <QString>
#include <QtGlobal>

// The window of blocks that every NAND operation is limited to, as the NAND
// panel shows it: the texts of its two edits ("Start Block:", "Number of
// Blocks:"), the ranges their validators allow, and the numbers the engine
// reads from them. No widgets: the panel shows what this decides.
class NandBlockWindow
{
public:
    explicit NandBlockWindow(quint32 totalBlocks = 0);

    quint32 totalBlocks() const { return m_total; }
    quint32 startBlock() const { return m_start; }
    quint32 blockCount() const { return m_count; }
    const QString &startText() const { return m_startText; }
    const QString &countText() const { return m_countText; }
    // The validators' ranges: start 0 .. total − 1, count 1 .. countTop.
    quint32 startTop() const { return m_total == 0 ? 0 : m_total - 1; }
    quint32 countTop() const { return m_countTop; }

    // The start edit's text changed: the window runs from that block to
    // the end of the device, shown in the count edit.
    void startEdited(const QString &text);
    // The count edit's text changed.
    void countEdited(const QString &text) { m_countText = text; }
    // Takes the numbers from the edits' texts; a text that is not a number,
    // or a window past the device's end, is cut to what the device has.
    void readEdits();
    // The whole device again; the edits keep their texts.
    void reset();

private:
    quint32 m_total;
    quint32 m_start = 0;
    quint32 m_count;
    quint32 m_countTop;
    QString m_startText;
    QString m_countText;
};
