// pdf_text.h - PDF text strings (UTF-16BE, UTF-8, PDFDocEncoding) and dates, to UTF-8 and ISO 8601.
#ifndef QUENFOLD_FORMATS_PDF_TEXT_H
#define QUENFOLD_FORMATS_PDF_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The UTF-8 text of a PDF text string's bytes: UTF-16BE after an FE FF mark
// (language escapes removed, unpaired surrogates as U+FFFD; FF FE, which some
// writers put before little-endian text, is read as such), UTF-8 after an
// EF BB BF mark (invalid bytes as U+FFFD), else PDFDocEncoding, whose own
// characters over 0x18-0x1F and 0x80-0xA0 are not Latin-1's and whose
// undefined codes become U+FFFD. Trailing NULs (C strings written whole) and
// white space at both ends are dropped; the text is cut at 64 KiB on a
// character boundary.
std::string eb_pdf_text(std::string_view bytes);

// A point in time as a document states it, to the precision it gives.
struct eb_pdf_date {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int parts = 0;       // 1 year .. 6 seconds
    bool zoned = false;  // a time zone was given (Z or an offset)
    int offset = 0;      // minutes east of UTC

    // ISO 8601 to the precision given: "2012", "2012-09-19",
    // "2012-09-19T12:14:51+01:00"; the zone only with a time of day.
    std::string iso() const;
    // Seconds since 1970 in UTC, missing parts taken as their start; a date
    // without a zone counts as UTC.
    std::int64_t instant() const;
};

// A PDF date "D:YYYYMMDDHHmmSSOHH'mm'", read leniently: the D: may be
// missing, any tail of the fields may be missing, the zone may be written
// Z, Z', Z00'00', +01, +0100 or +01'00; fields after the first that is out of
// range are dropped. An ISO 8601 text in a PDF string is taken too. Nothing
// when the text does not start with a four-digit year.
std::optional<eb_pdf_date> eb_pdf_parse_date(std::string_view text);

// An ISO 8601 date as XMP writes it ("2004-02-12T10:46:53-05:00", any tail
// missing, fractions of a second ignored). Nothing when it is not one.
std::optional<eb_pdf_date> eb_pdf_parse_iso(std::string_view text);

#endif  // QUENFOLD_FORMATS_PDF_TEXT_H
