// isbn.cpp - ISBN-10 and ISBN-13 check digits and the conversion to ISBN-13.
#include "text/isbn.h"

namespace {

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

char isbn13_check(std::string_view twelve) {
    int sum = 0;
    for (std::size_t i = 0; i < 12; ++i)
        sum += (twelve[i] - '0') * (i % 2 ? 3 : 1);
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

}  // namespace

std::string eb_isbn13(std::string_view raw) {
    for (std::string_view prefix : {"urn:isbn:", "isbn:", "isbn"})
        if (starts_with_nocase(raw, prefix)) {
            raw.remove_prefix(prefix.size());
            break;
        }
    std::string d;
    for (char c : raw) {
        if (c == '-' || c == ' ' || c == '\t') continue;
        if (d.size() >= 13) return "";
        if ((c >= '0' && c <= '9') || ((c == 'X' || c == 'x') && d.size() == 9)) {
            d += c == 'x' ? 'X' : c;
            continue;
        }
        return "";
    }
    if (d.size() == 13) {
        if (d.find('X') != std::string::npos) return "";
        return isbn13_check(d) == d[12] ? d : "";
    }
    if (d.size() != 10) return "";
    int sum = 0;
    for (std::size_t i = 0; i < 10; ++i)
        sum += (d[i] == 'X' ? 10 : d[i] - '0') * static_cast<int>(10 - i);
    if (sum % 11 != 0) return "";
    std::string out = "978" + d.substr(0, 9);
    out += isbn13_check(out);
    return out;
}
