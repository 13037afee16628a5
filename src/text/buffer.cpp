// buffer.cpp - the growable text buffer and the bounded copy into a fixed array.

#include "text/buffer.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr std::uint64_t buf_first_cap = 256;
constexpr std::uint64_t buf_doubling_limit = std::uint64_t{1} << 30;  // 1 GiB
}  // namespace

// Capacity chosen for a buffer of capacity cap that must hold need bytes
// (cap < need): 256 first, then doubling; once the capacity is above 1 GiB
// every growth takes exactly what is asked, so a huge text does not reserve
// up to twice its size.
std::uint64_t eb_buf_next_cap(std::uint64_t cap, std::uint64_t need) {
    if (cap == 0 && need <= buf_first_cap) return buf_first_cap;
    std::uint64_t c = cap ? cap : buf_first_cap;
    for (;;) {
        if (c > buf_doubling_limit) return need;
        c *= 2;
        if (c >= need) return c;
    }
}

// Empty buffer: no block yet.
void eb_buf_init(eb_buf *b) {
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

// Releases the block (nothing when a user took it over and nulled data).
void eb_buf_free(eb_buf *b) {
    std::free(b->data);
    eb_buf_init(b);
}

// Empties the text but keeps the block for reuse.
void eb_buf_clear(eb_buf *b) {
    b->len = 0;
    if (b->data) b->data[0] = '\0';
}

// Makes room for need bytes in all. 0, or -1 with "out of memory" and the
// buffer untouched (old block, len and cap stay valid).
int eb_buf_reserve(eb_buf *b, std::uint64_t need) {
    if (b->cap >= need) return 0;
    std::uint64_t cap = eb_buf_next_cap(b->cap, need);
    void *p = cap <= SIZE_MAX ? std::realloc(b->data, static_cast<std::size_t>(cap)) : nullptr;
    if (!p) {
        eb_set_error("out of memory");
        return -1;
    }
    b->data = static_cast<char *>(p);
    b->cap = cap;
    return 0;
}

// Appends n bytes (which may hold NULs) and keeps the text NUL-terminated.
// n = 0 does nothing at all. 0, or -1 with the buffer unchanged.
int eb_buf_append(eb_buf *b, const void *bytes, std::uint64_t n) {
    if (n == 0) return 0;
    if (eb_buf_reserve(b, b->len + n + 1) != 0) return -1;
    std::memcpy(b->data + b->len, bytes, static_cast<std::size_t>(n));
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

// Appends a C string; null or empty does nothing.
int eb_buf_append_cstr(eb_buf *b, const char *s) {
    if (!s || !*s) return 0;
    return eb_buf_append(b, s, std::strlen(s));
}

// Appends formatted text. Short texts (up to 511 bytes) are formatted once
// into a local array; longer ones are measured there, then formatted again
// straight into the grown block. -1 without a message when the format cannot
// be processed; the buffer is then unchanged.
int eb_buf_printf(eb_buf *b, const char *fmt, ...) {
    char local[512];
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(local, sizeof local, fmt, ap);
    va_end(ap);
    int rc;
    if (n < 0) {
        rc = -1;
    } else if (static_cast<std::size_t>(n) < sizeof local) {
        rc = eb_buf_append(b, local, static_cast<std::uint64_t>(n));
    } else if (eb_buf_reserve(b, b->len + static_cast<std::uint64_t>(n) + 1) != 0) {
        rc = -1;
    } else {
        int m = std::vsnprintf(b->data + b->len, static_cast<std::size_t>(n) + 1, fmt, again);
        if (m == n) {
            b->len += static_cast<std::uint64_t>(n);
            rc = 0;
        } else {
            rc = -1;  // cannot happen with the same arguments; keep the old text
        }
        b->data[b->len] = '\0';
    }
    va_end(again);
    return rc;
}

void copy_cut(char *dst, std::size_t size, const char *src) {
    std::size_t n = std::strlen(src);
    if (n > size - 1) n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}
