// pdf_lazy.h - the lazy PDF reader, and the reading of the record's fields that it shares with
// the path through qpdf.
#ifndef QUENFOLD_FORMATS_PDF_LAZY_H
#define QUENFOLD_FORMATS_PDF_LAZY_H

#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "formats/pdf/pdf_source.h"
#include "formats/pdf/pdf_xmp.h"
#include "full_record.h"

// What the record reads of a document, however it was read: the trailer
// and the catalog (asked for inside each step, since qpdf may throw there),
// the number of objects the file lists (asked only to check a page count
// above a thousand), the XMP packet of the catalog's metadata stream, and
// how a dictionary's value is resolved (empty: as it stands; qpdf's path
// resolves through the guard that bounds what qpdf inflates).
struct eb_pdf_document {
    std::function<QPDFObjectHandle()> trailer, root;
    std::function<std::size_t()> objects;
    std::function<eb_pdf_xmp(eb_record &)> xmp;
    std::function<QPDFObjectHandle(QPDFObjectHandle, const char *)> key;
};

// The version (the header's, or the catalog's when later), the page count,
// the Info dictionary, the language and XMP into r; a step that fails adds
// a warning and the steps after it still run.
void eb_pdf_read_fields(const eb_pdf_document &doc, const std::optional<std::string> &header,
                        eb_record &r);

// The lazy reader: the record from the few objects it needs, found through
// the cross-reference data without qpdf's table of every entry. True with r
// filled; false, r untouched, when the file holds anything it leaves to
// qpdf (which then reads it whole, so that no record depends on the path).
bool eb_pdf_lazy_record(const std::shared_ptr<eb_pdf_input> &in,
                        const std::optional<std::string> &header, eb_record &r);

#endif  // QUENFOLD_FORMATS_PDF_LAZY_H
