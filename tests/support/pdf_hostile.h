// pdf_hostile.h - PDFs shaped to make qpdf inflate without end or repair in quadratic time, for the
// tests, the hostile benchmark and the fuzz seeds.
#ifndef QEM_TEST_PDF_HOSTILE_H
#define QEM_TEST_PDF_HOSTILE_H

#include <cstddef>
#include <string>

namespace qtest {

// Where a stream that inflates to `inflated` bytes (spaces or zeros behind a
// little real content) sits in a document with a cross-reference stream.
enum class PdfBomb {
    info_stream,       // the object stream holding /Info, [/FlateDecode /FlateDecode]
    lying_length,      // the same, one Flate pass, its /Length saying 10
    xmp_length,        // /Length of the XMP stream kept in that object stream
    encrypt_dict,      // the /Encrypt dictionary kept in that object stream
    padded_xref,       // the cross-reference stream padded past its entries
    filter_reference,  // the cross-reference stream's /Filter given by reference
    many_objects,      // the cross-reference stream listing `inflated` objects, nearly all free
};
std::string pdf_bomb(PdfBomb kind, std::size_t inflated);

// A document without cross-reference data (so a reader rebuilds it) whose
// catalog is followed by n "trailer" lines, each opening a dictionary that
// never closes; or, if `then_good`, each followed by something other than a
// dictionary, and then a proper trailer.
std::string pdf_unclosed_trailers(std::size_t n, bool then_good = false);

}  // namespace qtest

#endif  // QEM_TEST_PDF_HOSTILE_H
