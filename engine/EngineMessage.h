#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// One answer chunk (or marker) from the engine's worker thread to the GUI
// thread, and the form of the data descriptors in the engine's outgoing list.
// Whoever receives a message owns it and deletes it.
class EngineMessage
{
public:
    // `size` bytes of data, zeroed; `withData` false gives a descriptor that
    // only says which part of a buffer to send (tag and size, no bytes).
    EngineMessage(int tag, uint size, quint8 kind, bool withData = true);
    virtual ~EngineMessage();
    EngineMessage(const EngineMessage &) = delete;
    EngineMessage &operator=(const EngineMessage &) = delete;

    int tag() const { return m_tag; }
    uint size() const { return m_size; }
    quint8 kind() const { return m_kind; }
    // Null for a descriptor without data; otherwise size() bytes.
    quint8 *data() { return m_data.get(); }
    const quint8 *data() const { return m_data.get(); }
    bool hasData() const { return m_data != nullptr; }
    // The data as a byte array (empty for a descriptor).
    QByteArray bytes() const;

    // Byte `index` of the data, or 0 when the message has no such byte.
    quint8 byteAt(uint index) const;
    // The unsigned value of `width` bytes (1 to 4) from `offset`, least
    // significant first; bytes past the end of the data count as 0.
    quint32 readLE(uint offset, int width) const;

private:
    int m_tag;
    uint m_size;
    quint8 m_kind;
    std::unique_ptr<quint8[]> m_data;
};
