#pragma once

#include "FirmwareSide.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A firmware for the emulated programmer whose answers a test sets per
// command code. Every packet written to pipe 0 (EP 0x02) is logged as
// "CMD" and its bytes in lower-case hex; the answer a rule gives for it is
// queued and served, in order, to whichever answer pipe (EP 0x86, 0x88) the
// host reads, each read logged with its endpoint. A command that announces
// data (setData) is followed by that many data bytes, logged as "DATA n".
// Thread-safe.
class ScriptedFirmware : public kvemu::FirmwareSide
{
public:
    using Bytes = std::vector<std::uint8_t>;
    // The answer to `packet` while `image` runs.
    using Rule = std::function<Bytes(const Bytes &packet, const std::string &image)>;
    // How many data bytes follow `packet`.
    using DataRule = std::function<std::size_t(const Bytes &packet)>;
    using Clock = std::chrono::steady_clock;

    struct Read
    {
        std::uint8_t endpoint;
        std::size_t bytes;
    };

    void setAnswer(std::uint8_t code, Rule rule);
    void setAnswer(std::uint8_t code, Bytes answer);
    void setData(std::uint8_t code, DataRule rule);
    // Answers no read (Nak) once `bytes` answer bytes were served in all;
    // nothing: no limit.
    void holdAfter(std::optional<std::uint64_t> bytes);
    void release();
    // The read with this index (counted in reads()) answers a zero-length
    // packet instead of data, once.
    void answerEmptyAt(std::size_t readIndex);
    // Drops the answer bytes not read yet.
    void discardAnswers();

    std::vector<std::string> log() const;
    // The CMD lines only, without the "CMD " prefix.
    std::vector<std::string> commands() const;
    std::vector<Clock::time_point> commandTimes() const;
    std::vector<Read> reads() const;
    Bytes data() const;
    std::uint64_t servedBytes() const;
    std::size_t queuedAnswerBytes() const;
    std::string image() const;
    void clearLog();

    static std::string hex(const Bytes &bytes);

    void onStart(const kvemu::ImageInfo &image, kvemu::LinkSpeed speed) override;
    kvemu::TransferResult bulkOut(std::uint8_t endpoint,
                                  std::span<const std::uint8_t> data) override;
    kvemu::TransferResult bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
    void onStop() override;

private:
    mutable std::mutex m_mutex;
    std::map<std::uint8_t, Rule> m_rules;
    std::map<std::uint8_t, DataRule> m_dataRules;
    std::deque<std::uint8_t> m_answer;
    std::optional<std::uint64_t> m_holdAfter;
    std::optional<std::size_t> m_emptyAt;
    std::uint64_t m_served = 0;
    std::size_t m_dataExpected = 0;
    std::size_t m_dataThisCommand = 0;
    Bytes m_data;
    std::vector<std::string> m_log;
    std::vector<Clock::time_point> m_commandTimes;
    std::vector<Read> m_reads;
    std::string m_image;
};
