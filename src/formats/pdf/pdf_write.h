// pdf_write.h - the PDF writer: new metadata as an incremental update appended to the old bytes.
#ifndef QUENFOLD_FORMATS_PDF_PDF_WRITE_H
#define QUENFOLD_FORMATS_PDF_PDF_WRITE_H

#include "ops/write/writer.h"

// What a PDF has a place for, in its Info dictionary and its XMP packet:
// title (Title, dc:title), title_sort (calibre:title_sort), authors (Author,
// dc:creator), languages (dc:language, and the catalog's /Lang where it has
// one), one series (calibre:series), identifiers and isbn (xmp:Identifier),
// publisher (dc:publisher), published (dc:date), description (Subject,
// dc:description), subjects (Keywords, dc:subject, pdf:Keywords), rights
// (dc:rights). No subtitle, contributors or cover.
constexpr unsigned eb_pdf_stores = EB_W_TITLE | EB_W_TITLE_SORT | EB_W_AUTHORS | EB_W_LANGUAGES |
                                   EB_W_SERIES | EB_W_IDENTIFIERS | EB_W_ISBN | EB_W_PUBLISHER |
                                   EB_W_PUBLISHED | EB_W_DESCRIPTION | EB_W_SUBJECTS | EB_W_RIGHTS;

// Writes the old file byte for byte, then one incremental update: a new
// Info dictionary (its other entries kept, ModDate the time of the write), a
// new XMP stream (the old packet with the changed properties replaced,
// xmp:ModifyDate and xmp:MetadataDate equal to ModDate, so that the reader
// takes every value from XMP and finds the same in Info), a new catalog only
// when it must name a new /Metadata or change its /Lang, and a
// cross-reference section of the kind the file's last one is. Refused before
// anything is written: encrypted documents ("PDF is encrypted; write
// refused, nothing changed"), a cross-reference that only repair can read
// ("PDF is damaged; write refused, nothing changed"), an XMP packet that
// cannot be edited safely, a second series, and a publication date removed
// where a creation date would stand in for it.
int eb_write_pdf(const eb_source &book, const eb_record &before, const eb_changes &changes,
                 int out_fd);

#endif  // QUENFOLD_FORMATS_PDF_PDF_WRITE_H
