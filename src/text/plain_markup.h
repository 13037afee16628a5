// plain_markup.h - plain paragraphs as the markup fragment that reads back as the same text.
#ifndef QUENFOLD_TEXT_PLAIN_MARKUP_H
#define QUENFOLD_TEXT_PLAIN_MARKUP_H

#include <string>
#include <string_view>

// Descriptions are kept as HTML fragments, which the readers turn into text
// (eb_markup_to_text). text: paragraphs separated by a blank line, each with
// single spaces. One paragraph is written as it is, several as one <p> each
// (white space alone would fold into a space); a '&' that would read as a
// reference and a '<' that would open a tag become &amp; and &lt;, so plain
// text stays plain for readers that do not read markup. The result is not
// yet escaped for the XML document that holds it.
std::string eb_plain_to_markup(std::string_view text);

#endif  // QUENFOLD_TEXT_PLAIN_MARKUP_H
