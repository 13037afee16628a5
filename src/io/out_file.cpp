// out_file.cpp - buffered writes of a new book, with old ranges copied inside the kernel.
#include "io/out_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "error.h"

namespace {
constexpr std::size_t kBuffer = 1 << 20;
// Below this a range is copied through the buffer: a system call per small
// member would cost more than the copy.
constexpr std::uint64_t kKernelCopy = 256 * 1024;
}  // namespace

eb_out_file::eb_out_file(int fd) : fd_(fd), buf_(new char[kBuffer]) {}

eb_out_file::~eb_out_file() = default;

bool eb_out_file::fail(int err) {
    if (!failed_) eb_set_error("cannot write the new book (%s)", std::strerror(err));
    failed_ = true;
    return false;
}

bool eb_out_file::write_through(const char *p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (w == 0) return fail(ENOSPC);
        p += w;
        n -= static_cast<std::size_t>(w);
        written_ += static_cast<std::uint64_t>(w);
    }
    return true;
}

bool eb_out_file::flush() {
    if (failed_) return false;
    const std::size_t n = used_;
    used_ = 0;
    return write_through(buf_.get(), n);
}

bool eb_out_file::put(std::string_view bytes) {
    if (failed_) return false;
    if (bytes.size() >= kBuffer) return flush() && write_through(bytes.data(), bytes.size());
    if (used_ + bytes.size() > kBuffer && !flush()) return false;
    std::memcpy(buf_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    return true;
}

bool eb_out_file::copy(const eb_source &book, std::uint64_t off, std::uint64_t n) {
    if (failed_) return false;
    if (off > book.size() || n > book.size() - off) {
        book.report_short_read();
        failed_ = true;
        return false;
    }
    if (const unsigned char *m = book.memory())
        return put(std::string_view(reinterpret_cast<const char *>(m + off), n));
    if (book.fd() >= 0 && n >= kKernelCopy) {
        if (!flush()) return false;
        auto in = static_cast<loff_t>(off);
        while (n > 0) {
            const ssize_t c = ::copy_file_range(book.fd(), &in, fd_, nullptr, n, 0);
            if (c < 0 && errno == EINTR) continue;
            if (c < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
                break;  // another file system, or an old kernel: through the buffer
            if (c < 0) return fail(errno);
            if (c == 0) {
                book.report_short_read();
                failed_ = true;
                return false;
            }
            n -= static_cast<std::uint64_t>(c);
            written_ += static_cast<std::uint64_t>(c);
        }
        off = static_cast<std::uint64_t>(in);
    }
    while (n > 0) {
        if (used_ == kBuffer && !flush()) return false;
        const std::uint64_t room = kBuffer - used_;
        const std::size_t k = static_cast<std::size_t>(n < room ? n : room);
        if (!book.read(off, buf_.get() + used_, k)) {
            book.report_short_read();
            failed_ = true;
            return false;
        }
        used_ += k;
        off += k;
        n -= k;
    }
    return true;
}
