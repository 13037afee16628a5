// pdf_map.h - a PDF's two metadata sources, the Info dictionary and XMP, merged into the full
// record.
#ifndef QUENFOLD_FORMATS_PDF_MAP_H
#define QUENFOLD_FORMATS_PDF_MAP_H

#include <string>

#include "formats/pdf/pdf_xmp.h"
#include "full_record.h"

// The Info dictionary's entries as decoded text ("" when absent).
struct eb_pdf_info {
    bool present = false;
    std::string title, author, subject, keywords, creation_date, mod_date;
    std::string isbn, doi;  // custom entries some writers add, mirrored in XMP as pdfx
};

// Fills the record's metadata from both sources. XMP wins field by field
// where it states the field, unless the Info dictionary's ModDate is later
// than XMP's MetadataDate (else its ModifyDate), which means a tool changed
// the Info dictionary alone after the XMP was written; a field one source
// lacks comes from the other. Titles and first authors that differ give a
// warning. lang is the catalog's /Lang, taken when XMP names no language.
void eb_pdf_merge(const eb_pdf_info &info, const eb_pdf_xmp &xmp, const std::string &lang,
                  eb_record &r);

#endif  // QUENFOLD_FORMATS_PDF_MAP_H
