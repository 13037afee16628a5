// full_readers.h - the format readers of the full record.
#ifndef QUENFOLD_FORMATS_FULL_READERS_H
#define QUENFOLD_FORMATS_FULL_READERS_H

#include <cstdint>
#include <string_view>

#include "full_record.h"

// Each fills r from one book's bytes: 0 on success (a protected book too, with
// r.drm set), -1 with the error text set when the bytes cannot be read as a
// book at all.
int eb_record_fb2(std::string_view document, eb_record &r);  // one FB2 document's bytes
int eb_record_mobi(const char *data, std::uint64_t len,
                   eb_record &r);  // MOBI/AZW/AZW3 and PalmDOC (TEXtREAd)
int eb_record_epub(const char *data, std::uint64_t len, eb_record &r);

#endif  // QUENFOLD_FORMATS_FULL_READERS_H
