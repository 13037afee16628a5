// write_out.cpp - whole writes and unchanged copies of the old book's ranges into the writer's
// output file.
#include "io/write_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "error.h"

bool eb_write_all(int fd, std::string_view data) {
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            eb_set_error("cannot write the new book (%s)", std::strerror(w < 0 ? errno : ENOSPC));
            return false;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
    return true;
}

bool eb_copy_range(const eb_source &book, std::uint64_t off, std::uint64_t n, int fd) {
    if (n == 0) return true;
    if (off > book.size() || book.size() - off < n) {
        eb_set_error("short read: %s", book.path());
        return false;
    }
    if (const unsigned char *mem = book.memory())
        return eb_write_all(fd, {reinterpret_cast<const char *>(mem + off), n});
    // An opened file is copied by the kernel (no trip through this
    // process's memory; a clone where the file system shares extents),
    // unless the two files' file systems cannot do that: then by blocks.
    if (book.fd() >= 0) {
        bool copied_some = false;
        while (n > 0) {
            loff_t from = static_cast<loff_t>(off);
            const std::size_t want = n < (1u << 30) ? static_cast<std::size_t>(n) : (1u << 30);
            const ssize_t c = copy_file_range(book.fd(), &from, fd, nullptr, want, 0);
            if (c < 0 && errno == EINTR) continue;
            if (c < 0 && !copied_some &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
                break;
            if (c < 0) {
                eb_set_error("cannot write the new book (%s)", std::strerror(errno));
                return false;
            }
            if (c == 0) {
                eb_set_error("short read: %s", book.path());
                return false;
            }
            copied_some = true;
            off += static_cast<std::uint64_t>(c);
            n -= static_cast<std::uint64_t>(c);
        }
        if (n == 0) return true;
    }
    constexpr std::size_t kBlock = 1 << 20;
    const std::size_t size = n < kBlock ? static_cast<std::size_t>(n) : kBlock;
    std::unique_ptr<char[]> buf(new char[size]);
    while (n > 0) {
        const std::size_t take = n < size ? static_cast<std::size_t>(n) : size;
        if (!book.read(off, buf.get(), take)) {
            book.report_short_read();
            return false;
        }
        if (!eb_write_all(fd, {buf.get(), take})) return false;
        off += take;
        n -= take;
    }
    return true;
}
