#pragma once

#include "EngineMessage.h"

// The outgoing descriptor of one NAND program command: where its data lies
// in the image and how many bytes of it go out, padded to `size()` (whole
// packets) with 0xFF.
class NandProgramChunk : public EngineMessage
{
public:
    NandProgramChunk(int tag, uint paddedSize, quint8 kind, quint64 nodeOffset, quint32 bytes)
        : EngineMessage(tag, paddedSize, kind, false), offset(nodeOffset), dataBytes(bytes)
    {}

    // Where the data starts in the source node.
    const quint64 offset;
    const quint32 dataBytes;
};
