// plain_markup.cpp - plain paragraphs to an HTML fragment, escaped only where markup would misread.
#include "text/plain_markup.h"

namespace {

bool name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':';
}

// Whether the '&' at s[i] starts what a reader would take for a reference:
// '&', a name or '#' and digits, then ';' (references are short).
bool reference_like(std::string_view s, std::size_t i) {
    std::size_t k = i + 1;
    if (k < s.size() && s[k] == '#') ++k;
    const std::size_t from = k;
    while (k < s.size() && k - i < 42 && name_char(s[k]) && s[k] != ':')
        ++k;
    return k > from && k < s.size() && s[k] == ';';
}

void escape_into(std::string &out, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const char n = i + 1 < s.size() ? s[i + 1] : '\0';
        if (c == '&' && reference_like(s, i))
            out += "&amp;";
        else if (c == '<' && (name_char(n) || n == '/' || n == '!' || n == '?'))
            out += "&lt;";
        else
            out += c;
    }
}

}  // namespace

std::string eb_plain_to_markup(std::string_view text) {
    std::string out;
    if (text.find("\n\n") == std::string_view::npos) {
        escape_into(out, text);
        return out;
    }
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t e = text.find("\n\n", i);
        if (e == std::string_view::npos) e = text.size();
        out += "<p>";
        escape_into(out, text.substr(i, e - i));
        out += "</p>";
        i = e + 2;
    }
    return out;
}
