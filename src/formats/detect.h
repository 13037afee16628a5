// detect.h - choosing a reader for a book by its extension, else by its content.
#ifndef QUENFOLD_FORMATS_DETECT_H
#define QUENFOLD_FORMATS_DETECT_H

#include <cstddef>
#include <cstdint>

#include "io/source.h"
#include "record.h"

// Lower-cased extension of path into out (at most out_size - 1 bytes).
const char *eb_ext_lower(const char *path, char *out, std::size_t out_size);
// 1 for "epub", "fb2", "mobi", "azw", "azw3"; else 0.
int eb_is_ebook_ext(const char *ext);
// Chooses a reader by extension, else by content, and runs it.
int parse_by_ext(const char *path, const char *data, std::uint64_t len, eb_meta *meta,
                 int want_cover);
// The same over a source: only the bytes the chosen reader asks for are read.
int parse_source(const char *path, const eb_source &src, eb_meta *meta, int want_cover);
// One book file loaded and through its reader; the loaded bytes are released
// before return. Result: the reader's result (-1 also for a load failure).
int load_and_parse(const char *path, eb_meta *meta, int want_cover);

#endif  // QUENFOLD_FORMATS_DETECT_H
