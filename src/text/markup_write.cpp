// markup_write.cpp - plain paragraphs to an escaped markup fragment.
#include "text/markup_write.h"

#include <vector>

namespace {

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

std::string_view trimmed(std::string_view s) {
    const std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The runs of lines between blank lines, each trimmed.
std::vector<std::string_view> paragraphs(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0, i = 0;
    while (i <= text.size()) {
        std::size_t eol = text.find('\n', i);
        if (eol == std::string_view::npos) eol = text.size();
        if (blank(text.substr(i, eol - i)) || eol == text.size()) {
            const std::size_t end = blank(text.substr(i, eol - i)) ? i : eol;
            if (std::string_view p = trimmed(text.substr(start, end - start)); !p.empty())
                out.push_back(p);
            start = eol + 1;
        }
        i = eol + 1;
    }
    return out;
}

}  // namespace

std::string eb_xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string eb_text_to_markup(std::string_view text) {
    const std::vector<std::string_view> paras = paragraphs(text);
    if (paras.size() == 1) return eb_xml_escape(paras[0]);
    std::string out;
    for (std::string_view p : paras)
        out += "<p>" + eb_xml_escape(p) + "</p>";
    return out;
}
