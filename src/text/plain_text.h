// plain_text.h - markup (HTML or XHTML fragments in book descriptions) to plain paragraphs.
#ifndef QUENFOLD_TEXT_PLAIN_TEXT_H
#define QUENFOLD_TEXT_PLAIN_TEXT_H

#include <string>
#include <string_view>

// The text of a UTF-8 markup fragment: tags removed (the content of script
// and style elements too), character and HTML entity references decoded,
// runs of white space made one space, and paragraphs (p, div, br, li,
// headings, blockquote) separated by a blank line. Plain text without markup
// comes back with its white space tidied. The result is valid UTF-8.
std::string eb_markup_to_text(std::string_view markup);

#endif  // QUENFOLD_TEXT_PLAIN_TEXT_H
