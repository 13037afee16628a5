// identifiers.cpp - the scheme names and ISBN forms of the full record's identifiers.
#include "record/identifiers.h"

#include "text/ascii.h"
#include "text/isbn.h"

namespace {

std::string_view trim(std::string_view s) {
    const char *ws = " \t\r\n";
    std::size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

bool starts_with_i(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && eb_ascii_iequal(s.substr(0, prefix.size()), prefix);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool is_uuid(std::string_view v) {
    if (v.size() != 36) return false;
    for (std::size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex) return false;
    }
    return true;
}

}  // namespace

eb_identifier eb_classify_identifier(std::string_view scheme, std::string_view value) {
    scheme = trim(scheme);
    value = trim(value);
    std::string s = lower(scheme);
    bool isbn_declared = s == "isbn";
    std::string_view rest = value;
    if (starts_with_i(value, "urn:isbn:")) {
        isbn_declared = true;
        rest = trim(value.substr(9));
    } else if (starts_with_i(value, "isbn:")) {
        isbn_declared = true;
        rest = trim(value.substr(5));
    }
    // A scheme that names something else wins over a checksum that happens
    // to hold: a book's ASIN is often its ISBN-10, yet it is stated as ASIN.
    bool asin = s == "asin" || s == "amazon" || s == "mobi-asin";
    if (!asin && s != "uuid" && s != "doi") {
        std::string digits = eb_isbn13(rest);
        // Without a word for it, a 13-digit code is an ISBN only in the
        // ISBN ranges of the EAN system.
        bool ranged =
            isbn_declared || digits.compare(0, 3, "978") == 0 || digits.compare(0, 3, "979") == 0;
        if (!digits.empty() && ranged) return {"isbn", digits};
    }
    if (isbn_declared) return {"isbn-invalid", std::string(value)};
    if (asin) return {"asin", std::string(value)};
    if (s == "uuid" || starts_with_i(value, "urn:uuid:") || is_uuid(value))
        return {"uuid", std::string(value)};
    if (s == "doi" || starts_with_i(value, "doi:") || starts_with_i(value, "urn:doi:"))
        return {"doi", std::string(value)};
    return {s, std::string(value)};
}
