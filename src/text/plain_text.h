// plain_text.h - book descriptions as plain text: markup removed, entities decoded, paragraphs
// kept.
#ifndef QUENFOLD_TEXT_PLAIN_TEXT_H
#define QUENFOLD_TEXT_PLAIN_TEXT_H

#include <string>
#include <string_view>

// Plain text of a description that may hold HTML markup (valid UTF-8 in, valid
// UTF-8 out). Tags are dropped, and block elements (p, div, br, li, h1-h6...)
// and blank lines end a paragraph. Character references and the common named
// HTML entities are decoded; an unknown entity stays as written. Runs of white
// space become one blank; paragraphs are trimmed and separated by one blank
// line ("\n\n"). Linear in the input.
std::string eb_markup_to_text(std::string_view html);

// Appends code point cp as UTF-8; values that are no character (surrogates,
// above U+10FFFF, NUL) become U+FFFD.
void eb_append_utf8(std::string &out, unsigned long cp);

#endif  // QUENFOLD_TEXT_PLAIN_TEXT_H
