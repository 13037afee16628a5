// fb2_probe.h - a FictionBook told by its content, and the one FictionBook of a ZIP archive read as
// the book.
#ifndef QUENFOLD_FORMATS_FB2_FB2_PROBE_H
#define QUENFOLD_FORMATS_FB2_FB2_PROBE_H

#include <string_view>

#include "full_record.h"
#include "io/zip_archive.h"

// Whether a document starting with these bytes may be a FictionBook (an XML
// start in UTF-8, with or without a byte order mark, or UTF-16 of either
// order): only such a text is read whole to look for its root element.
bool eb_fb2_may_be(std::string_view head);

// A FictionBook document: its root element's name near an XML start, in
// UTF-8 (with or without a byte order mark) or in UTF-16 of either order.
bool eb_fb2_looks_like(std::string_view text);

// The one FictionBook document of a ZIP archive (eb_zip_fb2_member) as the
// book, "fb2.zip" its container; label names the book in messages ("no
// single FB2 document in ZIP: %s"). The reader contract of full_readers.h.
int eb_record_fb2_zip(const eb_zip_archive &za, const char *label, eb_record &r);

#endif  // QUENFOLD_FORMATS_FB2_FB2_PROBE_H
