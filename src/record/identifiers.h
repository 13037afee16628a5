// identifiers.h - naming a book's identifiers: ISBN checks and forms, UUID, ASIN, DOI.
#ifndef QUENFOLD_RECORD_IDENTIFIERS_H
#define QUENFOLD_RECORD_IDENTIFIERS_H

#include <string>
#include <string_view>

#include "full_record.h"

// The 13 digits of an ISBN written as ISBN-10 or ISBN-13 (hyphens and blanks
// ignored, a final X allowed in ISBN-10) whose checksum holds; ISBN-13 must
// begin 978 or 979. False, with *out untouched, otherwise.
bool eb_isbn13(std::string_view value, std::string *out);

// One identifier as the book states it: scheme is the book's own word for it
// ("ISBN", "uuid", "AMAZON", "" when it gives none), value its text. A value
// is an ISBN when the scheme or a urn:isbn:/isbn: prefix says so, or when it
// is a checksum-valid ISBN on its own; ISBNs come out as 13 digits, and one
// whose checksum fails keeps the scheme "isbn-invalid" and its text.
eb_identifier eb_classify_identifier(std::string_view scheme, std::string_view value);

#endif  // QUENFOLD_RECORD_IDENTIFIERS_H
