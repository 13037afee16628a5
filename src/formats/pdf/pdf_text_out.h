// pdf_text_out.h - texts and dates written as PDF strings: PDFDocEncoding where it holds the text,
// else UTF-16BE with its byte order mark.
#ifndef QUENFOLD_FORMATS_PDF_PDF_TEXT_OUT_H
#define QUENFOLD_FORMATS_PDF_PDF_TEXT_OUT_H

#include <string>
#include <string_view>

// UTF-8 text as a PDF text string object: a literal "(...)" in
// PDFDocEncoding when every character has a code there (\ ( ) and line
// breaks escaped), else a hexadecimal "<FEFF...>" in UTF-16BE. Either reads
// back through eb_pdf_text as the same text.
std::string eb_pdf_text_object(std::string_view utf8);

// "YYYY-MM-DDThh:mm:ssZ" as a PDF date "D:YYYYMMDDhhmmssZ" (the digits
// taken as they are; "" when the text is not of that shape).
std::string eb_pdf_date_of(std::string_view iso);

#endif  // QUENFOLD_FORMATS_PDF_PDF_TEXT_OUT_H
