#include "ScriptedFirmware.h"

#include <algorithm>
#include <cstdio>

using namespace kvemu;

void ScriptedFirmware::setAnswer(std::uint8_t code, Rule rule)
{
    std::lock_guard lock(m_mutex);
    m_rules[code] = std::move(rule);
}

void ScriptedFirmware::setAnswer(std::uint8_t code, Bytes answer)
{
    setAnswer(code, [answer](const Bytes &, const std::string &) { return answer; });
}

void ScriptedFirmware::setData(std::uint8_t code, DataRule rule)
{
    std::lock_guard lock(m_mutex);
    m_dataRules[code] = std::move(rule);
}

void ScriptedFirmware::holdAfter(std::optional<std::uint64_t> bytes)
{
    std::lock_guard lock(m_mutex);
    m_holdAfter = bytes;
}

void ScriptedFirmware::release()
{
    holdAfter(std::nullopt);
    wake();
}

void ScriptedFirmware::answerEmptyAt(std::size_t readIndex)
{
    std::lock_guard lock(m_mutex);
    m_emptyAt = readIndex;
}

void ScriptedFirmware::discardAnswers()
{
    std::lock_guard lock(m_mutex);
    m_answer.clear();
}

std::vector<std::string> ScriptedFirmware::log() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::vector<std::string> ScriptedFirmware::commands() const
{
    std::vector<std::string> out;
    for (const std::string &line : log())
        if (line.rfind("CMD ", 0) == 0)
            out.push_back(line.substr(4));
    return out;
}

std::vector<ScriptedFirmware::Clock::time_point> ScriptedFirmware::commandTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_commandTimes;
}

std::vector<ScriptedFirmware::Read> ScriptedFirmware::reads() const
{
    std::lock_guard lock(m_mutex);
    return m_reads;
}

ScriptedFirmware::Bytes ScriptedFirmware::data() const
{
    std::lock_guard lock(m_mutex);
    return m_data;
}

std::uint64_t ScriptedFirmware::servedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_served;
}

std::size_t ScriptedFirmware::queuedAnswerBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_answer.size();
}

std::string ScriptedFirmware::image() const
{
    std::lock_guard lock(m_mutex);
    return m_image;
}

void ScriptedFirmware::clearLog()
{
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_commandTimes.clear();
    m_reads.clear();
    m_data.clear();
}

std::string ScriptedFirmware::hex(const Bytes &bytes)
{
    std::string out;
    char digits[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        if (!out.empty())
            out += ' ';
        out += digits;
    }
    return out;
}

void ScriptedFirmware::onStart(const ImageInfo &image, LinkSpeed)
{
    std::lock_guard lock(m_mutex);
    m_image = image.name;
    m_answer.clear();
    m_dataExpected = 0;
}

void ScriptedFirmware::onStop()
{
    std::lock_guard lock(m_mutex);
    m_image.clear();
    m_answer.clear();
    m_dataExpected = 0;
}

TransferResult ScriptedFirmware::bulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data)
{
    if (endpoint == 0x04)
        return TransferResult::done(data.size());
    if (endpoint != 0x02)
        return TransferResult::failed(TransferStatus::Stall);
    std::lock_guard lock(m_mutex);
    if (m_dataExpected > 0) {
        const std::size_t n = std::min(m_dataExpected, data.size());
        m_data.insert(m_data.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        m_dataExpected -= n;
        m_dataThisCommand += n;
        if (m_dataExpected == 0)
            m_log.push_back("DATA " + std::to_string(m_dataThisCommand));
        return TransferResult::done(data.size());
    }
    const Bytes packet(data.begin(), data.end());
    m_log.push_back("CMD " + hex(packet));
    m_commandTimes.push_back(Clock::now());
    if (packet.empty())
        return TransferResult::done(0);
    const auto rule = m_rules.find(packet[0]);
    if (rule != m_rules.end()) {
        const Bytes answer = rule->second(packet, m_image);
        m_answer.insert(m_answer.end(), answer.begin(), answer.end());
    }
    const auto dataRule = m_dataRules.find(packet[0]);
    if (dataRule != m_dataRules.end()) {
        m_dataExpected = dataRule->second(packet);
        m_dataThisCommand = 0;
    }
    return TransferResult::done(data.size());
}

TransferResult ScriptedFirmware::bulkIn(std::uint8_t endpoint, std::span<std::uint8_t> buffer)
{
    if (endpoint != 0x86 && endpoint != 0x88)
        return TransferResult::failed(TransferStatus::Stall);
    std::lock_guard lock(m_mutex);
    if (m_emptyAt && *m_emptyAt == m_reads.size() && !m_answer.empty()) {
        m_emptyAt.reset();
        m_reads.push_back({endpoint, 0});
        return TransferResult::done(0);
    }
    std::size_t n = std::min(buffer.size(), m_answer.size());
    if (m_holdAfter)
        n = std::min<std::uint64_t>(n, *m_holdAfter > m_served ? *m_holdAfter - m_served : 0);
    if (n == 0)
        return TransferResult::failed(TransferStatus::Nak);
    std::copy_n(m_answer.begin(), n, buffer.begin());
    m_answer.erase(m_answer.begin(), m_answer.begin() + static_cast<std::ptrdiff_t>(n));
    m_served += n;
    m_reads.push_back({endpoint, n});
    return TransferResult::done(n);
}
