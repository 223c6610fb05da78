#include "ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kvemu::chips {

namespace {

constexpr std::size_t Chunk = 256 * 1024;

// In place: file form <-> chip bytes (both directions are the same).
void invert(std::span<std::uint8_t> bytes)
{
    std::uint8_t *p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        word = ~word;
        std::memcpy(p, &word, 8);
    }
    for (; n > 0; --n, ++p)
        *p = static_cast<std::uint8_t>(~*p);
}

// An anonymous file in memory (sparse: only programmed pages take room),
// else an unnamed file in /tmp. Page-sized writes into a memory file cost
// a copy; into a disk file's page cache they cost block bookkeeping.
int openTemporary()
{
#ifdef MFD_CLOEXEC
    const int memory = ::memfd_create("kvemu-image", MFD_CLOEXEC);
    if (memory >= 0)
        return memory;
#endif
#ifdef O_TMPFILE
    const int fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    char name[] = "/tmp/kvemu-image-XXXXXX";
    const int fd2 = ::mkstemp(name);
    if (fd2 >= 0)
        ::unlink(name);
    return fd2;
}

} // namespace

ImageFile::ImageFile(const std::string &path, std::uint64_t size) : m_path(path), m_size(size)
{
    m_fd =
        path.empty() ? openTemporary() : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        fail("cannot open");
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        errno = error;
        fail("cannot examine");
    }
    if (static_cast<std::uint64_t>(st.st_size) < size &&
        ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        errno = error;
        fail("cannot grow");
    }
}

ImageFile::~ImageFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ImageFile::fail(const char *what) const
{
    throw std::runtime_error(std::string(what) + " image file \"" +
                             (m_path.empty() ? std::string("(temporary)") : m_path) +
                             "\": " + std::strerror(errno));
}

void ImageFile::readRaw(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    // Holes (never programmed) read as zeros without a trip through the page
    // cache, which would allocate and clear a page for each; small reads
    // (a page programmed) are not worth the two seeks.
    constexpr std::size_t HoleCheckMinimum = 64 * 1024;
    const bool findHoles = out.size() >= HoleCheckMinimum;
    std::size_t done = 0;
    while (done < out.size()) {
        const auto at = static_cast<off_t>(offset + done);
        if (!findHoles) {
            const ssize_t got = ::pread(m_fd, out.data() + done, out.size() - done, at);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                fail("cannot read");
            if (got == 0) {
                std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(),
                          std::uint8_t{0});
                return;
            }
            done += static_cast<std::size_t>(got);
            continue;
        }
        const off_t data = ::lseek(m_fd, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) { // nothing but a hole up to the end
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::uint8_t{0});
            return;
        }
        if (data > at) {
            const std::size_t hole = static_cast<std::size_t>(
                std::min<std::uint64_t>(std::uint64_t(data - at), out.size() - done));
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(done), hole, std::uint8_t{0});
            done += hole;
            continue;
        }
        std::size_t want = out.size() - done;
        if (data == at) {
            const off_t hole = ::lseek(m_fd, at, SEEK_HOLE);
            if (hole > at)
                want = static_cast<std::size_t>(
                    std::min<std::uint64_t>(std::uint64_t(hole - at), want));
        }
        const ssize_t got =
            ::pread(m_fd, out.data() + done, want, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read");
        }
        if (got == 0) { // past the end of a file that another process shortened
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::uint8_t{0});
            return;
        }
        done += static_cast<std::size_t>(got);
    }
}

void ImageFile::writeRaw(std::uint64_t offset, std::span<const std::uint8_t> raw)
{
    std::size_t done = 0;
    while (done < raw.size()) {
        const ssize_t put =
            ::pwrite(m_fd, raw.data() + done, raw.size() - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write");
        }
        done += static_cast<std::size_t>(put);
    }
}

void ImageFile::read(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    std::size_t inside = 0;
    if (offset < m_size)
        inside = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_size - offset));
    if (inside > 0) {
        readRaw(offset, out.first(inside));
        invert(out.first(inside));
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside), out.end(), std::uint8_t{0xFF});
}

void ImageFile::readWindow(std::uint64_t base, std::uint64_t length, std::uint64_t offset,
                           std::span<std::uint8_t> out) const
{
    std::fill(out.begin(), out.end(), std::uint8_t{0xFF});
    if (offset >= length)
        return;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), length - offset));
    read(base + offset, out.first(n));
}

void ImageFile::program(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    if (offset >= m_size)
        return;
    data =
        data.first(static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), m_size - offset)));
    std::vector<std::uint8_t> raw(std::min(data.size(), Chunk));
    for (std::size_t at = 0; at < data.size(); at += raw.size()) {
        const std::size_t n = std::min(raw.size(), data.size() - at);
        const std::span<std::uint8_t> part(raw.data(), n);
        readRaw(offset + at, part);
        // Stored inverted: a bit that clears in the chip sets in the file.
        for (std::size_t i = 0; i < n; ++i)
            part[i] = static_cast<std::uint8_t>(part[i] | static_cast<std::uint8_t>(~data[at + i]));
        writeRaw(offset + at, part);
    }
}

void ImageFile::write(std::uint64_t offset, std::span<const std::uint8_t> data)
{
    if (offset >= m_size)
        return;
    data =
        data.first(static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), m_size - offset)));
    std::vector<std::uint8_t> raw(data.begin(), data.end());
    invert(raw);
    writeRaw(offset, raw);
}

void ImageFile::erase(std::uint64_t offset, std::uint64_t length)
{
    if (offset >= m_size)
        return;
    length = std::min(length, m_size - offset);
    if (length == 0)
        return;
    if (::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(length)) == 0)
        return;
    // A file system without holes: write the erased form.
    const std::vector<std::uint8_t> zeros(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, Chunk)), 0);
    for (std::uint64_t at = 0; at < length; at += zeros.size()) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), length - at));
        writeRaw(offset + at, std::span<const std::uint8_t>(zeros.data(), n));
    }
}

} // namespace kvemu::chips
