// pdf_lazy_parse.cpp - the plain PDF syntax into qpdf's object handles: numbers, names, strings,
// arrays, dictionaries and references, strictly, every other byte giving up.
#include "formats/pdf/pdf_lazy_parse.h"

#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxDigits = 18;

bool space(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool delimiter(char c) {
    switch (c) {
        case '(':
        case ')':
        case '<':
        case '>':
        case '[':
        case ']':
        case '{':
        case '}':
        case '/':
        case '%':
            return true;
        default:
            return false;
    }
}

// Printable ASCII that is no delimiter: what words and names are made of.
bool regular(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && !delimiter(c);
}

bool digits(std::string_view w) {
    if (w.empty() || w.size() > kMaxDigits) return false;
    for (char c : w)
        if (c < '0' || c > '9') return false;
    return true;
}

bool integer(std::string_view w) {
    return !w.empty() && digits(w[0] == '+' || w[0] == '-' ? w.substr(1) : w);
}

// [+-]digits.digits or [+-].digits
bool real(std::string_view w) {
    if (!w.empty() && (w[0] == '+' || w[0] == '-')) w.remove_prefix(1);
    const std::size_t dot = w.find('.');
    if (dot == std::string_view::npos) return false;
    return (dot == 0 || digits(w.substr(0, dot))) && digits(w.substr(dot + 1));
}

long long value_of(std::string_view w) {
    const bool minus = w[0] == '-';
    if (w[0] == '+' || w[0] == '-') w.remove_prefix(1);
    long long v = 0;
    for (char c : w)
        v = v * 10 + (c - '0');
    return minus ? -v : v;
}

// The keys of the objects the record is read from: the trailer and
// cross-reference streams, the catalog, the page tree root, Info, streams.
bool wanted(std::string_view key) {
    static constexpr std::string_view keys[] = {
        "/Type",    "/Size",     "/Prev",         "/XRefStm",     "/Encrypt", "/Root",  "/Info",
        "/W",       "/Index",    "/Filter",       "/DecodeParms", "/Length",  "/N",     "/First",
        "/Pages",   "/Version",  "/Lang",         "/Metadata",    "/Count",   "/Title", "/Author",
        "/Subject", "/Keywords", "/CreationDate", "/ModDate",     "/ISBN",    "/DOI",   "/doi"};
    for (std::string_view k : keys)
        if (k == key) return true;
    return false;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

char eb_pdf_parser::at(std::size_t i) {
    if (i < text_.size()) return text_[i];
    if (final_) throw eb_pdf_give_up{};
    throw eb_pdf_short{};
}

bool eb_pdf_parser::skip_space() {
    while (pos_ < text_.size() && space(text_[pos_]))
        ++pos_;
    if (pos_ == text_.size()) {
        if (final_) return false;
        throw eb_pdf_short{};
    }
    eb_pdf_require(text_[pos_] != '%');  // comments: qpdf's affair
    return true;
}

bool eb_pdf_parser::next_is(std::string_view w) {
    const std::size_t from = pos_;
    bool is = skip_space();
    for (std::size_t i = 0; is && i <= w.size(); ++i) {
        const std::size_t k = pos_ + i;
        if (k >= text_.size()) {
            if (!final_) throw eb_pdf_short{};
            is = i == w.size();
            break;
        }
        is = i < w.size() ? text_[k] == w[i] : !regular(text_[k]);
    }
    pos_ = from;
    return is;
}

bool eb_pdf_parser::line_end() {
    const char c = at(pos_);
    if (c == '\n' || (c == '\r' && at(pos_ + 1) == '\n')) {
        pos_ += c == '\n' ? 1 : 2;
        return true;
    }
    return false;
}

std::string_view eb_pdf_parser::word() {
    if (!skip_space()) return {};
    const std::size_t from = pos_;
    while (pos_ < text_.size() && regular(text_[pos_]))
        ++pos_;
    if (pos_ == text_.size() && !final_) throw eb_pdf_short{};
    // A word ends at white space or a delimiter; any other byte is odd.
    eb_pdf_require(pos_ > from &&
                   (pos_ == text_.size() || space(text_[pos_]) || delimiter(text_[pos_])));
    return text_.substr(from, pos_ - from);
}

std::uint64_t eb_pdf_parser::count(std::uint64_t max) {
    const std::string_view w = word();
    eb_pdf_require(digits(w));
    const auto v = static_cast<std::uint64_t>(value_of(w));
    eb_pdf_require(v <= max);
    return v;
}

QPDFObjectHandle eb_pdf_parser::value() {
    return value(0, shape::build);
}

std::string_view eb_pdf_parser::name() {
    eb_pdf_require(at(pos_) == '/');
    const std::size_t from = ++pos_;
    while (regular(at(pos_)))
        ++pos_;
    const std::string_view n = text_.substr(from, pos_ - from);
    eb_pdf_require(!n.empty() && n.find('#') == std::string_view::npos &&
                   (space(text_[pos_]) || delimiter(text_[pos_])));
    return n;
}

QPDFObjectHandle eb_pdf_parser::value(int depth, shape how) {
    eb_pdf_require(depth <= kMaxDepth && skip_space());
    const bool build = how != shape::skip;
    const char c = text_[pos_];
    if (c == '/') {
        const std::string_view n = name();
        if (!build) return {};
        std::string slashed(1, '/');
        slashed.append(n);
        return QPDFObjectHandle::newName(slashed);
    }
    if (c == '(') return literal(build);
    if (c == '<' && at(pos_ + 1) != '<') return hex(build);
    if (c == '<') {
        pos_ += 2;
        std::map<std::string, QPDFObjectHandle> items;
        for (;;) {
            eb_pdf_require(skip_space());
            if (text_[pos_] == '>') {
                eb_pdf_require(at(pos_ + 1) == '>');
                pos_ += 2;
                return build ? QPDFObjectHandle::newDictionary(items) : QPDFObjectHandle();
            }
            std::string key(1, '/');
            key.append(name());
            // Under the outermost dictionary only the keys the reader looks
            // at are built (a reference there kept as one: the reader may
            // follow it); the others are read through and stand in as the
            // operator "...", which no check takes for a value.
            shape inner = how == shape::skip ? shape::skip : shape::build;
            if (depth == 0) inner = wanted(key) ? shape::keep_reference : shape::skip;
            QPDFObjectHandle v = value(depth + 1, inner);
            if (inner == shape::skip) {
                if (!stand_in_.isInitialized()) stand_in_ = QPDFObjectHandle::newOperator("...");
                v = stand_in_;
            }
            eb_pdf_require(items.emplace(std::move(key), v).second);
        }
    }
    if (c == '[') {
        ++pos_;
        std::vector<QPDFObjectHandle> items;
        for (;;) {
            eb_pdf_require(skip_space());
            if (text_[pos_] == ']') {
                ++pos_;
                return build ? QPDFObjectHandle::newArray(items) : QPDFObjectHandle();
            }
            if (!build && skip_references()) continue;  // a page list, quickly
            QPDFObjectHandle v = value(depth + 1, build ? shape::build : shape::skip);
            if (build) items.push_back(v);
        }
    }
    eb_pdf_require(regular(c));
    const std::string_view w = word();
    if (w == "true" || w == "false")
        return build ? QPDFObjectHandle::newBool(w == "true") : QPDFObjectHandle();
    if (w == "null") return build ? QPDFObjectHandle::newNull() : QPDFObjectHandle();
    if (integer(w)) return number_or_reference(w, how);
    eb_pdf_require(real(w));
    return build ? QPDFObjectHandle::newReal(std::string(w)) : QPDFObjectHandle();
}

// A run of "num gen R" read through without a word taken apart, with the
// white space after each: what the general path makes of them (references
// of the plain form) in a few instructions a byte, so that a flat page list
// of thousands costs little more than a short one. False, nothing taken,
// when no reference starts at the position.
bool eb_pdf_parser::skip_references() {
    const char *const begin = text_.data();
    const char *const end = begin + text_.size();
    const char *q = begin + pos_;
    bool any = false;
    for (;;) {
        std::uint64_t v[2] = {0, 0};
        for (std::uint64_t &x : v) {
            const char *const from = q;
            while (q < end && static_cast<unsigned char>(*q - '0') < 10)
                x = x * 10 + static_cast<std::uint64_t>(*q++ - '0');
            if (q == from || q - from > 10 || q == end || !space(*q)) return any;
            while (q < end && space(*q))
                ++q;
        }
        if (end - q < 2 || q[0] != 'R' || regular(q[1])) return any;
        eb_pdf_require(v[0] > 0 && v[0] <= INT32_MAX && v[1] <= 65535);
        ++q;
        while (q < end && space(*q))
            ++q;
        pos_ = static_cast<std::size_t>(q - begin);
        any = true;
    }
}

// An integer, or the reference "num gen R" it starts.
QPDFObjectHandle eb_pdf_parser::number_or_reference(std::string_view w, shape how) {
    const std::size_t after = pos_;
    if (skip_space() && regular(text_[pos_])) {
        const std::string_view g = word();
        if (integer(g) && skip_space() && regular(text_[pos_]) && word() == "R") {
            // Only the plain form: qpdf has rules of its own for the others.
            eb_pdf_require(digits(w) && digits(g) && value_of(w) > 0 && value_of(w) <= INT32_MAX &&
                           value_of(g) <= 65535);
            if (how == shape::keep_reference)
                return ctx_.getObject(static_cast<int>(value_of(w)), static_cast<int>(value_of(g)));
            return how == shape::skip ? QPDFObjectHandle() : QPDFObjectHandle::newOperator("R");
        }
    }
    pos_ = after;
    return how == shape::skip ? QPDFObjectHandle() : QPDFObjectHandle::newInteger(value_of(w));
}

// A literal string as qpdf reads it: a line end inside is LF whichever it
// was; after a backslash a line end is nothing, up to three octal digits are
// a byte (modulo 256), and any other character stands for itself.
QPDFObjectHandle eb_pdf_parser::literal(bool build) {
    ++pos_;
    std::string s;
    int open = 1;
    for (;;) {
        char c = at(pos_++);
        if (c == '\\') {
            const char e = at(pos_++);
            switch (e) {
                case 'n':
                    s += '\n';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case '\n':
                    break;
                case '\r':
                    if (at(pos_) == '\n') ++pos_;
                    break;
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0';
                        for (int k = 0; k < 2 && at(pos_) >= '0' && at(pos_) <= '7'; ++k)
                            v = v * 8 + (text_[pos_++] - '0');
                        s += static_cast<char>(v & 0xFF);
                    } else {
                        s += e;
                    }
            }
            continue;
        }
        if (c == '\r') {
            if (at(pos_) == '\n') ++pos_;
            c = '\n';
        }
        if (c == '(') ++open;
        if (c == ')' && --open == 0)
            return build ? QPDFObjectHandle::newString(s) : QPDFObjectHandle();
        s += c;
    }
}

QPDFObjectHandle eb_pdf_parser::hex(bool build) {
    ++pos_;
    std::string s;
    int high = -1;
    for (;;) {
        const char c = at(pos_++);
        if (c == '>') break;
        if (space(c)) continue;
        const int d = hex_digit(c);
        eb_pdf_require(d >= 0);
        if (high < 0) {
            high = d;
        } else {
            s += static_cast<char>(high * 16 + d);
            high = -1;
        }
    }
    if (high >= 0) s += static_cast<char>(high * 16);  // an odd last digit, as if 0 followed
    return build ? QPDFObjectHandle::newString(s) : QPDFObjectHandle();
}
