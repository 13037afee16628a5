// base64.h - Base64 decoding of the images that FictionBook files carry inline.
#ifndef QUENFOLD_TEXT_BASE64_H
#define QUENFOLD_TEXT_BASE64_H

#include <cstddef>
#include <cstdint>

// Never fails on malformed input; null only when memory runs out (count 0).
unsigned char *eb_b64_decode(const char *src, std::size_t len, std::uint64_t *out_len);

#endif  // QUENFOLD_TEXT_BASE64_H
