#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kvemu::chips {

// The contents of the emulated chips, kept in a file so that multi-gigabyte
// NAND parts cost no memory, and no disk until they are written.
//
// Flash reads 0xFF where it is erased, a sparse file reads 0x00 where
// nothing was written. The file therefore holds every byte inverted: a hole
// is erased flash, and erasing punches a hole again. A file that does not
// exist is created at its full size, entirely erased; an existing one keeps
// its contents (it grows, erased, when it is shorter than asked).
//
// Errors (the file cannot be opened, a read or write fails) throw
// std::runtime_error with the file name and the reason. Not thread-safe:
// its owner serialises access.
class ImageFile
{
public:
    // `path` empty: an unnamed file that goes with the object, in memory
    // (memfd) where the system has it, else in /tmp.
    ImageFile(const std::string &path, std::uint64_t size);
    ~ImageFile();
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    std::uint64_t size() const { return m_size; }
    const std::string &path() const { return m_path; }

    // Bytes [offset, offset + out.size()); bytes past the end read 0xFF.
    void read(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Bytes [offset, offset + out.size()) of the part of the file that holds
    // one chip, [base, base + length); bytes past that part read 0xFF.
    void readWindow(std::uint64_t base, std::uint64_t length, std::uint64_t offset,
                    std::span<std::uint8_t> out) const;
    // Flash programming: every byte becomes (old AND data); bits only clear.
    void program(std::uint64_t offset, std::span<const std::uint8_t> data);
    // Plain overwrite, as an EEPROM writes.
    void write(std::uint64_t offset, std::span<const std::uint8_t> data);
    // Back to 0xFF.
    void erase(std::uint64_t offset, std::uint64_t length);

private:
    void readRaw(std::uint64_t offset, std::span<std::uint8_t> out) const;
    void writeRaw(std::uint64_t offset, std::span<const std::uint8_t> raw);
    [[noreturn]] void fail(const char *what) const;

    std::string m_path;
    std::uint64_t m_size = 0;
    int m_fd = -1;
};

} // namespace kvemu::chips
