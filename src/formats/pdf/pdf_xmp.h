// pdf_xmp.h - the properties of an XMP packet that the full record takes (Dublin Core, XMP basic,
// PDF, PRISM, calibre), in RDF's element and attribute forms.
#ifndef QUENFOLD_FORMATS_PDF_XMP_H
#define QUENFOLD_FORMATS_PDF_XMP_H

#include <array>
#include <string>
#include <string_view>
#include <vector>

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
