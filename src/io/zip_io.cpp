// zip_io.cpp - minizip's read, seek and tell over a book source, through two read windows.

#include "io/zip_io.h"

#include <cstring>

namespace {

eb_zip_io *io_of(voidpf opaque) {
    return static_cast<eb_zip_io *>(opaque);
}

voidpf ZCALLBACK io_open(voidpf opaque, const void *, int) {
    return opaque;
}

uLong ZCALLBACK io_read(voidpf opaque, voidpf, void *buf, uLong size) {
    return static_cast<uLong>(io_of(opaque)->read(buf, size));
}

uLong ZCALLBACK io_write(voidpf, voidpf, const void *, uLong) {
    return 0;  // the archive is only ever read
}

ZPOS64_T ZCALLBACK io_tell(voidpf opaque, voidpf) {
    return io_of(opaque)->pos;
}

long ZCALLBACK io_seek(voidpf opaque, voidpf, ZPOS64_T offset, int origin) {
    eb_zip_io *io = io_of(opaque);
    const std::uint64_t size = io->src.size();
    std::uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = io->pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = size;
            break;
        default:
            return -1;
    }
    // Offsets come from the archive itself: one past the end is refused here
    // rather than read as an empty tail.
    if (offset > size || base > size - offset) return -1;
    io->pos = base + offset;
    return 0;
}

int ZCALLBACK io_close(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK io_error(voidpf opaque, voidpf) {
    return io_of(opaque)->error ? 1 : 0;
}

}  // namespace

std::uint64_t eb_zip_io::read(void *buf, std::uint64_t n) {
    auto *out = static_cast<unsigned char *>(buf);
    // minizip reads the directory's fields one to four bytes at a time: those
    // reads are served from the window that served the last one.
    if (last && pos >= last->start && pos - last->start <= last->len &&
        n <= last->len - (pos - last->start)) {
        const unsigned char *from = (last == &tail ? tail_bytes : near_bytes) + (pos - last->start);
        if (n <= 8) {
            for (std::uint64_t i = 0; i < n; ++i)
                out[i] = from[i];
        } else {
            std::memcpy(out, from, n);
        }
        pos += n;
        return n;
    }
    const std::uint64_t size = src.size();
    if (pos >= size) return 0;
    if (n > size - pos) n = size - pos;
    if (n == 0) return 0;
    if (const unsigned char *mem = src.memory()) {
        std::memcpy(out, mem + pos, n);
        pos += n;
        return n;
    }
    const std::uint64_t tail_start = size > kTail ? size - kTail : 0;
    window *w = nullptr;
    unsigned char *bytes = nullptr;
    if (pos >= tail_start) {
        w = &tail;
        bytes = tail_bytes;
        if (!w->loaded) *w = {tail_start, size - tail_start, false};
    } else if (n < kWindow) {
        w = &near;
        bytes = near_bytes;
        if (!w->loaded || pos < w->start || pos + n > w->start + w->len) {
            const std::uint64_t len = size - pos < kWindow ? size - pos : kWindow;
            *w = {pos, len, false};
        }
    }
    if (!w) {  // large reads: member data, straight into minizip's buffer
        if (!src.read(pos, out, n)) {
            error = true;
            return 0;
        }
        pos += n;
        return n;
    }
    if (!w->loaded) {
        last = nullptr;
        if (!src.read(w->start, bytes, w->len)) {
            error = true;
            return 0;
        }
        w->loaded = true;
    }
    last = w;
    // A read that starts in the tail lies in it whole: the tail runs to the end.
    std::memcpy(out, bytes + (pos - w->start), n);
    pos += n;
    return n;
}

zlib_filefunc64_def eb_zip_io::table() {
    zlib_filefunc64_def t{};
    t.zopen64_file = io_open;
    t.zread_file = io_read;
    t.zwrite_file = io_write;
    t.ztell64_file = io_tell;
    t.zseek64_file = io_seek;
    t.zclose_file = io_close;
    t.zerror_file = io_error;
    t.opaque = this;
    return t;
}
