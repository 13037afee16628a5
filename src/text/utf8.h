// utf8.h - cut points that never leave half a UTF-8 character behind.
#ifndef QUENFOLD_TEXT_UTF8_H
#define QUENFOLD_TEXT_UTF8_H

#include <cstddef>

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

#endif  // QUENFOLD_TEXT_UTF8_H
