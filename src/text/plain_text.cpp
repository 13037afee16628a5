// plain_text.cpp - a forgiving single pass from markup fragments to plain paragraphs.
#include "text/plain_text.h"

#include <cstdint>

#include "text/encoding.h"
#include "text/xml_repair.h"

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void put_utf8(std::string &out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes the reference at s[i] ('&'); returns the bytes it spans, 0 when it
// is not a reference (the '&' is then text).
std::size_t reference(std::string_view s, std::size_t i, std::string &out) {
    // References are short: the search for their end never runs far.
    const std::size_t semi = s.substr(0, i + 42 < s.size() ? i + 42 : s.size()).find(';', i);
    if (semi == std::string_view::npos) return 0;
    const std::string_view body = s.substr(i + 1, semi - i - 1);
    if (body.empty()) return 0;
    std::uint32_t cp = 0;
    if (body[0] == '#') {
        const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return 0;
        for (char c : digits) {
            int v = c >= '0' && c <= '9' ? c - '0' : -1;
            if (hex && v < 0 && lower(c) >= 'a' && lower(c) <= 'f') v = lower(c) - 'a' + 10;
            if (v < 0) return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
        }
    } else if (body == "amp") {
        cp = '&';
    } else if (body == "lt") {
        cp = '<';
    } else if (body == "gt") {
        cp = '>';
    } else if (body == "quot") {
        cp = '"';
    } else if (body == "apos") {
        cp = '\'';
    } else {
        cp = eb_html_entity(body);
        if (cp == 0) return 0;
    }
    put_utf8(out, cp);
    return semi - i + 1;
}

bool breaks_paragraph(std::string_view name) {
    static constexpr std::string_view names[] = {"p",  "div", "br", "li", "h1",         "h2",
                                                 "h3", "h4",  "h5", "h6", "blockquote", "tr"};
    for (std::string_view n : names)
        if (name == n) return true;
    return false;
}

class builder {
  public:
    void text(std::string_view t) {
        for (char c : t) {
            if (is_space(c)) {
                space_ = !para_.empty();
                continue;
            }
            if (space_) para_ += ' ';
            space_ = false;
            para_ += c;
        }
    }
    void paragraph() {
        space_ = false;
        if (para_.empty()) return;
        if (!out_.empty()) out_ += "\n\n";
        out_ += para_;
        para_.clear();
    }
    std::string finish() {
        paragraph();
        return std::move(out_);
    }

  private:
    std::string out_, para_;
    bool space_ = false;
};

}  // namespace

std::string eb_markup_to_text(std::string_view markup) {
    const std::string clean = eb_utf8_repair(markup, nullptr);
    const std::string_view s = clean;
    builder b;
    std::string decoded;
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '<') {
            if (s.substr(i, 4) == "<!--") {
                const std::size_t end = s.find("-->", i + 4);
                i = end == std::string_view::npos ? s.size() : end + 3;
                continue;
            }
            std::size_t k = i + 1;
            const bool closing = k < s.size() && s[k] == '/';
            if (closing) ++k;
            std::string name;
            while (k < s.size() && name.size() < 16 &&
                   ((s[k] >= 'a' && s[k] <= 'z') || (s[k] >= 'A' && s[k] <= 'Z') ||
                    (s[k] >= '0' && s[k] <= '9') || s[k] == ':'))
                name += lower(s[k++]);
            if (name.empty() && !(k < s.size() && (s[k] == '!' || s[k] == '?'))) {
                b.text("<");  // a '<' that starts no tag is text
                ++i;
                continue;
            }
            const std::size_t colon = name.rfind(':');
            if (colon != std::string::npos) name.erase(0, colon + 1);
            const std::size_t gt = s.find('>', k);
            i = gt == std::string_view::npos ? s.size() : gt + 1;
            if (!closing && (name == "script" || name == "style")) {
                const std::size_t end = s.find("</", i);
                i = end == std::string_view::npos ? s.size() : end;
                continue;
            }
            if (breaks_paragraph(name)) b.paragraph();
            continue;
        }
        if (c == '&') {
            decoded.clear();
            if (const std::size_t n = reference(s, i, decoded)) {
                b.text(decoded == "\xC2\xA0" ? " " : decoded);
                i += n;
                continue;
            }
        }
        const std::size_t next = s.find_first_of("<&", i + 1);
        const std::size_t end = next == std::string_view::npos ? s.size() : next;
        b.text(s.substr(i, end - i));
        i = end;
    }
    return b.finish();
}
