// values.h - checks and normal forms of the values a write request holds.
#ifndef QUENFOLD_OPS_WRITE_VALUES_H
#define QUENFOLD_OPS_WRITE_VALUES_H

#include <yyjson.h>

#include <string>
#include <string_view>
#include <vector>

#include "ops/write/writer.h"

// Valid UTF-8 (the caller checked) without control characters other than
// tab, CR and LF, and without the noncharacters U+FFFE and U+FFFF, which
// XML cannot hold.
bool eb_w_text_ok(std::string_view s);
// Rights as the reader gives them: line ends as LF, no white space at either end.
std::string eb_w_rights_form(std::string_view s);
// "YYYY", "YYYY-MM", "YYYY-MM-DD", or a date with a time "Thh:mm[:ss[.f]]"
// and an optional zone "Z" or "+hh:mm", every part in its range.
bool eb_w_iso_date(std::string_view s);
// A well-formed BCP 47 tag: a primary subtag of 2 to 8 letters (or a
// private "x" / grandfathered "i" tag), then subtags of 1 to 8 letters and digits.
bool eb_w_bcp47(std::string_view s);
// A relator code or a comic credit's word: 2 to 32 lower-case ASCII letters.
bool eb_w_role_ok(std::string_view s);
std::string eb_w_lower(std::string s);
// A JSON number as an index is written: 3, 2.5.
std::string eb_w_number_text(yyjson_val *v);
// The keys of a JSON object.
std::vector<yyjson_val *> eb_w_keys(yyjson_val *obj);
// Reads the image a request names: a regular file of at most 64 MiB whose
// first bytes are those of a JPEG, PNG, GIF or WebP image. False with the
// error text set ("cover: cannot open: %s (%s)", "cover: not a JPEG, PNG,
// GIF or WebP image: %s", "cover: image larger than 64 MiB: %s").
bool eb_w_read_cover(const std::string &path, eb_cover_image *out);

#endif  // QUENFOLD_OPS_WRITE_VALUES_H
