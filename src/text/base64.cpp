// base64.cpp - forgiving Base64 decoding: skips what is not in the alphabet, never fails on
// content.

#include "text/base64.h"

#include <cstdlib>

// Decodes Base64 text as found in FB2 binaries: bytes outside the alphabet
// (line breaks, blanks, stray punctuation, high bytes) are skipped, the first
// '=' ends the text, and a trailing group of fewer than 8 bits is dropped.
// Malformed text is never an error. Returns a heap block (possibly holding 0
// bytes) and its count in *out_len; null with count 0 only when memory runs
// out.
unsigned char *eb_b64_decode(const char *src, std::size_t len, std::uint64_t *out_len) {
    *out_len = 0;
    // 6 bits per input byte never exceed this, so the block never grows.
    unsigned char *out = static_cast<unsigned char *>(std::malloc(len / 4 * 3 + 4));
    if (!out) return nullptr;
    std::uint32_t acc = 0;
    unsigned bits = 0;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (c == '=') break;
        const int v = eb_b64_value(c);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<unsigned char>(acc >> bits);
            acc &= (std::uint32_t{1} << bits) - 1;
        }
    }
    *out_len = n;
    return out;
}
