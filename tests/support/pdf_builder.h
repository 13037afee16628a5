// pdf_builder.h - small PDF files written object by object for the tests, fuzz seeds and samples:
// a cross-reference table or stream, object streams, incremental updates, damage, encryption.
#ifndef QEM_TEST_PDF_BUILDER_H
#define QEM_TEST_PDF_BUILDER_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qtest {

// ---- PDF text strings --------------------------------------------------------

// A literal string "( ... )" holding these bytes, with \ ( ) and CR escaped.
std::string pdf_literal(std::string_view bytes);
// A hexadecimal string "< ... >" holding these bytes.
std::string pdf_hex(std::string_view bytes);
// UTF-8 text as UTF-16BE with its FE FF mark, written in hexadecimal.
std::string pdf_utf16(std::string_view utf8);
// UTF-8 text with its EF BB BF mark (PDF 2.0), as a literal string.
std::string pdf_utf8(std::string_view utf8);

// ---- XMP ---------------------------------------------------------------------

// An XMP packet with one rdf:Description holding `properties` (elements), the
// description's own attributes `attributes` (simple properties written as
// attributes), and the namespaces dc, xmp, pdf, pdfx, prism, xmpidq, calibre
// and calibreSI declared.
std::string xmp_packet(const std::string &properties, const std::string &attributes = "");

// ---- documents ---------------------------------------------------------------

// One indirect object numbered by the caller: a body ("<< ... >>", "7 0 R",
// "null"...) and, when stream is true, the stream data after it (the builder
// adds /Length, and /Filter /FlateDecode when flate is set).
struct PdfObject {
    PdfObject(int n, std::string b, bool s = false, std::string d = {}, bool f = false)
        : num(n), body(std::move(b)), stream(s), data(std::move(d)), flate(f) {}
    int num;
    std::string body;
    bool stream;
    std::string data;
    bool flate;
};

// An incremental update appended after the document: objects replaced or
// added, then a cross-reference section of its own whose trailer points back.
struct PdfUpdate {
    std::vector<std::pair<std::string, std::string>>
        info;         // a new Info (object 4); none when empty
    std::string xmp;  // a new XMP stream (object 5) when set
    std::vector<PdfObject> objects;
};

// What build_pdf writes. Objects 1 to 7 are the builder's: 1 catalog, 2 page
// tree root, 3 page, 4 Info, 5 XMP, 6 filler, 7 object stream; numbers from 8
// up are free for `objects`.
struct PdfDesc {
    std::string version = "1.4";  // in the header
    // Info entries: key without the slash, value as PDF text (pdf_literal,
    // pdf_utf16...). No Info dictionary when empty.
    std::vector<std::pair<std::string, std::string>> info;
    std::string xmp;  // the /Metadata stream's packet; none when empty
    bool xmp_flate = false;
    std::string catalog_extra;       // more catalog entries, e.g. "/Lang (en-GB) /Version /1.7"
    std::string page_count = "1";    // the /Count value as written
    std::string pages_value;         // when set, the catalog's /Pages value instead of "2 0 R"
    std::string info_value;          // when set, the trailer's /Info value instead of "4 0 R"
    std::string metadata_value;      // when set, the catalog's /Metadata value instead of "5 0 R"
    std::string trailer_extra;       // more trailer entries (an /Encrypt of a foreign handler)
    std::vector<PdfObject> objects;  // more objects, numbered 8 and up
    bool xref_stream = false;        // a cross-reference stream instead of a table
    bool xref_predictor = false;     // a stream, its rows deflated after PNG "Up" prediction
    bool object_stream = false;      // dictionaries in object streams of 100 (with an xref stream)
    std::size_t filler = 0;          // a stream of this many incompressible bytes before the rest
    std::vector<PdfUpdate> updates;
    bool damaged_xref = false;  // startxref points a few bytes past the cross-reference section
};

std::string build_pdf(const PdfDesc &desc);

// The document re-written by libqpdf's writer with Standard-handler
// encryption of revision r (2, 3, 4 with AES, or 6): a user and an owner
// password, and either every permission or none (printing, copying,
// changing, notes, forms, accessibility, assembly withheld). Throws on failure.
std::string encrypt_pdf(const std::string &pdf, const std::string &user, const std::string &owner,
                        int r, bool restricted);

}  // namespace qtest

#endif  // QEM_TEST_PDF_BUILDER_H
