// names.cpp - file names from name patterns: sanitising, extensions and the pattern fill.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "ops/eb_rename.h"
#include "text/hidden_chars.h"
#include "text/utf8.h"

const char def_pattern[] = "{author} - {series} #{idx} - {title}";

namespace {

// Bytes that no common file system takes in a name, or that would make the
// name a path; DEL with them, since a terminal acts on it.
inline bool is_unsafe(unsigned char b) {
    return b < 0x20 || b == 0x7F || (b != 0 && std::strchr("\"*/:<>?\\|", b) != nullptr);
}

// What one character of a text becomes in a file name.
enum class in_name { keep, unsafe, drop };

// The character (or lone byte) at the start of s, which is not empty: its
// length in *n and its fate. C1 controls are replaced like the C0 ones; bidi
// controls, Unicode line breaks and zero-width characters are removed, so
// that no name shows other than it is. Bytes that are not UTF-8 are kept.
in_name classify(std::string_view s, std::size_t *n) {
    auto b = static_cast<unsigned char>(s[0]);
    *n = 1;
    if (b < 0x80) return is_unsafe(b) ? in_name::unsafe : in_name::keep;
    char32_t cp = 0;
    std::size_t len = eb_utf8_char(s, &cp);
    if (len == 0) return in_name::keep;
    *n = len;
    if (cp <= 0x9F) return in_name::unsafe;
    if (eb_bidi_control(cp) || eb_unicode_line_break(cp) || eb_zero_width(cp)) return in_name::drop;
    return in_name::keep;
}

}  // namespace

void sanitize_to(char *dst, std::size_t cap, const char *src) {
    if (cap == 0) return;
    const std::size_t lim = std::min(cap - 1, kNameMax);
    std::string_view rest(src);
    std::size_t n = 0;
    bool in_run = false, lim_hit = false;
    while (!rest.empty() && n < lim && !lim_hit) {
        std::size_t len = 0;
        switch (classify(rest, &len)) {
            case in_name::unsafe:
                if (!in_run) dst[n++] = '_';
                in_run = true;
                break;
            case in_name::drop:  // as if it were not there: a run goes on
                break;
            case in_name::keep:
                if (len > lim - n) {  // no room for the whole character
                    lim_hit = true;
                    continue;
                }
                std::memcpy(dst + n, rest.data(), len);
                n += len;
                in_run = false;
                break;
        }
        rest.remove_prefix(len);
    }
    // Whole characters only were copied, but a cut after a lone lead byte of a
    // text that is not UTF-8 drops it too, before trimming, so that it can
    // neither empty the name nor hide a trailing dot.
    if (!rest.empty()) n = utf8_drop_partial(dst, n);
    while (n > 0 && (dst[n - 1] == ' ' || dst[n - 1] == '.' || dst[n - 1] == '_'))
        --n;
    std::size_t lead = 0;
    while (lead < n && (dst[lead] == ' ' || dst[lead] == '_'))
        ++lead;
    // A name of spaces or fillers alone would look like no name at all.
    if (lead == n || !eb_text_visible(std::string_view(dst + lead, n - lead))) {
        copy_field(dst, cap, "untitled");
        return;
    }
    std::memmove(dst, dst + lead, n - lead);
    dst[n - lead] = '\0';
}

void basename_ext(const char *path, char *base, char *ext) {
    const char *slash = std::strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    const char *dot = std::strrchr(file, '.');
    ext[0] = '\0';
    if (dot && dot != file) {
        std::size_t n = utf8_prefix(file, static_cast<std::size_t>(dot - file), 255);
        std::memcpy(base, file, n);
        base[n] = '\0';
        copy_field(ext, 32, dot);
    } else {
        copy_field(base, 256, file);
    }
}

bool plan_ext_ok(const char *ext) {
    if (ext[0] != '.') return false;
    std::string_view rest(ext + 1);
    while (!rest.empty()) {
        std::size_t len = 0;
        if (classify(rest, &len) != in_name::keep) return false;
        rest.remove_prefix(len);
    }
    return true;
}

namespace {

// Bounded text in a caller's array; remembers whether anything was cut off.
struct bounded {
    char *buf;
    std::size_t max;  // bytes of text, excluding the NUL
    std::size_t len = 0;
    bool cut = false;

