// The exports of libkvemu.so: kvusb's six functions and the test functions
// (kvemu.h), each a thin call into the one DropInHost.
#include "kvemu.h"

#include "DropInHost.h"

#include <cstring>
#include <string>

using kvemu::DropInHost;

namespace {
// Storage for kvemu_last_error's answer; the caller reads it before the next call.
thread_local std::string lastErrorText;
} // namespace

int func1(int pipe, unsigned char *buffer, int length)
{
    return DropInHost::instance().read(pipe, buffer, length);
}

int func2(int pipe, unsigned char *buffer, int length)
{
    return DropInHost::instance().write(pipe, buffer, length);
}

int func3(const void *records, unsigned char force)
{
    return DropInHost::instance().download(records, force);
}

int func4(void)
{
    return DropInHost::instance().open();
}

int func5(void)
{
    return DropInHost::instance().close();
}

int func6(void)
{
    return DropInHost::instance().status();
}

int kvemu_configure(const char *profile)
{
    return DropInHost::instance().configure(profile ? profile : "") ? 1 : 0;
}

int kvemu_reset(void)
{
    return DropInHost::instance().reset() ? 1 : 0;
}

const char *kvemu_last_error(void)
{
    lastErrorText = DropInHost::instance().lastError();
    return lastErrorText.c_str();
}

long long kvemu_read_chip(int chip, unsigned long long offset, unsigned char *buffer,
                          unsigned long long length)
{
    return DropInHost::instance().readChip(chip, offset, buffer, length);
}

long long kvemu_chip_size(int chip)
{
    return DropInHost::instance().chipSize(chip);
}

long long kvemu_write_chip(int chip, unsigned long long offset, const unsigned char *buffer,
                           unsigned long long length)
{
    return DropInHost::instance().writeChip(chip, offset, buffer, length);
}

int kvemu_socket_chip(void)
{
    return DropInHost::instance().socketChip();
}

int kvemu_swap_chip(void)
{
    return DropInHost::instance().swapChip() ? 1 : 0;
}

long long kvemu_command_log(char *buffer, long long size)
{
    const std::string text = DropInHost::instance().commandLog();
    if (buffer && size > 0) {
        const std::size_t n =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<long long>(text.size());
}

void kvemu_clear_log(void)
{
    DropInHost::instance().clearLog();
}

int kvemu_inject_fault(const char *fault, unsigned long long value)
{
    return DropInHost::instance().injectFault(fault ? fault : "", value) ? 1 : 0;
}

void kvemu_set_download_pause_ms(unsigned milliseconds)
{
    DropInHost::instance().setDownloadPauseMs(milliseconds);
}
