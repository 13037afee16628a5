// encoding.h - decoding book texts to valid UTF-8 (declared encodings, repair of invalid bytes).
#ifndef QUENFOLD_TEXT_ENCODING_H
#define QUENFOLD_TEXT_ENCODING_H

#include <string>
#include <string_view>

// True when s is well-formed UTF-8 (no overlong forms, surrogates, or code
// points above U+10FFFF).
bool eb_utf8_valid(std::string_view s);

// s with every byte that does not start a well-formed UTF-8 sequence
// replaced by U+FFFD. *replaced (may be null) tells whether any was.
std::string eb_utf8_repair(std::string_view s, bool *replaced);

// Decodes bytes in the named encoding (a label as books declare it, any
// letter case: "windows-1251", "cp1252", "koi8-r", "iso-8859-5", "UTF-16",
// "UTF-16LE", "utf-8"...) to valid UTF-8 in *out. Undecodable bytes become
// U+FFFD and set *replaced (may be null). False, with *out untouched, when
// the encoding is unknown; the caller then falls back to eb_utf8_repair.
// Thread-safe (no shared converter state).
bool eb_decode(std::string_view bytes, std::string_view encoding, std::string *out,
               bool *replaced);

#endif  // QUENFOLD_TEXT_ENCODING_H
