// source.cpp - positioned reads over an open book file, a block in memory or a host's callback.

#include "io/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error.h"

eb_source::eb_source(const void *data, std::uint64_t len)
    : mem_(static_cast<const unsigned char *>(data)), size_(data ? len : 0), path_("<memory>") {}

eb_source::eb_source(callback read, void *ctx, std::uint64_t size, const char *name)
    : size_(size), path_(name ? name : "<reader>"), cb_(read), ctx_(ctx) {}

eb_source::~eb_source() {
    if (fd_ >= 0) ::close(fd_);
}

// Opens path for reading without ever blocking (a FIFO named like a book
// would otherwise hang the caller) and refuses anything that is not a
// regular file.
bool eb_source::open(const char *path) {
    path_ = path;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        eb_set_errno_error("cannot open file", path, errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        eb_set_error("not a regular file: %s", path);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(st.st_size);
    id_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

bool eb_source::read(std::uint64_t off, void *buf, std::size_t n) const {
    if (off > size_ || n > size_ - off) {
        failed_ = true;
        return false;
    }
    if (mem_) {
        if (n) std::memcpy(buf, mem_ + off, n);
        return true;
    }
    if (cb_) return read_callback(off, static_cast<unsigned char *>(buf), n);
    auto *out = static_cast<unsigned char *>(buf);
    while (n > 0) {
        ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(off));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            failed_ = true;
            return false;
        }
        out += got;
        off += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Small reads are served from the block, fetched anew around them when they
// fall outside it; large ones go to the callback as they are. After a failure
// the callback is not asked again: the call's result is lost anyway.
bool eb_source::read_callback(std::uint64_t off, unsigned char *out, std::size_t n) const {
    if (failed_) return false;
    if (n == 0) return true;
    if (block_len_ > 0 && off >= block_at_ && off - block_at_ <= block_len_ &&
        n <= block_len_ - (off - block_at_)) {
        std::memcpy(out, block_.get() + (off - block_at_), n);
        return true;
    }
    if (n >= kBlock) return call(off, out, n);
    if (!block_) block_.reset(new unsigned char[kBlock]);
    const std::uint64_t len = size_ < kBlock ? size_ : kBlock;
    // Forward from the read, or the book's last block when the read lies in
    // it (archives are read from their end).
    const std::uint64_t at = off < size_ - len ? off : size_ - len;
    block_len_ = 0;
    if (!call(at, block_.get(), static_cast<std::size_t>(len))) return false;
    block_at_ = at;
    block_len_ = len;
    std::memcpy(out, block_.get() + (off - at), n);
    return true;
}

// Exactly n bytes at off, asking again after a short answer. An answer
// outside [0, asked] is the callback's failure; 0 before n bytes came means
// the book ends before the size it was given as.
bool eb_source::call(std::uint64_t off, unsigned char *out, std::size_t n) const {
    while (n > 0) {
        const long long got = cb_(ctx_, off, out, n);
        if (got < 0 || static_cast<unsigned long long>(got) > n) {
            cb_failed_ = failed_ = true;
            return false;
        }
        if (got == 0) {
            failed_ = true;
            return false;
        }
        out += got;
        off += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

void eb_source::report_short_read() const {
    if (cb_failed_)
        eb_set_error("read failed: %s", path_);
    else
        eb_set_error("short read: %s", path_);
}
