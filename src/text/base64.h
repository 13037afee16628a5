// base64.h - Base64 decoding of the images that FictionBook files carry inline.
#ifndef QUENFOLD_TEXT_BASE64_H
#define QUENFOLD_TEXT_BASE64_H

#include <cstddef>
#include <cstdint>

// The value of a byte of the Base64 alphabet (A-Z a-z 0-9 + /), or -1.
inline int eb_b64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Never fails on malformed input; null only when memory runs out (count 0).
unsigned char *eb_b64_decode(const char *src, std::size_t len, std::uint64_t *out_len);

#endif  // QUENFOLD_TEXT_BASE64_H
