#pragma once

#include "AnswerKind.h"
#include "CMemoryNode.h"
#include "ChipEngine.h"

#include <QStringList>

#include <memory>

// An engine for the console tests: no worker runs, every chip operation is
// written down in calls(). Its device is 1 MiB in sectors of 4 KiB: a range
// is widened to whole sectors and cut at the end, no length or a start past
// the end means the whole device. Two memory tabs, "Buffer" and "Spare".
// It has no smart copy of its own (the base's answer).
class ConsoleTestEngine : public ChipEngine
{
public:
    static constexpr quint64 DeviceSize = 0x100000;
    static constexpr quint64 Sector = 0x1000;

    ConsoleTestEngine(UsbDriverTable &usb, quint32 capabilities) : ChipEngine(usb)
    {
        setCapabilities(capabilities);
        m_nodes[0] =
            addMemoryNode(std::make_unique<CMemoryNode>(QStringLiteral("Buffer"), 0, 0x100, 0xFF));
        m_nodes[1] =
            addMemoryNode(std::make_unique<CMemoryNode>(QStringLiteral("Spare"), 0, 0x10, 0xFF));
    }
    ~ConsoleTestEngine() override { shutdown(); }

    QStringList calls;

    static QString hex(quint64 value) { return QString::number(value, 16); }
    void note(const QString &call) { calls << call; }

    void packetSent(const EngineRequest &) override {}
    void checkAdapter(int) override {}
    void writeLE32(quint8 *, quint32) override {}
    int startRead(quint64 start, quint64 length, int operation) override
    {
        note(QStringLiteral("read %1 %2 %3").arg(hex(start), hex(length)).arg(operation));
        return operation;
    }
    int startErase(quint64 start, quint64 length) override
    {
        note(QStringLiteral("erase %1 %2").arg(hex(start), hex(length)));
        return JobCode::Erase;
    }
    int startProgram(quint64 start, quint64 length) override
    {
        note(QStringLiteral("program %1 %2").arg(hex(start), hex(length)));
        return JobCode::Program;
    }
    quint64 normalizeRange(quint64 &start, quint64 &length) override
    {
        if (length == 0 || start >= DeviceSize) {
            start = 0;
            length = DeviceSize;
            return length;
        }
        const quint64 end = length > DeviceSize - start ? DeviceSize : start + length;
        start -= start % Sector;
        length = (end + Sector - 1) / Sector * Sector - start;
        return length;
    }
    void queryChipIdentification(int) override {}
    int detectChip() override
    {
        note(QStringLiteral("detect"));
        return JobCode::Detect;
    }
    CMemoryNode *memoryNode(int index) override
    {
        return index == 0 || index == 1 ? m_nodes[index] : nullptr;
    }
    bool handleReply(EngineMessage &) override { return false; }
    void loadImage(const QString &fileName) override { note(QStringLiteral("load ") + fileName); }
    void saveImage(const QString &tab, const QString &fileName) override
    {
        note(QStringLiteral("save %1 %2").arg(tab, fileName));
    }
    void exportBlocks(quint64 first, quint64 count, const QString &fileName) override
    {
        note(QStringLiteral("export %1 %2 %3").arg(hex(first), hex(count), fileName));
    }
    void setSpeed(int step) override { note(QStringLiteral("speed %1").arg(step)); }
    void fillRandom() override { note(QStringLiteral("random")); }
    void newChip() override { note(QStringLiteral("newchip")); }
    void multipleReadCorrection(bool withArgument) override
    {
        note(QStringLiteral("mfc %1").arg(int(withArgument)));
    }

private:
    CMemoryNode *m_nodes[2] = {};
};
