// plain_text.cpp - a forgiving single pass from markup fragments to plain paragraphs.
#include "text/plain_text.h"

#include <cstdint>

#include "text/char_ref.h"
#include "text/encoding.h"
#include "text/utf8.h"
#include "text/xml_repair.h"

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A character a text may hold: U+FFFD in place of NUL, a surrogate or a
// value past Unicode.
void put_utf8(std::string &out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    eb_utf8_append(out, cp);
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
        if (eb_numeric_ref(s.substr(i, semi - i + 1), &cp) == 0) return 0;
    } else if (const char c = eb_predefined_entity(body)) {
        cp = static_cast<unsigned char>(c);
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
    // Words are copied whole; a run of white space becomes one space
    // before the next word of the paragraph.
    void text(std::string_view t) {
        for (std::size_t i = 0; i < t.size();) {
            if (is_space(t[i])) {
                space_ = !para_.empty();
                ++i;
                continue;
            }
            std::size_t end = i + 1;
            while (end < t.size() && !is_space(t[end]))
                ++end;
            if (space_) para_ += ' ';
            space_ = false;
            para_.append(t.data() + i, end - i);
            i = end;
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
    // Mending copies the text, so valid text (nearly all) is read in place.
    std::string clean;
    std::string_view s = markup;
    if (!eb_utf8_valid(markup)) {
        clean = eb_utf8_repair(markup, nullptr);
        s = clean;
    }
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
        // Text runs to the next tag or reference.
        std::size_t end = i + 1;
        while (end < s.size() && s[end] != '<' && s[end] != '&')
            ++end;
        b.text(s.substr(i, end - i));
        i = end;
    }
    return b.finish();
}
