#pragma once

#include <QtGlobal>

#include <deque>

// The page reads of a running NAND read, verify or blank check, in queue
// order, so that each answer message is placed by its tag: the programmer
// pads every answer to whole USB packets, and a message lost on the link
// must not shift the image. Tags count packets.
class NandReadPlan
{
public:
    struct Request
    {
        quint64 address = 0;   // first byte, from the device's start
        quint32 dataBytes = 0; // bytes the operation asked for
        quint32 packets = 0;   // packets of the padded answer
        int firstTag = 0;
    };

    // The data of one message that belongs to the image.
    struct Piece
    {
        quint64 address = 0;
        quint32 length = 0; // bytes from the message's start; 0: padding only
    };

    enum class Result { Placed, Missing, Unexpected };

    void start(quint32 packetSize);
    void add(const Request &request) { m_requests.push_back(request); }
    void clear() { m_requests.clear(); }
    bool done() const { return m_requests.empty(); }
    quint32 packetSize() const { return m_packetSize; }

    // Places a message of `size` bytes with `tag`. Missing: its tag is not
    // the next one expected (an answer was lost); Unexpected: no request
    // waits for an answer.
    Result place(int tag, quint32 size, Piece &piece);
    // The address the next message was expected at (for a failure line).
    quint64 expectedAddress() const;

private:
    std::deque<Request> m_requests;
    quint64 m_delivered = 0; // bytes of the front request's answer so far
    quint32 m_packetSize = 64;
};
