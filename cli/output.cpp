// output.cpp - text for people and spreadsheets: the output guard, messages, columns, CSV fields.
#include <locale.h>
#include <unistd.h>
#include <utf8proc.h>
#include <wchar.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cli.h"
#include "text/hidden_chars.h"

namespace qcli {

namespace {

// Widths are those of a UTF-8 terminal whatever the user's locale says;
// the locale is switched for the calling thread only, so the library (which
// relies on the default locale) is never affected.
class Utf8Ctype {
  public:
    Utf8Ctype() {
        static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8) old_ = uselocale(utf8);
        active_ = utf8 != static_cast<locale_t>(0);
    }
    ~Utf8Ctype() {
        if (active_) uselocale(old_);
    }
    bool active() const { return active_; }
    Utf8Ctype(const Utf8Ctype &) = delete;
    Utf8Ctype &operator=(const Utf8Ctype &) = delete;

  private:
    locale_t old_ = static_cast<locale_t>(0);
    bool active_ = false;
};

void append_escape(std::vector<Glyph> &out, const char *fmt, unsigned long v) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, fmt, v);
    out.push_back({std::string(buf, static_cast<std::size_t>(n)), static_cast<std::size_t>(n)});
}

}  // namespace

std::vector<Glyph> glyphs(std::string_view s) {
    Utf8Ctype ctype;
    std::vector<Glyph> out;
    // A character that continues the one before it (a combining accent, a
    // joiner, a variation selector) stays with it, so that no cut parts them.
    utf8proc_int32_t state = 0;
    char32_t prev = 0;
    bool joinable = false;  // the last glyph is a character, not an escape
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        std::size_t n = utf8_char(s.substr(i), cp);
        if (n == 0 || cp < 0x20 || cp == 0x7F) {
            // Tabs, line breaks, escape sequences, and bytes that are not
            // UTF-8 (a terminal in an 8-bit mode takes 0x9B as a control).
            append_escape(out, "\\x%02lx", static_cast<unsigned char>(s[i]));
            ++i;
            joinable = false;
            continue;
        }
        int w = 1;
        if (n > 1 && (cp <= 0x9F || eb_bidi_control(cp) || eb_unicode_line_break(cp))) {
            // C1 controls written as UTF-8, and what would reorder the line
            // or break it (wcwidth calls a bidi control 0 wide, not -1).
            w = -1;
        } else if (n > 1 && ctype.active()) {
            w = wcwidth(static_cast<wchar_t>(cp));
        }
        if (w < 0) {
            // Other characters a terminal would act on rather than show.
            append_escape(out, cp > 0xFFFF ? "\\U%08lx" : "\\u%04lx", cp);
            joinable = false;
        } else {
            const bool joins = joinable && !utf8proc_grapheme_break_stateful(
                                               static_cast<utf8proc_int32_t>(prev),
                                               static_cast<utf8proc_int32_t>(cp), &state);
            if (joins) {
                out.back().text.append(s.substr(i, n));
                out.back().width += static_cast<std::size_t>(w);
            } else {
                out.push_back({std::string(s.substr(i, n)), static_cast<std::size_t>(w)});
            }
            joinable = true;
        }
        if (!joinable) state = 0;
        prev = cp;
        i += n;
    }
    return out;
}

std::string shown(std::string_view s, std::size_t *width_out) {
    std::string out;
    out.reserve(s.size());
    std::size_t width = 0;
    for (const Glyph &g : glyphs(s)) {
        out += g.text;
        width += g.width;
    }
    if (width_out) *width_out = width;
    return out;
}

void complain(const char *fmt, ...) {
    char buf[1024];
    std::string msg;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n >= static_cast<int>(sizeof buf)) {
        // Long paths: format again into a block of the right size.
        msg.assign(static_cast<std::size_t>(n) + 1, '\0');
        va_start(ap, fmt);
        std::vsnprintf(msg.data(), msg.size(), fmt, ap);
        va_end(ap);
        msg.pop_back();
    } else if (n > 0) {
        msg = buf;
    }
    std::string line = std::string(kProg) + ": " + shown(msg) + '\n';
    // One write per message, so that messages of several threads never mix.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string errno_text(int err) {
    char buf[256];
    // The GNU strerror_r: safe on worker threads, returns the text to use.
    return strerror_r(err, buf, sizeof buf);
}

std::string csv_field(std::string_view s, bool raw) {
    std::string t;
    if (raw) {
        t = s;
    } else {
        t.reserve(s.size() + 1);
        for (std::size_t i = 0; i < s.size(); ++i) {
            auto c = static_cast<unsigned char>(s[i]);
            bool c1 = c == 0xC2 && i + 1 < s.size() &&
                      static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
                      static_cast<unsigned char>(s[i + 1]) >= 0x80;
            if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7F || c1) {
                t += ' ';
                i += c1 ? 1 : 0;
            } else {
                t += static_cast<char>(c);
            }
        }
        // A spreadsheet reads these as the start of a formula.
        if (!t.empty() && std::string_view("=+-@").find(t[0]) != std::string_view::npos)
            t.insert(t.begin(), '\'');
    }
    if (t.find_first_of(",\"\r\n") == std::string::npos) return t;
    std::string q = "\"";
    for (char c : t) {
        if (c == '"') q += '"';
        q += c;
    }
    q += '"';
    return q;
}

std::string terminal_json(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    char esc[8];
    for (std::size_t i = 0; i < json.size();) {
        char32_t cp = 0;
        std::size_t n = utf8_char(json.substr(i), cp);
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // what a UTF-8 terminal shows for the byte
            ++i;
            continue;
        }
        if (cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || eb_bidi_control(cp) ||
            eb_unicode_line_break(cp)) {
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(cp));
            out += esc;
        } else {
            out.append(json, i, n);
        }
        i += n;
    }
    return out;
}

bool write_json(std::string_view text) {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal ? write_out(stdout, terminal_json(text)) : write_out(stdout, text);
}

JsonStyle json_style(bool pretty, bool compact) {
    if (pretty || compact) return pretty ? JsonStyle::Pretty : JsonStyle::Compact;
    return isatty(STDOUT_FILENO) == 1 ? JsonStyle::Pretty : JsonStyle::Compact;
}

bool write_json_document(std::string_view json, JsonStyle style) {
    while (!json.empty() && json.back() == '\n')
        json.remove_suffix(1);
    if (style == JsonStyle::Pretty) {
        // Book texts under --basic need not be UTF-8: they pass as they are.
        constexpr auto any_text = YYJSON_READ_ALLOW_INVALID_UNICODE;
        if (eb_doc_ptr doc = read_json(json, any_text)) {
            std::size_t len = 0;
            char *text = yyjson_write(
                doc.get(), YYJSON_WRITE_PRETTY_TWO_SPACES | YYJSON_WRITE_ALLOW_INVALID_UNICODE,
                &len);
            if (!text) throw std::bad_alloc();
            std::string out(text, len);
            std::free(text);
            out += '\n';
            return write_json(out);
        }
    }
    return write_json(std::string(json) + '\n');
}

bool write_out(std::FILE *out, std::string_view text) {
    if (text.empty()) return !std::ferror(out);
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

bool stdout_ok() {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    int err = errno ? errno : EIO;
    complain("cannot write to standard output (%s)", errno_text(err).c_str());
    return false;
}

}  // namespace qcli
