// xml_repair.h - mending the common faults of real-world XML text before a strict parser sees it.
#ifndef QUENFOLD_TEXT_XML_REPAIR_H
#define QUENFOLD_TEXT_XML_REPAIR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where the mended text lines up with its source again after an edit:
// text offset `out` corresponds to source offset `in`.
struct eb_xml_anchor {
    std::size_t out;
    std::size_t in;
};

struct eb_xml_repaired {
    bool unchanged = false;              // nothing needed mending: text is empty, the source stands
    std::string text;                    // well-formed UTF-8, references mended
    std::vector<eb_xml_anchor> anchors;  // increasing in both members
    std::vector<std::string> warnings;   // one line per kind of fault, with counts
};

// Mends src (UTF-8 that may hold invalid bytes) in one linear pass:
// - bytes that start no well-formed UTF-8 sequence, control characters and
//   U+FFFE/U+FFFF become U+FFFD;
// - a bare '&' becomes "&amp;"; an HTML named entity (&nbsp;, &mdash;...)
//   becomes its numeric reference; an unknown name not declared in the
//   document type keeps its text ("&amp;name;"); a reference to a character
//   XML forbids becomes U+FFFD;
// - a '<' that cannot start markup ("a < b") becomes "&lt;".
// - a comment or processing instruction that never ends is left out up to
//   the next '<', and the opening of a CDATA section that never ends is
//   dropped (its content is read as text).
// Comments, CDATA sections, processing instructions and the document type
// declaration are otherwise copied as they are (apart from the byte
// repairs). A source that needs no repair is not copied (unchanged). The
// text is at most twice the size of src plus 64 KiB: a document that
// needs more mending is cut there, with a warning. Anchors are kept for the
// first 65,536 repairs.
eb_xml_repaired eb_xml_repair(std::string_view src);

// The code point of an HTML named entity (the name without '&' and ';'),
// or 0 when the name is not one the reader knows.
std::uint32_t eb_html_entity(std::string_view name);

// Offset in the source of offset x of the mended text.
std::size_t eb_xml_source_offset(const std::vector<eb_xml_anchor> &anchors, std::size_t x);

#endif  // QUENFOLD_TEXT_XML_REPAIR_H
