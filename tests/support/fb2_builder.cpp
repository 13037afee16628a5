// fb2_builder.cpp - FictionBook 2 documents as text.
#include "fb2_builder.h"

namespace qtest {

std::string base64_encode(const std::string &bytes, std::size_t line_width) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t col = 0;
    auto put = [&](char c) {
        if (line_width && col == line_width) {
            out += '\n';
            col = 0;
        }
        out += c;
        ++col;
    };
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        std::size_t n = bytes.size() - i;
        if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
        put(alphabet[(v >> 18) & 63]);
        put(alphabet[(v >> 12) & 63]);
        put(n > 1 ? alphabet[(v >> 6) & 63] : '=');
        put(n > 2 ? alphabet[v & 63] : '=');
    }
    return out;
}

namespace {
void element(std::string &out, const char *name, const std::string &text) {
    if (text.empty()) return;
    out += "<" + std::string(name) + ">" + text + "</" + name + ">\n";
}
}  // namespace

std::string build_fb2(const Fb2Desc &s) {
    std::string out;
    if (!s.encoding.empty()) out += "<?xml version=\"1.0\" encoding=\"" + s.encoding + "\"?>\n";
    out += "<" + s.root +
           " xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\""
           " xmlns:l=\"http://www.w3.org/1999/xlink\">\n<description>\n";
    if (!s.section.empty()) {
        out += "<" + s.section + ">\n<genre>prose</genre>\n";
        for (const Fb2Author &a : s.authors) {
            out += "<author>\n";
            element(out, "first-name", a.first);
            element(out, "middle-name", a.middle);
            element(out, "last-name", a.last);
            element(out, "nickname", a.nickname);
            out += "</author>\n";
        }
        element(out, "book-title", s.title);
        if (!s.cover_href.empty())
            out += "<coverpage><image " + s.cover_href_attr + "=\"" + s.cover_href +
                   "\"/></coverpage>\n";
        element(out, "lang", s.lang);
        if (!s.series.empty() || !s.series_number.empty())
            out += "<sequence name=\"" + s.series + "\" number=\"" + s.series_number + "\"/>\n";
        if (s.close_section) out += "</" + s.section + ">\n";
    }
    out += s.extra_description;
    out += "</description>\n<body>" + s.body + "</body>\n";
    for (const Fb2Binary &b : s.binaries) {
        out += "<binary id=\"" + b.id + "\"";
        if (!b.content_type.empty()) out += " content-type=\"" + b.content_type + "\"";
        out += ">\n" + base64_encode(b.bytes) + "\n</binary>\n";
    }
    out += "</" + s.root + ">\n";
    return out;
}

}  // namespace qtest
