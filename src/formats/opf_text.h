// opf_text.h - small text helpers of the EPUB readers: names as documents write them, attribute
// lookup, trimming, ASCII case, token lists.
#ifndef QUENFOLD_FORMATS_OPF_TEXT_H
#define QUENFOLD_FORMATS_OPF_TEXT_H

#include <string>
#include <string_view>
#include <vector>

#include "text/xml_reader.h"

namespace eb_opf {

// A name whose prefix the document never declared arrives with the prefix
// still on it; only the part after the last ':' names the element.
inline std::string_view local_of(std::string_view name) {
    std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The value of the first attribute with that local name, in any namespace.
inline std::string_view attr(const std::vector<eb_xml_attr> &attrs, std::string_view name) {
    for (const eb_xml_attr &a : attrs)
        if (local_of(a.local) == name) return a.value;
    return {};
}

// s without the spaces, tabs and line breaks at either end.
inline std::string trim(std::string_view s) {
    const char *ws = " \t\r\n";
    std::size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(ws) - b + 1));
}

// ASCII letters lowered (the locale plays no part).
inline std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Whether a white-space separated list holds token.
inline bool has_token(std::string_view list, std::string_view token) {
    std::size_t i = 0;
    while (i < list.size()) {
        std::size_t e = list.find_first_of(" \t\r\n", i);
        if (e == std::string_view::npos) e = list.size();
        if (list.substr(i, e - i) == token) return true;
        i = e + 1;
    }
    return false;
}

}  // namespace eb_opf

#endif  // QUENFOLD_FORMATS_OPF_TEXT_H
