#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <string>

// The emulated programmer as the program meets it: the build copies
// libkvemu.so into the test programs' "dll" folder as libkvusb.so (see
// korvane_use_emulator in tests/CMakeLists.txt), so whatever binds the
// transport from there - the main window included - drives the emulator.
// This fixture loads the same library (the same handle) to reach its test
// exports: profiles, the command log, the chip image and faults.
class DropInEmulator
{
public:
    // Loads the library from `<test program folder>/dll/libkvusb.so`.
    bool load()
    {
        return load(QCoreApplication::applicationDirPath() + QStringLiteral("/dll/libkvusb.so"));
    }
    // Loads the library from `path` (the same file the driver table binds).
    bool load(const QString &path)
    {
        m_library.setFileName(path);
        if (!m_library.load())
            return false;
        m_configure = resolve<Configure>("kvemu_configure");
        m_lastError = resolve<LastError>("kvemu_last_error");
        m_readChip = resolve<ReadChip>("kvemu_read_chip");
        m_chipSize = resolve<ChipSize>("kvemu_chip_size");
        m_log = resolve<CommandLogText>("kvemu_command_log");
        m_clearLog = resolve<ClearLog>("kvemu_clear_log");
        m_fault = resolve<InjectFault>("kvemu_inject_fault");
        m_setPause = resolve<SetPause>("kvemu_set_download_pause_ms");
        m_writeChip = resolve<WriteChip>("kvemu_write_chip");
        m_socketChip = resolve<SocketChip>("kvemu_socket_chip");
        return m_configure && m_lastError && m_readChip && m_chipSize && m_log && m_clearLog &&
               m_fault && m_setPause;
    }

    // A new programmer from the INI text `profile`; false (with the reason
    // as a warning) when the emulator refuses it.
    bool configure(const std::string &profile)
    {
        if (m_configure(profile.c_str()) == 1)
            return true;
        qWarning("profile refused: %s", m_lastError());
        return false;
    }

    QString commandLog() const
    {
        const long long size = m_log(nullptr, 0);
        QByteArray text(qsizetype(size) + 1, '\0');
        m_log(text.data(), size + 1);
        text.truncate(qsizetype(size));
        return QString::fromLatin1(text);
    }
    QStringList commandLines() const { return commandLog().split('\n', Qt::SkipEmptyParts); }
    void clearLog() { m_clearLog(); }

    QByteArray readChip(int chip, quint64 offset, quint64 length) const
    {
        QByteArray bytes(qsizetype(length), '\0');
        const long long got =
            m_readChip(chip, offset, reinterpret_cast<unsigned char *>(bytes.data()), length);
        bytes.truncate(got < 0 ? 0 : qsizetype(got));
        return bytes;
    }
    quint64 chipSize(int chip) const { return quint64(qMax(0LL, m_chipSize(chip))); }
    // Raw bytes into the chip in the socket (NAND: data and spare per page).
    bool writeChip(int chip, quint64 offset, const QByteArray &bytes)
    {
        return m_writeChip &&
               m_writeChip(chip, offset, reinterpret_cast<const unsigned char *>(bytes.constData()),
                           quint64(bytes.size())) == bytes.size();
    }
    // 0 the profile's first chip is in the socket, 1 its second.
    int socketChip() const { return m_socketChip ? m_socketChip() : 0; }

    // "unplug" (back after `value` ms), "replug", "unplug_after_bytes", "fail_read",
    // and the hostile answers "answer_short", "answer_missing", "answer_oversized",
    // "answer_garbage", "answer_zeroed" (value: command code | which answer << 8).
    bool inject(const char *fault, quint64 value = 0) { return m_fault(fault, value) == 1; }
    void setDownloadPause(unsigned milliseconds) { m_setPause(milliseconds); }

private:
    using Configure = int (*)(const char *);
    using LastError = const char *(*)();
    using ReadChip = long long (*)(int, unsigned long long, unsigned char *, unsigned long long);
    using ChipSize = long long (*)(int);
    using CommandLogText = long long (*)(char *, long long);
    using ClearLog = void (*)();
    using InjectFault = int (*)(const char *, unsigned long long);
    using SetPause = void (*)(unsigned);
    using WriteChip = long long (*)(int, unsigned long long, const unsigned char *,
                                    unsigned long long);
    using SocketChip = int (*)();

    template <typename F> F resolve(const char *name)
    {
        return reinterpret_cast<F>(m_library.resolve(name));
    }

    QLibrary m_library;
    Configure m_configure = nullptr;
    LastError m_lastError = nullptr;
    ReadChip m_readChip = nullptr;
    ChipSize m_chipSize = nullptr;
    CommandLogText m_log = nullptr;
    ClearLog m_clearLog = nullptr;
    InjectFault m_fault = nullptr;
    WriteChip m_writeChip = nullptr;
    SocketChip m_socketChip = nullptr;
    SetPause m_setPause = nullptr;
};
