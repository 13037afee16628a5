// pdf_update_mark.h - the comment lines that open and close every incremental update this library
// appends to a PDF.
#ifndef QUENFOLD_FORMATS_PDF_PDF_UPDATE_MARK_H
#define QUENFOLD_FORMATS_PDF_PDF_UPDATE_MARK_H

#include <string_view>

// An update of ours is
//   [a line break, when the old file did not end with one]
//   %quenfold-ebook-meta update <N>\n        N: the old file's length in bytes
//   <objects> <cross-reference section>
//   %quenfold-ebook-meta end <N>\n
//   startxref\n<offset>\n%%EOF\n
// Comments are white space to every PDF reader. The two marks, naming the same
// length and standing where that length says, are how an update is known as
// ours, and where the bytes before it end: removing it gives back the old
// file exactly.
constexpr std::string_view kPdfUpdateBegins = "%quenfold-ebook-meta update ";
constexpr std::string_view kPdfUpdateEnds = "%quenfold-ebook-meta end ";

#endif  // QUENFOLD_FORMATS_PDF_PDF_UPDATE_MARK_H
