#pragma once

#include <QString>
#include <QtGlobal>

// The arithmetic of the main window's progress display: where the running
// operation started and ends, the progress bar's value, the transfer rate
// and the elapsed time. Values count link packets (erase: pages or
// sectors). No widgets and no clock: the caller passes the milliseconds of
// its operation clock, and shows what the returned update says.
class OperationProgress
{
public:
    static constexpr qint64 RateIntervalMs = 500;

    // What the window shows after one progress report.
    struct Update
    {
        bool setBar = false;
        int barValue = 0;
        QString status; // status bar message, empty: unchanged
        bool ended = false;
        QString log; // elapsed-time line for the message log, empty: none
    };

    // Starts an operation at `start` that ends at start + count (start + 1
    // for a count of 0); the bar runs from 0 to count (1 for 0).
    void begin(uint start, uint count);
    // Idle again: Stop, a lost connection, a failed check.
    void stop() { m_end = 0; }

    bool running() const { return m_end != 0; }
    uint start() const { return m_start; }
    uint end() const { return m_end; }
    int barMaximum() const { return m_barMaximum; }

    // A read, verify or blank-check report that progress has reached
    // `reached` (absolute, position + count): a rate at most every
    // RateIntervalMs and, at the end, the elapsed time with "Time".
    Update reached(uint reached, qint64 elapsedMs, int packetSize);
    // Write progress (a + b, or a + 1 for b = 0): a rate on every report.
    Update written(uint a, uint b, qint64 elapsedMs, int packetSize);
    // Erase progress at absolute `value` (the start page or sector plus n).
    Update erased(uint value, qint64 elapsedMs);

    // "<text> %.2f KB/s" for `value` packets of `packetSize` bytes in
    // `elapsedMs`; empty when the rate is not inside (0, 1000000).
    static QString rateText(const QString &text, quint64 value, int packetSize, qint64 elapsedMs);
    // "<text> %02d:%02d:%02d (.%03d)"; empty for 0 ms.
    static QString elapsedLine(const QString &text, qint64 elapsedMs);

private:
    Update rate(int textId, uint value, qint64 elapsedMs, int packetSize);
    Update finish(int textId, qint64 elapsedMs);

    uint m_start = 0;
    uint m_end = 0;
    int m_barMaximum = 1;
    qint64 m_lastRateMs = 0;
};
