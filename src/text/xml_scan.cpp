// xml_scan.cpp - the tag scanner: element and attribute lookup by literal name, entity decoding.

#include "text/xml_scan.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "heap.h"
#include "text/ascii.h"
#include "text/char_ref.h"
#include "text/utf8.h"

//
// No document tree: lookups scan byte ranges [start, end) for literal element
// and attribute names. Ranges need not be NUL-terminated (ZIP members are
// not), so nothing here reads at or past end. Names match byte for byte; a
// namespace prefix is just part of the name.

namespace {
// Bytes that may follow the name of a start tag sought by eb_find_tag.
bool start_name_end(unsigned char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '>';
}

// White space trimmed from element text.
bool trim_space(unsigned char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

const char *find_byte(const char *p, const char *end, char c) {
    return p < end ? static_cast<const char *>(std::memchr(p, c, end - p)) : nullptr;
}
}  // namespace

// Position of the '<' of the first start tag named name in [start, end), or
// null. Comments, end tags and processing instructions ("<!", "</", "<?")
// never match, and the byte after the name must lie inside the range.
const char *eb_find_tag(const char *start, const char *end, const char *name) {
    if (!start || !name || start >= end) return nullptr;
    const std::size_t n = std::strlen(name);
    for (const char *p = start;;) {
        const char *lt = find_byte(p, end, '<');
        if (!lt) return nullptr;
        p = lt + 1;
        if (static_cast<std::size_t>(end - lt) <= n + 1) continue;
        if (lt[1] == '!' || lt[1] == '/' || lt[1] == '?') continue;
        if (std::memcmp(lt + 1, name, n) != 0) continue;
        if (start_name_end(static_cast<unsigned char>(lt[n + 1]))) return lt;
    }
}

// One past the '>' of the end tag that closes the element opened just
// before start (depth 1 at start), balancing nested elements of the same
// name; self-closing ones do not count. Null when there is none in range.
const char *eb_find_close(const char *start, const char *end, const char *name) {
    if (!start || !name || start >= end) return nullptr;
    const std::size_t n = std::strlen(name);
    std::size_t depth = 1;
    eb_gt_cursor gts(end);
    for (const char *p = start;;) {
        const char *lt = find_byte(p, end, '<');
        if (!lt) return nullptr;
        const int step = eb_nesting_step(lt, end, name, n, gts, &p);
        if (step < 0 && --depth == 0) {
            const char *gt = gts.at_or_after(lt);
            return gt ? gt + 1 : nullptr;
        }
        if (step > 0) ++depth;
    }
}

// Raw value of attribute name in the start tag [tag_start, tag_end), where
// tag_end is the tag's first '>'. A double-quoted occurrence wins over a
// single-quoted one; a NUL byte ends the search. The value is cut to
// out_size - 1 bytes and never entity-decoded. 0 when found; -1 otherwise,
// with the output emptied (left untouched for unusable arguments or a name
// longer than 123 bytes).
int eb_attr_val(const char *tag_start, const char *tag_end, const char *name, char *out,
                std::size_t out_size) {
    if (!tag_start || !tag_end || !name || !out || out_size == 0) return -1;
    const std::size_t n = std::strlen(name);
    if (n + 4 > 127) return -1;
    if (tag_start >= tag_end) {
        out[0] = '\0';
        return -1;
    }
    const char *nul = find_byte(tag_start, tag_end, '\0');
    const std::string_view hay(tag_start,
                               static_cast<std::size_t>((nul ? nul : tag_end) - tag_start));
    char pattern[128];
    std::memcpy(pattern, name, n);
    pattern[n] = '=';
    for (char quote : {'"', '\''}) {
        pattern[n + 1] = quote;
        const std::size_t at = hay.find(std::string_view(pattern, n + 2));
        if (at == std::string_view::npos) continue;
        const char *v = tag_start + at + n + 2;
        const char *close = find_byte(v, tag_end, quote);
        std::size_t vlen = static_cast<std::size_t>((close ? close : tag_end) - v);
        if (vlen > out_size - 1) vlen = out_size - 1;
        std::memcpy(out, v, vlen);
        out[vlen] = '\0';
        return 0;
    }
    out[0] = '\0';
    return -1;
}

// Decoded, trimmed text of the first element named name in [text, text+len)
// as a heap block owned by the caller. Inner markup is kept as it stands.
// "" for a self-closing element; null when there is no such element, it is
// not closed, its content is empty, or decoding produced no bytes.
char *eb_tag_text(const char *text, std::size_t len, const char *name) {
    if (!text) return nullptr;
    const char *end = text + len;
    const char *st = eb_find_tag(text, end, name);
    if (!st) return nullptr;
    const char *gt = find_byte(st, end, '>');
    if (!gt) return nullptr;
    if (gt[-1] == '/') return eb_strdup("");
    const char *body = gt + 1;
    const char *close = eb_find_close(body, end, name);
    if (!close) return nullptr;
    return eb_element_text(body, eb_content_end(body, close));
}

// The '<' nearest before the '>' at close - 1: the end of the content that
// runs from body. The end tag's '<' lies at or after body, so this stops in
// time.
const char *eb_content_end(const char *body, const char *close) {
    const char *body_end = close - 1;
    while (body_end > body && *body_end != '<')
        --body_end;
    return body_end;
}

// Decoded, trimmed text of the content [body, body_end); null when it is
// empty or decoding produced no bytes.
char *eb_element_text(const char *body, const char *body_end) {
    if (body_end == body) return nullptr;

    eb_buf buf;
    eb_buf_init(&buf);
    eb_xml_decode_entities(body, static_cast<std::size_t>(body_end - body), &buf);
    if (buf.len == 0) {
        eb_buf_free(&buf);
        return nullptr;
    }
    std::size_t s = 0, e = static_cast<std::size_t>(buf.len);
    while (s < e && trim_space(static_cast<unsigned char>(buf.data[s])))
        ++s;
    while (e > s && trim_space(static_cast<unsigned char>(buf.data[e - 1])))
        --e;
    std::memmove(buf.data, buf.data + s, e - s);
    buf.data[e - s] = '\0';
    return buf.data;  // the caller owns the block now
}

namespace {
// Appends code point cp (1..U+FFFF) as UTF-8; anything else gives no bytes.
// Surrogate values are encoded like any other code point.
void append_code_point(eb_buf *out, unsigned long cp) {
    if (cp == 0 || cp > 0xFFFF) return;
    unsigned char u[4];
    eb_buf_append(out, u, eb_utf8_encode(static_cast<std::uint32_t>(cp), u));
}

constexpr std::size_t max_ref_reach = 16;  // ';' at most this many bytes after '&'

// The number of a character reference, read as strtoul reads it in the C
// locale (leading white space, a sign, "0x" in base 16, saturation at
// ULONG_MAX) but independent of the host's locale. The reference's ';'
// stops the reading, which therefore never leaves the text.
unsigned long ref_number(const char *s, unsigned base) {
    while (eb_ascii_space(static_cast<unsigned char>(*s)))
        ++s;
    const bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
        eb_ascii_digit(static_cast<unsigned char>(s[2])) < 16)
        s += 2;
    unsigned long v = 0;
    bool overflow = false;
    for (unsigned d; (d = eb_ascii_digit(static_cast<unsigned char>(*s))) < base; ++s) {
        if (v > (ULONG_MAX - d) / base) overflow = true;
        v = v * base + d;
    }
    if (overflow) return ULONG_MAX;
    return negative ? 0ul - v : v;
}
}  // namespace

