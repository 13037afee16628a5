// pdf_xmp.h - the properties of an XMP packet that the full record takes (Dublin Core, XMP basic,
// PDF, PRISM, calibre), in RDF's element and attribute forms.
#ifndef QUENFOLD_FORMATS_PDF_XMP_H
#define QUENFOLD_FORMATS_PDF_XMP_H

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The namespaces of the properties the record takes, one list for the
// packet's reader and for the writer that keeps a packet and adds to it.
namespace eb_xmp_ns {
inline constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr std::string_view kXml = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kDc = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kXmp = "http://ns.adobe.com/xap/1.0/";
inline constexpr std::string_view kPdf = "http://ns.adobe.com/pdf/1.3/";
inline constexpr std::string_view kPdfx = "http://ns.adobe.com/pdfx/1.3/";
inline constexpr std::string_view kPrism = "http://prismstandard.org/namespaces/";  // any version
inline constexpr std::string_view kIdq = "http://ns.adobe.com/xmp/Identifier/qual/1.0/";
inline constexpr std::string_view kCalibre = "http://calibre-ebook.com/xmp-namespace";
inline constexpr std::string_view kCalibreSI =
    "http://calibre-ebook.com/xmp-namespace-series-index";
}  // namespace eb_xmp_ns

// One value of a property: a simple value, an array item (rdf:li) or a
// structure, with the qualifiers the record uses.
struct eb_xmp_value {
    std::string text;          // the value, or a structure's rdf:value
    std::string lang;          // xml:lang of an alternative
    std::string scheme;        // xmpidq:Scheme of an identifier
    std::string series_index;  // calibreSI:series_index of calibre's series
};

enum class eb_xmp : int {
    title,           // dc:title
    creator,         // dc:creator
    description,     // dc:description
    subject,         // dc:subject
    publisher,       // dc:publisher
    rights,          // dc:rights
    language,        // dc:language
    date,            // dc:date
    identifier,      // dc:identifier
    create_date,     // xmp:CreateDate
    modify_date,     // xmp:ModifyDate
    metadata_date,   // xmp:MetadataDate
    xmp_identifier,  // xmp:Identifier
    keywords,        // pdf:Keywords
    isbn,            // prism:isbn, pdfx:ISBN
    doi,             // prism:doi, pdfx:doi
    series,          // calibre:series
    series_index,    // calibreSI:series_index outside the series structure
    title_sort,      // calibre:title_sort
    count
};

struct eb_pdf_xmp {
    bool present = false;  // a packet was read
    // The values of each property, in document order; the first occurrence
    // of a property in the packet is the one kept.
    std::array<std::vector<eb_xmp_value>, static_cast<int>(eb_xmp::count)> values;
    std::vector<std::string> warnings;  // what the XML reader mended, and dropped values

    const std::vector<eb_xmp_value> &operator[](eb_xmp p) const {
        return values[static_cast<int>(p)];
    }
    // The first value's text, or "".
    std::string first(eb_xmp p) const;
    // An alternative's x-default value, else its first.
    std::string alternative(eb_xmp p) const;
};

// Reads a packet with the project's lenient XML reader (namespace-aware,
// any encoding it declares). Never fails: a broken packet gives what could
// be read, and warnings. At most 1,000 values are kept per property and
// 64 KiB of text per value.
eb_pdf_xmp eb_pdf_read_xmp(std::string_view packet);

#endif  // QUENFOLD_FORMATS_PDF_XMP_H