    bool full() const { return len >= max; }
    void put(char c) {
        if (full()) {
            cut = true;
            return;
        }
        buf[len++] = c;
    }
    void put(std::string_view s) {
        std::size_t n = std::min(s.size(), max - len);
        if (n < s.size()) cut = true;
        std::memcpy(buf + len, s.data(), n);
        len += n;
    }
    // Terminates; a cut never leaves half a character at the end.
    void finish() {
        if (cut) len = utf8_drop_partial(buf, len);
        buf[len] = '\0';
    }
};

inline bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// One segment of the expanded pattern, tidied: blanks trimmed, space runs
// merged, and a '#' kept only where a number follows it.
std::size_t tidy_segment(std::string_view seg, char *out, std::size_t out_size) {
    while (!seg.empty() && is_blank(seg.front()))
        seg.remove_prefix(1);
    while (!seg.empty() && is_blank(seg.back()))
        seg.remove_suffix(1);
    bounded t{out, out_size - 1};
    for (std::size_t i = 0; i < seg.size(); ++i) {
        char c = seg[i];
        if (c == ' ' && t.len > 0 && t.buf[t.len - 1] == ' ') continue;
        if (c == '#') {
            std::size_t j = i + 1;
            while (j < seg.size() && is_blank(seg[j]))
                ++j;
            if (j == seg.size() || seg[j] < '0' || seg[j] > '9') continue;
        }
        t.put(c);
    }
    t.finish();
    std::size_t b = 0, e = t.len;
    while (b < e && out[b] == ' ')
        ++b;
    while (e > b && out[e - 1] == ' ')
        --e;
    std::memmove(out, out + b, e - b);
    out[e - b] = '\0';
    return e - b;
}

}  // namespace

void build_name(const char *pattern, const char *author, const char *series, const char *idx,
                const char *title, char *out) {
    if (!pattern || !*pattern) pattern = def_pattern;
    // A field that shows nothing (zero-width or bidi characters, fillers)
    // counts as absent, as an empty one does.
    auto given = [](const char *s) { return *s && eb_text_visible(s); };
    char author_t[192], title_t[192], series_t[192] = "", idx_t[64] = "";
    sanitize_to(author_t, sizeof author_t, given(author) ? author : "Unknown");
    sanitize_to(title_t, sizeof title_t, given(title) ? title : "untitled");
    if (given(series)) sanitize_to(series_t, sizeof series_t, series);
    if (given(idx)) sanitize_to(idx_t, sizeof idx_t, idx);

    // Expansion: placeholders replaced, an unclosed '{' dropped.
    char x_buf[768];
    bounded x{x_buf, sizeof x_buf - 1};
    const char *p = pattern;
    while (*p && !x.full()) {
        if (*p != '{') {
            x.put(*p++);
            continue;
        }
        const char *close = std::strchr(p + 1, '}');
        if (!close) {
            ++p;
            continue;
        }
        std::string_view key(p + 1, static_cast<std::size_t>(close - p - 1));
        const char *val = nullptr;
        if (key == "author")
            val = author_t;
        else if (key == "title")
            val = title_t;
        else if (key == "series")
            val = series_t;
        else if (key == "idx" || key == "series_index")
            val = idx_t;
        if (val) x.put(val);
        p = close + 1;
    }
    if (*p) x.cut = true;  // the walk stopped at the limit
    x.finish();

    // Separator tidying: empty fields leave empty segments behind, dropped
    // here together with their " - ".
    char j_buf[640];
    std::size_t jl = 0;
    constexpr std::size_t j_max = sizeof j_buf - 1;
    std::string_view rest(x.buf, x.len);
    while (!rest.empty()) {
        std::size_t at = rest.find(" - ");
        std::string_view seg = rest.substr(0, at);
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 3);
        char seg_buf[512];
        std::size_t sl = tidy_segment(seg, seg_buf, sizeof seg_buf);
        if (sl == 0) continue;
        if (jl > 0 && jl + 3 <= j_max) {
            std::memcpy(j_buf + jl, " - ", 3);
            jl += 3;
        }
        if (jl + sl <= j_max) {
            std::memcpy(j_buf + jl, seg_buf, sl);
            jl += sl;
        }
    }
    j_buf[jl] = '\0';
    sanitize_to(out, 256, j_buf);
}
