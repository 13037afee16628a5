// plain_text.cpp - markup to plain text for descriptions and annotations.
#include "text/plain_text.h"

#include <cstring>

namespace {

struct named_entity {
    const char *name;
    unsigned long cp;
};

// XML's five and the HTML ones that descriptions copied from web pages use.
constexpr named_entity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},      {"apos", '\''},
    {"nbsp", ' '},     {"mdash", 0x2014}, {"ndash", 0x2013}, {"hellip", 0x2026}, {"lsquo", 0x2018},
    {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"laquo", 0xAB},    {"raquo", 0xBB},
    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"shy", 0xAD},      {"bull", 0x2022},
};

constexpr const char *kBlockTags[] = {
    "p",  "div", "br", "li",         "h1",      "h2",    "h3", "h4", "h5", "h6",
    "tr", "ul",  "ol", "blockquote", "section", "table", "dd", "dt", "hr", "empty-line"};

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The element name of a tag's inside ("/p class=x" gives "p"), lower-cased.
std::string tag_name(std::string_view inside) {
    std::size_t i = 0;
    if (i < inside.size() && inside[i] == '/') ++i;
    std::string name;
    while (i < inside.size() && !is_space(inside[i]) && inside[i] != '/' && inside[i] != '>' &&
           name.size() < 16)
        name += lower(inside[i++]);
    return name;
}

bool is_block(const std::string &name) {
    for (const char *b : kBlockTags)
        if (name == b) return true;
    return false;
}

// Decodes the reference at s[0] == '&'. Returns the bytes consumed (0 when it
// is not a known reference, which then stays as written).
std::size_t decode_ref(std::string_view s, std::string &out) {
    std::size_t semi = s.substr(0, 12).find(';');
    if (semi == std::string_view::npos || semi < 2) return 0;
    std::string_view body = s.substr(1, semi - 1);
    if (body[0] == '#') {
        bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        unsigned long cp = 0;
        for (char c : digits) {
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && lower(c) >= 'a' && lower(c) <= 'f')
                v = lower(c) - 'a' + 10;
            else
                return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
        }
        eb_append_utf8(out, cp);
        return semi + 1;
    }
    for (const named_entity &e : kEntities)
        if (body == e.name) {
            eb_append_utf8(out, e.cp);
            return semi + 1;
        }
    return 0;
}

// Collects words into paragraphs: blanks collapse, breaks separate.
class paragraphs {
  public:
    void text(std::string_view s) {
        for (char c : s)
            ch(c);
    }
    void ch(char c) {
        if (c == '\n') {
            if (++newlines_ >= 2) brk();
            pending_space_ = true;
            return;
        }
        if (is_space(c)) {
            pending_space_ = true;
            return;
        }
        newlines_ = 0;
        if (pending_space_ && !para_.empty()) para_ += ' ';
        pending_space_ = false;
        para_ += c;
    }
    void raw(const std::string &bytes) {
        newlines_ = 0;
        if (pending_space_ && !para_.empty()) para_ += ' ';
        pending_space_ = false;
        para_ += bytes;
    }
    void brk() {
        if (!para_.empty()) {
            if (!out_.empty()) out_ += "\n\n";
            out_ += para_;
            para_.clear();
        }
        pending_space_ = false;
        newlines_ = 0;
    }
    std::string finish() {
        brk();
        return std::move(out_);
    }

  private:
    std::string out_, para_;
    bool pending_space_ = false;
    int newlines_ = 0;
};

}  // namespace

void eb_append_utf8(std::string &out, unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string eb_markup_to_text(std::string_view html) {
    paragraphs p;
    // Once no '>' follows some '<', none follows any later one: remembering
    // that keeps "<<<<..." linear.
    bool no_more_gt = false;
    std::size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<' && !no_more_gt) {
            std::size_t gt = html.find('>', i + 1);
            if (gt == std::string_view::npos) {
                no_more_gt = true;
                continue;
            }
            // Inline tags (b, i, span...) stand inside words as often as
            // between them, so they leave nothing behind.
            if (is_block(tag_name(html.substr(i + 1, gt - i - 1)))) p.brk();
            i = gt + 1;
            continue;
        }
        if (c == '&') {
            std::string decoded;
            std::size_t n = decode_ref(html.substr(i), decoded);
            if (n) {
                if (decoded == " ")
                    p.ch(' ');
                else
                    p.raw(decoded);
                i += n;
                continue;
            }
        }
        p.ch(c);
        ++i;
    }
    return p.finish();
}
