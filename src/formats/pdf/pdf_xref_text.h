// pdf_xref_text.h - the text of a PDF's cross-reference data read as qpdf reads it: where the
// header is, the startxref offset, a table's lines up to its trailer.
#ifndef QUENFOLD_FORMATS_PDF_XREF_TEXT_H
#define QUENFOLD_FORMATS_PDF_XREF_TEXT_H

#include <qpdf/QPDFTokenizer.hh>

#include <cstdint>
#include <memory>
#include <string>

class eb_pdf_input;

// qpdf's reading of the chain fails here: it rebuilds the cross-reference
// data by scanning the file.
struct eb_pdf_chain_broken {};

// qpdf's white space in cross-reference tables.
inline bool eb_pdf_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Up to n bytes at `at` (fewer at the end).
std::string eb_pdf_bytes(eb_pdf_input &in, std::uint64_t at, std::size_t n);

// Where the first "%PDF-" followed by a version lies within the first
// 1,024 bytes (qpdf counts every offset from there); 0 when none does.
std::uint64_t eb_pdf_header_at(eb_pdf_input &in);

// The integer after the last "startxref" among the last 1,054 bytes
// (counted from the header); 0 when there is none.
std::uint64_t eb_pdf_startxref(const std::shared_ptr<eb_pdf_input> &in, QPDFTokenizer &tok,
                               std::uint64_t header_at);

// Steps over the subsections of the table whose first subsection starts at
// `at`, line by line as qpdf does; the offset just after the "trailer"
// keyword that ends it. Throws eb_pdf_chain_broken where qpdf fails.
std::uint64_t eb_pdf_table_trailer(const std::shared_ptr<eb_pdf_input> &in, QPDFTokenizer &tok,
                                   std::uint64_t at);

#endif  // QUENFOLD_FORMATS_PDF_XREF_TEXT_H
