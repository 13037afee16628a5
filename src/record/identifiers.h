// identifiers.h - naming a book's identifiers: ISBN, UUID, ASIN, DOI, or the book's own scheme.
#ifndef QUENFOLD_RECORD_IDENTIFIERS_H
#define QUENFOLD_RECORD_IDENTIFIERS_H

#include <string>
#include <string_view>

#include "full_record.h"

// One identifier as the book states it: scheme is the book's own word for it
// ("ISBN", "uuid", "AMAZON", "" when it gives none), value its text. A value
// is an ISBN when the scheme or a urn:isbn:/isbn: prefix says so, or when it
// is a checksum-valid ISBN on its own (an ISBN-13 must then begin 978 or 979,
// which other EAN-13 codes do not); ISBNs come out as 13 digits, and one
// whose checksum fails keeps the scheme "isbn-invalid" and its text.
eb_identifier eb_classify_identifier(std::string_view scheme, std::string_view value);

#endif  // QUENFOLD_RECORD_IDENTIFIERS_H
