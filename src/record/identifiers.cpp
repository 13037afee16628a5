// identifiers.cpp - ISBN checksums and the scheme names of the full record's identifiers.
#include "record/identifiers.h"

#include "io/zip_archive.h"

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

bool eb_isbn13(std::string_view value, std::string *out) {
    std::string d;
    for (char c : value) {
        if (c == '-' || c == ' ') continue;
        if (d.size() >= 13) return false;
        d += (c == 'x') ? 'X' : c;
    }
    if (d.size() == 10) {
        int sum = 0;
        for (int i = 0; i < 10; ++i) {
            int v;
            if (d[i] >= '0' && d[i] <= '9')
                v = d[i] - '0';
            else if (d[i] == 'X' && i == 9)
                v = 10;
            else
                return false;
            sum += (10 - i) * v;
        }
        if (sum % 11 != 0) return false;
        d = "978" + d.substr(0, 9);
        int s13 = 0;
        for (int i = 0; i < 12; ++i)
            s13 += (d[i] - '0') * (i % 2 ? 3 : 1);
        d += static_cast<char>('0' + (10 - s13 % 10) % 10);
        *out = d;
        return true;
    }
    if (d.size() != 13 || (d.compare(0, 3, "978") != 0 && d.compare(0, 3, "979") != 0))
        return false;
    int sum = 0;
    for (int i = 0; i < 13; ++i) {
        if (d[i] < '0' || d[i] > '9') return false;
        sum += (d[i] - '0') * (i % 2 ? 3 : 1);
    }
    if (sum % 10 != 0) return false;
    *out = d;
    return true;
}

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
    std::string digits;
    if (!asin && s != "uuid" && s != "doi" && eb_isbn13(rest, &digits)) return {"isbn", digits};
    if (isbn_declared) return {"isbn-invalid", std::string(value)};
    if (asin) return {"asin", std::string(value)};
    if (s == "uuid" || starts_with_i(value, "urn:uuid:") || is_uuid(value))
        return {"uuid", std::string(value)};
    if (s == "doi" || starts_with_i(value, "doi:") || starts_with_i(value, "urn:doi:"))
        return {"doi", std::string(value)};
    return {s, std::string(value)};
}
