// utf8.cpp - cutting text at UTF-8 character boundaries, without validating it.

#include "text/utf8.h"

#include <cstring>

namespace {
inline bool is_cont(char b) {
    return (static_cast<unsigned char>(b) & 0xC0) == 0x80;
}
}  // namespace

// Length of the longest prefix of s (n bytes) that is at most max bytes long
// and does not end inside a multi-byte character.
std::size_t utf8_prefix(const char *s, std::size_t n, std::size_t max) {
    if (n <= max) return n;
    std::size_t k = max;
    for (int i = 0; i < 3 && k > 0 && is_cont(s[k]); ++i)
        --k;
    return k;
}

// Length of s (len bytes) without a trailing lead byte whose continuation
// bytes are missing. Used where the cut point lies behind us (the source was
// transformed while copying).
std::size_t utf8_drop_partial(const char *s, std::size_t len) {
    std::size_t p = len;
    for (int i = 0; i < 3 && p > 0 && is_cont(s[p - 1]); ++i)
        --p;
    if (p == 0) return len;
    unsigned char lead = static_cast<unsigned char>(s[p - 1]);
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return len - (p - 1) < need ? p - 1 : len;
}

// Copies src into a field of size bytes (size - 1 bytes of text at most),
// cutting at a character boundary.
void copy_field(char *dst, std::size_t size, const char *src) {
    std::size_t n = utf8_prefix(src, std::strlen(src), size - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}
