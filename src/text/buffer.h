// buffer.h - the growable NUL-terminated byte buffer, and the bounded copy into a fixed array.
#ifndef QUENFOLD_TEXT_BUFFER_H
#define QUENFOLD_TEXT_BUFFER_H

#include <cstddef>
#include <cstdint>

#include "error.h"

// Growable NUL-terminated byte buffer: 256 bytes first, then doubling.
struct eb_buf {
    char *data;
    std::uint64_t len;
    std::uint64_t cap;
};

void eb_buf_init(eb_buf *b);
void eb_buf_free(eb_buf *b);
void eb_buf_clear(eb_buf *b);
int eb_buf_reserve(eb_buf *b, std::uint64_t need);
// The capacity a buffer of capacity cap grows to when it must hold need bytes.
std::uint64_t eb_buf_next_cap(std::uint64_t cap, std::uint64_t need);
int eb_buf_append(eb_buf *b, const void *bytes, std::uint64_t n);
int eb_buf_append_cstr(eb_buf *b, const char *s);
int eb_buf_printf(eb_buf *b, const char *fmt, ...) EB_PRINTF(2, 3);

// Copies the C string src into dst (size bytes, at least 1), silently cut to
// size - 1 bytes like every fixed-size field of a record.
void copy_cut(char *dst, std::size_t size, const char *src);

#endif  // QUENFOLD_TEXT_BUFFER_H
