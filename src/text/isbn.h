// isbn.h - recognising ISBNs in the forms books write them and normalising them to 13 digits.
#ifndef QUENFOLD_TEXT_ISBN_H
#define QUENFOLD_TEXT_ISBN_H

#include <string>
#include <string_view>

// The ISBN-13 digits of raw when it is an ISBN-10 or ISBN-13 with a valid
// check digit, written with or without hyphens and spaces and with an
// optional "urn:isbn:", "isbn:" or "ISBN" prefix; "" otherwise. An ISBN-10
// becomes its "978" ISBN-13.
std::string eb_isbn13(std::string_view raw);

#endif  // QUENFOLD_TEXT_ISBN_H
