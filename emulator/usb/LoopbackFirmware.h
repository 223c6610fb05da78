#pragma once

#include "FirmwareSide.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace kvemu {

// A stand-in firmware: bytes written to pipe 0 (EP 0x02) come back, in
// order, from EP 0x86 or EP 0x88. A read takes what is queued, up to the
// buffer's size; with nothing queued it answers a zero-length packet at
// once. Pipe 1 (EP 0x04) takes bytes and drops them.
//
// holdAnswers(true) makes the IN endpoints answer Nak instead, so the host's
// transfer waits (for a test of an unplug during a blocking read) until the
// hold is lifted. Thread-safe.
class LoopbackFirmware : public FirmwareSide
{
public:
    void onStart(const ImageInfo &image, LinkSpeed speed) override;
    TransferResult bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
    TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void onStop() override;

    void holdAnswers(bool hold);
    bool holdingAnswers() const;
    std::size_t queuedBytes() const;
    std::uint64_t droppedBytes() const; // taken on pipe 1
    bool running() const;
    std::optional<ImageInfo> image() const;
    LinkSpeed speed() const;
    unsigned starts() const;
    unsigned stops() const;

private:
    mutable std::mutex m_mutex;
    std::deque<std::uint8_t> m_queue;
    std::uint64_t m_dropped = 0;
    bool m_hold = false;
    bool m_running = false;
    std::optional<ImageInfo> m_image;
    LinkSpeed m_speed = LinkSpeed::High;
    unsigned m_starts = 0;
    unsigned m_stops = 0;
};

} // namespace kvemu
