#include "OperationProgress.h"

#include "ProgramObjects.h"
#include "UiTextId.h"

#include <limits>

void OperationProgress::begin(uint start, uint count)
{
    m_start = start;
    m_end = start + (count == 0 ? 1 : count);
    // A count beyond the bar's int range still shows: the bar saturates.
    m_barMaximum = count == 0 ? 1 : int(qMin<uint>(count, std::numeric_limits<int>::max()));
    m_lastRateMs = 0;
}

QString OperationProgress::rateText(const QString &text, quint64 value, int packetSize,
                                    qint64 elapsedMs)
{
    if (elapsedMs <= 0 || packetSize <= 0)
        return QString();
    const double kilobytesPerSecond = double(value) * packetSize / double(elapsedMs);
    if (!(kilobytesPerSecond > 0 && kilobytesPerSecond < 1000000))
        return QString();
    return text + QString::asprintf(" %.2f KB/s", kilobytesPerSecond);
}

QString OperationProgress::elapsedLine(const QString &text, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return QString();
    return text + QString::asprintf(" %02d:%02d:%02d (.%03d)", int(elapsedMs / 3600000),
                                    int(elapsedMs / 60000 % 60), int(elapsedMs / 1000 % 60),
                                    int(elapsedMs % 1000));
}

OperationProgress::Update OperationProgress::rate(int textId, uint value, qint64 elapsedMs,
                                                  int packetSize)
{
    Update update;
    update.status = rateText(uiText().text(textId), value, packetSize, elapsedMs);
    if (update.status.isEmpty())
        return update;
    update.setBar = true;
    update.barValue = value >= uint(m_barMaximum) ? 0 : int(value);
    return update;
}

OperationProgress::Update OperationProgress::finish(int textId, qint64 elapsedMs)
{
    Update update;
    update.ended = true;
    update.setBar = true;
    update.barValue = 0;
    update.log = elapsedLine(uiText().text(textId), elapsedMs);
    m_start = 0;
    m_end = 0;
    return update;
}

OperationProgress::Update OperationProgress::reached(uint reached, qint64 elapsedMs, int packetSize)
{
    if (!running())
        return Update();
    if (reached >= m_end)
        return finish(UiTextId::Time, elapsedMs);
    if (elapsedMs - m_lastRateMs < RateIntervalMs)
        return Update();
    m_lastRateMs = elapsedMs;
    return rate(UiTextId::ReadSpeed, reached - m_start, elapsedMs, packetSize);
}

OperationProgress::Update OperationProgress::written(uint a, uint b, qint64 elapsedMs,
                                                     int packetSize)
{
    const uint value = a + (b == 0 ? 1 : b);
    Update update = rate(UiTextId::WriteSpeed, value - m_start, elapsedMs, packetSize);
    if (value >= m_end) {
        update.ended = running();
        update.setBar = true;
        update.barValue = 0;
        m_end = 0;
    }
    return update;
}

OperationProgress::Update OperationProgress::erased(uint value, qint64 elapsedMs)
{
    Update update;
    if (!running() || value < m_start)
        return update;
    const uint done = value - m_start;
    if (done < uint(m_barMaximum)) {
        update.setBar = true;
        update.barValue = int(done);
        return update;
    }
    return finish(UiTextId::EraseTime, elapsedMs);
}
