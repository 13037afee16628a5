// detect.h - the book info's choice of a reader: by its extension, else by its content.
#ifndef QUENFOLD_FORMATS_DETECT_H
#define QUENFOLD_FORMATS_DETECT_H

#include <cstddef>
#include <cstdint>

#include "io/file.h"
#include "io/source.h"
#include "record.h"

// Extension of path into out (at most out_size - 1 bytes), its ASCII letters
// lower-cased whatever the locale.
const char *eb_ext_lower(const char *path, char *out, std::size_t out_size);
// 1 for an extension the book info reads by ("epub", "fb2", "mobi", "azw",
// "azw3": the format table's info extensions); else 0.
int eb_is_ebook_ext(const char *ext);
// Chooses a reader by extension, else by content, and runs it. Under an
// extension of the Mobipocket family only the Palm databases that hold a
// book are read (the table's vet); others are "unsupported ebook format".
int parse_by_ext(const char *path, const char *data, std::uint64_t len, eb_meta *meta,
                 int want_cover);
// The same over a source: only the bytes the chosen reader asks for are read.
int parse_source(const char *path, const eb_source &src, eb_meta *meta, int want_cover);
// One book file loaded and through its reader; the loaded bytes are released
// before return, and id (when given) tells which file was read. Result: the
// reader's result (-1 also for a load failure).
int load_and_parse(const char *path, eb_meta *meta, int want_cover, eb_file_id *id = nullptr);

#endif  // QUENFOLD_FORMATS_DETECT_H
