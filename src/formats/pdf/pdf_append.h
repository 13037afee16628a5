// pdf_append.h - the incremental update appended to a PDF: the old file's end read, new objects, a
// cross-reference section of the old one's kind, the trailer.
#ifndef QUENFOLD_FORMATS_PDF_PDF_APPEND_H
#define QUENFOLD_FORMATS_PDF_PDF_APPEND_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/source.h"

// Where the old file's last cross-reference section is, and its kind.
struct eb_pdf_tail {
    std::uint64_t size = 0;       // the old file's length
    std::uint64_t startxref = 0;  // the offset its last startxref names
    bool xref_stream = false;     // a cross-reference stream, else a table
    bool ends_with_eol = false;   // its last byte is CR or LF
};

// Reads the last "startxref" in the final 1,024 bytes (where readers look),
// the offset after it, and what stands there: "xref" (a table) or
// "N G obj" whose dictionary is /Type /XRef (a stream). False with "PDF is
// damaged; write refused, nothing changed" otherwise. Reads at most 5 KiB.
bool eb_pdf_read_tail(const eb_source &book, eb_pdf_tail *tail);

// One object of the update: its number, generation and what follows
// "N G obj" (a dictionary, or a dictionary, "stream", data and "endstream").
struct eb_pdf_new_object {
    int num = 0, gen = 0;
    std::string body;
};

// The bytes to append: the opening mark, the objects, a cross-reference
// section covering exactly them (a table with a trailer, or a stream object
// numbered `size` that covers itself too), whose trailer holds /Size, /Prev
// and `trailer` (the other entries, e.g. "/Root 1 0 R /Info 9 0 R /ID [...]"),
// the closing mark and startxref. `size` is the old /Size: one more than the
// highest object number in use, and above every number of `objects`.
std::string eb_pdf_update(const eb_pdf_tail &tail, std::vector<eb_pdf_new_object> objects, int size,
                          std::string_view trailer);

#endif  // QUENFOLD_FORMATS_PDF_PDF_APPEND_H
