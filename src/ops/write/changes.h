// changes.h - a write request's JSON text read, checked and normalised into eb_changes.
#ifndef QUENFOLD_OPS_WRITE_CHANGES_H
#define QUENFOLD_OPS_WRITE_CHANGES_H

#include <string>
#include <string_view>

#include "ops/write/writer.h"

// Cover images larger than this are refused: a cover is a picture, not a book.
constexpr std::uint64_t EB_COVER_MAX = 64u * 1024u * 1024u;

// Reads a request object (see ebook_write_metadata). False with the error
// text set: "changes are not valid UTF-8", "malformed changes JSON: %s at
// byte %u", "changes must be a JSON object", "duplicate field: %s",
// "unknown field: %s", "field is not writable: %s" (a key of the record the
// library states itself), "%s: expected ...", "%s: control characters are
// not allowed", "%s: longer than 65536 bytes", and the checks of each value
// (a BCP 47 tag, an ISO 8601 date, an ISBN's check digit, a relator code,
// the cover image's file and magic bytes).
bool eb_changes_read(std::string_view json, eb_changes *out);

// A description as the reader gives one: paragraphs (runs of lines between
// blank lines) with their white space folded to single spaces, separated by
// one blank line, none at either end.
std::string eb_plain_paragraphs(std::string_view text);

// The name a field's bit has in requests and messages ("title", "language").
const char *eb_write_field_name(unsigned bit);

#endif  // QUENFOLD_OPS_WRITE_CHANGES_H
