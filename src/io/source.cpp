// source.cpp - positioned reads over an open book file or a block in memory.

#include "io/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error.h"

eb_source::eb_source(const void *data, std::uint64_t len)
    : mem_(static_cast<const unsigned char *>(data)), size_(data ? len : 0), path_("<memory>") {}

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

void eb_source::report_short_read() const {
    eb_set_error("short read: %s", path_);
}
