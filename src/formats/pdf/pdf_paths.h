// pdf_paths.h - the PDF reader's two paths, the lazy reader of the common case and qpdf for every
// file, chosen by the reader or by the checks that hold the two to one record.
#ifndef QUENFOLD_FORMATS_PDF_PATHS_H
#define QUENFOLD_FORMATS_PDF_PATHS_H

#include <cstddef>

#include "full_record.h"
#include "io/source.h"

enum class eb_pdf_path { either, qpdf, lazy };

// The record of a PDF by one path: `either` is the reader's own choice (the
// lazy reader, else qpdf), `qpdf` reads every file through qpdf, `lazy` gives
// 1 and a record holding nothing but its format when the lazy reader leaves
// the file to qpdf. qpdf_warnings, when given, gets the number of qpdf's
// own warnings on the file (0 for the lazy reader, which has none).
int eb_record_pdf_by(const eb_source &src, eb_record &r, eb_pdf_path path,
                     std::size_t *qpdf_warnings = nullptr);

#endif  // QUENFOLD_FORMATS_PDF_PATHS_H
