// mobi_write.h - the writer of Mobipocket-family books (MOBI, AZW, AZW3, and both parts of a
// combined MOBI+KF8 book).
#ifndef QUENFOLD_FORMATS_MOBI_MOBI_WRITE_H
#define QUENFOLD_FORMATS_MOBI_MOBI_WRITE_H

#include "ops/write/writer.h"

// What a Mobipocket book has a place for: the full name and EXTH 503
// (title), 508 (title_sort), 100 (one per author), 101, 103, 104 (isbn),
// 105 (one per subject), 106 (published), 109 (rights), 524 (one per
// language), and the cover image the EXTH cover offset names. No series,
// subtitle, contributors or other identifiers.
constexpr unsigned eb_mobi_stores = EB_W_TITLE | EB_W_TITLE_SORT | EB_W_AUTHORS | EB_W_LANGUAGES |
                                    EB_W_ISBN | EB_W_PUBLISHER | EB_W_PUBLISHED | EB_W_DESCRIPTION |
                                    EB_W_SUBJECTS | EB_W_RIGHTS | EB_W_COVER;

// Writes the book with record 0 rebuilt (and a combined book's KF8 record 0
// alike), the cover record replaced when a new cover is given, the PalmDB
// record list shifted by the records' new lengths and its modification date
// set; every other record byte for byte. Refuses, before writing anything,
// protected books, a title removed, a cover where the book names no cover
// image record (no record is ever inserted: the text and the KF8 part name
// records by their index), a WebP cover (Kindles show JPEG, PNG and GIF),
// and a record list or EXTH block that is damaged.
int eb_write_mobi(const eb_source &book, const eb_record &before, const eb_changes &changes,
                  int out_fd);

// The rows of the format table: one writer, two names for what it writes.
extern const eb_format_writer eb_mobi_writer;  // "MOBI books" (format "mobi", AZW included)
extern const eb_format_writer eb_azw3_writer;  // "AZW3 books"

#endif  // QUENFOLD_FORMATS_MOBI_MOBI_WRITE_H
