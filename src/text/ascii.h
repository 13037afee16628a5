// ascii.h - letter case and white space of ASCII bytes, the same under every process locale.
#ifndef QUENFOLD_TEXT_ASCII_H
#define QUENFOLD_TEXT_ASCII_H

#include <cstddef>
#include <string_view>

// A host may call setlocale (a Turkish locale folds 'I' to a dotless i), but
// file extensions, ZIP member names and XML markup are ASCII words: they are
// compared with these, never with <cctype>.

inline unsigned char eb_ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Space, TAB, LF, VT, FF and CR: the white space of the C locale.
inline bool eb_ascii_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Value of an ASCII digit in bases up to 36, or 36 for any other byte.
inline unsigned eb_ascii_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = eb_ascii_lower(c);
    if (c >= 'a' && c <= 'z') return c - 'a' + 10u;
    return 36;
}

// Equality with ASCII letters folded; other bytes must match.
inline bool eb_ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (eb_ascii_lower(static_cast<unsigned char>(a[i])) !=
            eb_ascii_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Whether s ends with suffix, ASCII letters folded.
inline bool eb_ascii_iends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && eb_ascii_iequal(s.substr(s.size() - suffix.size()), suffix);
}

#endif  // QUENFOLD_TEXT_ASCII_H