// Appends [text, text+len) to out with the five predefined entities and
// numeric references decoded; anything unrecognised is copied unchanged. A
// failed append just leaves those bytes out (the buffer has set "out of
// memory").
void eb_xml_decode_entities(const char *text, std::size_t len, eb_buf *out) {
    const char *p = text;
    const char *end = text + len;
    while (p < end) {
        const char *amp = find_byte(p, end, '&');
        if (!amp) {
            eb_buf_append(out, p, static_cast<std::uint64_t>(end - p));
            return;
        }
        eb_buf_append(out, p, static_cast<std::uint64_t>(amp - p));
        p = amp + 1;
        const std::size_t room = static_cast<std::size_t>(end - p);
        const char *semi = find_byte(p, p + (room < max_ref_reach ? room : max_ref_reach), ';');
        if (!semi) {
            eb_buf_append(out, "&", 1);
            continue;
        }
        bool done = false;
        if (const char c = eb_predefined_entity(
                std::string_view(amp + 1, static_cast<std::size_t>(semi - amp) - 1))) {
            eb_buf_append(out, &c, 1);
            done = true;
        }
        if (!done && amp[1] == '#') {
            const bool hex = amp[2] == 'x' || amp[2] == 'X';
            append_code_point(out, ref_number(amp + (hex ? 3 : 2), hex ? 16 : 10));
            done = true;
        }
        if (done)
            p = semi + 1;
        else
            eb_buf_append(out, "&", 1);
    }
}
