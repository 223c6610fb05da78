#include "CommandLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kvemu {

CommandLog::CommandLog(const std::string &file)
{
    if (file.empty())
        return;
    m_fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd < 0)
        append("ERROR cannot open log file " + file + ": " + std::strerror(errno));
}

CommandLog::~CommandLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CommandLog::hex(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

void CommandLog::command(std::span<const std::uint8_t> packet)
{
    append(packet.empty() ? std::string("CMD") : "CMD " + hex(packet));
}

void CommandLog::data(std::uint64_t bytes)
{
    append("DATA " + std::to_string(bytes));
}

void CommandLog::download(const std::string &image)
{
    append("DOWNLOAD " + image);
}

void CommandLog::socket(unsigned chip)
{
    append(chip == 0 ? "SOCKET first" : "SOCKET second");
}

void CommandLog::error(const std::string &reason)
{
    append("ERROR " + reason);
}

void CommandLog::fault(const std::string &what)
{
    append("FAULT " + what);
}

void CommandLog::plug(const std::string &line)
{
    append(line);
}

void CommandLog::append(std::string line)
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) {
        const std::string out = line + '\n';
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(m_fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // a full disk loses log lines, never the emulator
            done += static_cast<std::size_t>(n);
        }
    }
    m_lines.push_back(std::move(line));
    if (m_lines.size() > KeptLines)
        m_lines.pop_front();
}

std::vector<std::string> CommandLog::lines() const
{
    std::lock_guard lock(m_mutex);
    return {m_lines.begin(), m_lines.end()};
}

std::string CommandLog::text() const
{
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const std::string &line : m_lines)
        all += line + '\n';
    return all;
}

void CommandLog::clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

} // namespace kvemu
