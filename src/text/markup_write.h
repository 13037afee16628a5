// markup_write.h - plain text (paragraphs separated by a blank line) as the markup fragment that
// reads back as the same text.
#ifndef QUENFOLD_TEXT_MARKUP_WRITE_H
#define QUENFOLD_TEXT_MARKUP_WRITE_H

#include <string>
#include <string_view>

// Books keep descriptions as HTML fragments, which readers turn back into
// text (eb_markup_to_text): & < > become references, and a text of several
// paragraphs becomes one <p> element each, since white space alone would be
// folded into one space. Paragraphs are the runs of lines between blank
// lines, trimmed; a single paragraph is its escaped text alone.
std::string eb_text_to_markup(std::string_view text);

// text with & < > and " as references: XML character data or an attribute
// value between double quotes.
std::string eb_xml_escape(std::string_view text);

#endif  // QUENFOLD_TEXT_MARKUP_WRITE_H
