// readers.h - the three format readers, each filling a book record from one file's bytes.
#ifndef QUENFOLD_FORMATS_READERS_H
#define QUENFOLD_FORMATS_READERS_H

#include <cstdint>

#include "io/source.h"
#include "record.h"

// data holds len bytes followed by one NUL byte; meta comes zeroed.
// Result 0, or -1 with the error text set (drm set for protected books).
int eb_parse_mobi(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);
int eb_parse_fb2(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);
int eb_parse_epub(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);

// The readers that take only the ranges they need from a source (a file read
// with pread, or bytes in memory); the byte-taking forms above run these over
// a memory source. A source that falls short gives "short read: %s".
int eb_parse_mobi_source(const eb_source &src, eb_meta *meta, int want_cover);
int eb_parse_epub_source(const eb_source &src, eb_meta *meta, int want_cover);
// The FictionBook reader wants the whole text: it comes in one read into the
// thread's reusable block ("file too large: %s" above 512 MiB).
int eb_parse_fb2_source(const eb_source &src, eb_meta *meta, int want_cover);

#endif  // QUENFOLD_FORMATS_READERS_H
