// char_ref.h - XML's numeric character references and five predefined entities, recognised once.
#ifndef QUENFOLD_TEXT_CHAR_REF_H
#define QUENFOLD_TEXT_CHAR_REF_H

#include <cstddef>
#include <cstdint>
#include <string_view>

// The numeric character reference at the start of s ("&#38;", "&#x26;"): 1
// to 8 decimal digits, or hexadecimal ones after 'x' or 'X', then ';'. Its
// length, with its value in *cp (which the caller judges); 0 when s does not
// start with one.
inline std::size_t eb_numeric_ref(std::string_view s, std::uint32_t *cp) {
    if (s.size() < 4 || s[0] != '&' || s[1] != '#') return 0;
    std::size_t k = 2;
    const bool hex = s[k] == 'x' || s[k] == 'X';
    if (hex) ++k;
    std::uint32_t v = 0;
    std::size_t digits = 0;
    for (; k < s.size() && digits < 8; ++k, ++digits) {
        const char c = s[k];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        v = v * (hex ? 16 : 10) + d;
    }
    if (digits == 0 || k >= s.size() || s[k] != ';') return 0;
    *cp = v;
    return k + 1;
}

// The character of a predefined entity's name ("amp" -> '&'); 0 for any
// other name.
inline char eb_predefined_entity(std::string_view name) {
    static constexpr struct {
        std::string_view name;
        char value;
    } kPredefined[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto &e : kPredefined)
        if (name == e.name) return e.value;
    return 0;
}

#endif  // QUENFOLD_TEXT_CHAR_REF_H
