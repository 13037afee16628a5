// utf8.h - cut points that never leave half a UTF-8 character behind, and code points encoded.
#ifndef QUENFOLD_TEXT_UTF8_H
#define QUENFOLD_TEXT_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>

// Texts are never validated, but a cut must not leave half a character
// behind: the rename plan is written as strict JSON, and one split character
// would fail the whole plan.

// Length of the longest prefix of s (n bytes) that is at most max bytes long
// and does not end inside a multi-byte character.
std::size_t utf8_prefix(const char *s, std::size_t n, std::size_t max);
// Length of s (len bytes) without a trailing lead byte whose continuation
// bytes are missing.
std::size_t utf8_drop_partial(const char *s, std::size_t len);
// Copies src into a field of size bytes (size - 1 bytes of text at most),
// cutting at a character boundary.
void copy_field(char *dst, std::size_t size, const char *src);

// Code point cp (at most U+10FFFF) as UTF-8 into out, which has room for
// four bytes; the count of bytes. Surrogates are encoded like any other
// value: what a text may hold is the caller's rule.
inline std::size_t eb_utf8_encode(std::uint32_t cp, unsigned char *out) {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | cp >> 6);
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | cp >> 12);
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | cp >> 18);
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

// The same appended to out.
inline void eb_utf8_append(std::string &out, std::uint32_t cp) {
    unsigned char u[4];
    out.append(reinterpret_cast<const char *>(u), eb_utf8_encode(cp, u));
}

#endif  // QUENFOLD_TEXT_UTF8_H
