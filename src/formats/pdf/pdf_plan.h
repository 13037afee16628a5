// pdf_plan.h - what a change request makes of a PDF's Info dictionary, XMP packet and catalog.
#ifndef QUENFOLD_FORMATS_PDF_PDF_PLAN_H
#define QUENFOLD_FORMATS_PDF_PDF_PLAN_H

#include <string>
#include <utility>
#include <vector>

#include "formats/pdf/pdf_xmp_edit.h"
#include "ops/write/writer.h"

struct eb_pdf_plan {
    // Info entries: set to a PDF object's text, or removed; ModDate is set.
    std::vector<std::pair<std::string, std::string>> info_set;  // "/Title", "(...)"
    std::vector<std::string> info_removed;
    // XMP: the properties replaced, and the elements that replace them.
    eb_xmp_replaced replaced;
    std::string xmp_properties;
    // The catalog's /Lang, when the language changes: its new value (a PDF
    // text string), or "" to remove it.
    bool language_changes = false;
    std::string lang;
};

// The plan for one request. The Info dictionary holds title, authors
// (joined by "; "), description and subjects (joined by ", "); XMP holds
// every field, so that the reader, which prefers XMP when its dates are not
// older than Info's, reads every new value whichever it prefers. Identifiers
// (and the ISBN) are written as one xmp:Identifier list with their schemes:
// the request's, else the book's as read (`before`) with its ISBNs replaced.
// `now` is the write's time, "YYYY-MM-DDThh:mm:ssZ". False with the error
// text set for a request PDF cannot hold (subtitle, contributors, a cover,
// more than one series).
bool eb_pdf_plan_changes(const eb_changes &c, const eb_record &before, const std::string &now,
                         eb_pdf_plan *plan);

#endif  // QUENFOLD_FORMATS_PDF_PDF_PLAN_H
