// full_readers.h - the readers that fill the full record, one per format family.
#ifndef QUENFOLD_FORMATS_FULL_READERS_H
#define QUENFOLD_FORMATS_FULL_READERS_H

#include <cstdint>
#include <string_view>

#include "full_record.h"
#include "io/source.h"

// Each fills r (which comes default-constructed) from one book's bytes and
// returns 0, or -1 with the error text set (eb_set_error) when the bytes
// cannot be read as a book at all. A protected book is not a failure: its
// metadata is read and drm / drm_scheme say what protects it. Every text put
// into r is valid UTF-8.

// One FictionBook 2 document's bytes, in whatever encoding it declares.
int eb_record_fb2(std::string_view document, eb_record &r);
// A Mobipocket-family book (MOBI, AZW, AZW3) or a plain PalmDOC database,
// read by the ranges it needs: the header, the record list, record 0 and the
// first bytes of the cover record.
int eb_record_mobi(const eb_source &src, eb_record &r);
// An EPUB container through one archive handle: the directory, then each
// member the reader wants at most once.
int eb_record_epub(const eb_source &src, eb_record &r);
// A PDF through libqpdf, by the ranges it asks for (a damaged file whole,
// for qpdf's recovery): protection, page count, version, the Info
// dictionary and the XMP stream. "not a valid PDF: %s" when qpdf cannot open
// it even by recovery; a document that needs a password is drm, not failed.
int eb_record_pdf(const eb_source &src, eb_record &r);
// The same two over bytes in memory.
int eb_record_mobi(const char *data, std::uint64_t len, eb_record &r);
int eb_record_epub(const char *data, std::uint64_t len, eb_record &r);

// Over a source the readers above set "short read: %s" when the book changed
// while it was read.

#endif  // QUENFOLD_FORMATS_FULL_READERS_H
