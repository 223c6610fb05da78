#pragma once

#include <QtGlobal>

#include <array>

// One command for the programmer, queued on the GUI thread and processed by
// the engine's worker: the bytes written to pipe 0 and how to read the answer.
struct EngineRequest
{
    static constexpr int MaxBytes = 100;

    // The command; byte 0 is its code. Bytes past `length` are not sent.
    std::array<quint8, MaxBytes> bytes{};
    int length = 0;
    // Kind code of every answer message; 0 when there is no answer.
    quint8 kind = 0;
    // Bytes to read back after the write; 0: no answer.
    uint answerLength = 0;
    // Carried in the answer messages (advanced per chunk); -1: none.
    int tag = -1;
    // A descriptor in the engine's outgoing list belongs to this request.
    bool announcesData = false;

    quint8 code() const { return length > 0 ? bytes[0] : 0; }
};
