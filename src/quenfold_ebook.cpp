// quenfold_ebook.cpp - the library core: per-thread error text, the book record
// and its JSON form, the text buffer, the tag scanner, Base64, ZIP member
// access, whole-file loading and reader choice, cover extraction, the
// directory scan, and the exported functions.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <yyjson.h>
#include <zip.h>

#include "eb_internal.h"

// ===========================================================================
// Error text

namespace {
// Zero-filled at each thread's first use; needs no constructor, so reading it
// from a fresh thread is just a TLS access.
thread_local char g_err[EB_ERR_SIZE];

// The system's text for errnum, safely from any thread (GNU strerror_r may
// return a static string instead of filling buf).
const char *errno_text(int errnum, char *buf, std::size_t size) {
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(errnum, buf, size);
#else
    if (strerror_r(errnum, buf, size) != 0) std::snprintf(buf, size, "error %d", errnum);
    return buf;
#endif
}
}  // namespace

void eb_set_error(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(g_err, sizeof g_err, fmt, ap);
    va_end(ap);
}

void eb_clear_error() {
    g_err[0] = '\0';
}

// ===========================================================================
// Book record

void eb_meta_init(eb_meta *m) {
    std::memset(m, 0, sizeof *m);
}

void eb_meta_free(eb_meta *m) {
    if (!m) return;
    std::free(m->title);
    std::free(m->author);
    std::free(m->language);
    std::free(m->series);
    std::free(m->series_index);
    std::free(m->asin);
    std::free(m->format);
    std::free(m->cover_data);
    eb_meta_init(m);
}

char *eb_strdup(const char *s) {
    if (!s) return nullptr;
    std::size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

namespace {
struct mut_doc_deleter {
    void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
using mut_doc_ptr = std::unique_ptr<yyjson_mut_doc, mut_doc_deleter>;

inline const char *or_empty(const char *s) {
    return s ? s : "";
}
}  // namespace

char *eb_meta_to_json(const eb_meta *m) {
    mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    if (!doc) {
        eb_set_error("yyjson doc alloc failed");
        return nullptr;
    }
    yyjson_mut_doc *d = doc.get();
    // Without storage for the root the document stays rootless and the write
    // below fails; a member that finds no storage is simply left out.
    yyjson_mut_val *obj = yyjson_mut_obj(d);
    if (obj) {
        yyjson_mut_doc_set_root(d, obj);
        yyjson_mut_obj_add_bool(d, obj, "drm", m->drm != 0);
        yyjson_mut_obj_add_str(d, obj, "format", or_empty(m->format));
        yyjson_mut_obj_add_str(d, obj, "title", or_empty(m->title));
        yyjson_mut_obj_add_str(d, obj, "author", or_empty(m->author));
        yyjson_mut_obj_add_str(d, obj, "language", or_empty(m->language));
        yyjson_mut_obj_add_str(d, obj, "series", or_empty(m->series));
        yyjson_mut_obj_add_str(d, obj, "series_index", or_empty(m->series_index));
        yyjson_mut_obj_add_bool(d, obj, "has_cover", m->has_cover != 0 || m->cover_len != 0);
        if (m->asin && m->asin[0]) yyjson_mut_obj_add_str(d, obj, "asin", m->asin);
        if (m->cover_mime[0]) yyjson_mut_obj_add_str(d, obj, "cover_mime", m->cover_mime);
    }
    char *text =
        yyjson_mut_write_opts(d, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr, nullptr, nullptr);
    if (!text) {
        eb_set_error("json write failed");
        return nullptr;
    }
    return text;
}

// ===========================================================================
// Growable text buffer

namespace {
constexpr std::uint64_t buf_first_cap = 256;
constexpr std::uint64_t buf_doubling_limit = std::uint64_t{1} << 30;  // 1 GiB
}  // namespace

// Capacity chosen for a buffer of capacity cap that must hold need bytes
// (cap < need): 256 first, then doubling; once the capacity is above 1 GiB
// every growth takes exactly what is asked, so a huge text does not reserve
// up to twice its size.
std::uint64_t eb_buf_next_cap(std::uint64_t cap, std::uint64_t need) {
    if (cap == 0 && need <= buf_first_cap) return buf_first_cap;
    std::uint64_t c = cap ? cap : buf_first_cap;
    for (;;) {
        if (c > buf_doubling_limit) return need;
        c *= 2;
        if (c >= need) return c;
    }
}

// Empty buffer: no block yet.
void eb_buf_init(eb_buf *b) {
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

// Releases the block (nothing when a user took it over and nulled data).
void eb_buf_free(eb_buf *b) {
    std::free(b->data);
    eb_buf_init(b);
}

// Empties the text but keeps the block for reuse.
void eb_buf_clear(eb_buf *b) {
    b->len = 0;
    if (b->data) b->data[0] = '\0';
}

// Makes room for need bytes in all. 0, or -1 with "out of memory" and the
// buffer untouched (old block, len and cap stay valid).
int eb_buf_reserve(eb_buf *b, std::uint64_t need) {
    if (b->cap >= need) return 0;
    std::uint64_t cap = eb_buf_next_cap(b->cap, need);
    void *p = cap <= SIZE_MAX ? std::realloc(b->data, static_cast<std::size_t>(cap)) : nullptr;
    if (!p) {
        eb_set_error("out of memory");
        return -1;
    }
    b->data = static_cast<char *>(p);
    b->cap = cap;
    return 0;
}

// Appends n bytes (which may hold NULs) and keeps the text NUL-terminated.
// n = 0 does nothing at all. 0, or -1 with the buffer unchanged.
int eb_buf_append(eb_buf *b, const void *bytes, std::uint64_t n) {
    if (n == 0) return 0;
    if (eb_buf_reserve(b, b->len + n + 1) != 0) return -1;
    std::memcpy(b->data + b->len, bytes, static_cast<std::size_t>(n));
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

// Appends a C string; null or empty does nothing.
int eb_buf_append_cstr(eb_buf *b, const char *s) {
    if (!s || !*s) return 0;
    return eb_buf_append(b, s, std::strlen(s));
}

// Appends formatted text. Short texts (up to 511 bytes) are formatted once
// into a local array; longer ones are measured there, then formatted again
// straight into the grown block. -1 without a message when the format cannot
// be processed; the buffer is then unchanged.
int eb_buf_printf(eb_buf *b, const char *fmt, ...) {
    char local[512];
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    int n = std::vsnprintf(local, sizeof local, fmt, ap);
    va_end(ap);
    int rc;
    if (n < 0) {
        rc = -1;
    } else if (static_cast<std::size_t>(n) < sizeof local) {
        rc = eb_buf_append(b, local, static_cast<std::uint64_t>(n));
    } else if (eb_buf_reserve(b, b->len + static_cast<std::uint64_t>(n) + 1) != 0) {
        rc = -1;
    } else {
        int m = std::vsnprintf(b->data + b->len, static_cast<std::size_t>(n) + 1, fmt, again);
        if (m == n) {
            b->len += static_cast<std::uint64_t>(n);
            rc = 0;
        } else {
            rc = -1;  // cannot happen with the same arguments; keep the old text
        }
        b->data[b->len] = '\0';
    }
    va_end(again);
    return rc;
}

// ===========================================================================
// Tag scanner
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

bool is_space(unsigned char c) {
    return std::isspace(c) != 0;
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
    for (const char *p = start;;) {
        const char *lt = find_byte(p, end, '<');
        if (!lt) return nullptr;
        const std::size_t m = static_cast<std::size_t>(end - lt);
        if (m > n + 2 && lt[1] == '/') {
            const unsigned char after = static_cast<unsigned char>(lt[n + 2]);
            if (std::memcmp(lt + 2, name, n) == 0 && (after == '>' || is_space(after))) {
                if (--depth == 0) {
                    const char *gt = find_byte(lt, end, '>');
                    return gt ? gt + 1 : nullptr;
                }
                p = lt + 2;
            } else {
                p = lt + 1;
            }
            continue;
        }
        p = lt + 1;
        if (m > n + 1 && lt[1] != '/' && lt[1] != '!' && std::memcmp(lt + 1, name, n) == 0) {
            const unsigned char after = static_cast<unsigned char>(lt[n + 1]);
            if (after == '/' || after == '>' || is_space(after)) {
                const char *gt = find_byte(lt, end, '>');
                if (gt && gt[-1] == '/')
                    p = gt + 1;  // self-closing: no new level
                else
                    ++depth;
            }
        }
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
    for (char quote : {'"', '\''}) {
        std::snprintf(pattern, sizeof pattern, "%s=%c", name, quote);
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
    // The end tag's '<' lies at or after body, so this stops in time.
    const char *body_end = close - 1;
    while (*body_end != '<')
        --body_end;
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
    unsigned char u[3];
    std::size_t n = 0;
    if (cp == 0 || cp > 0xFFFF) return;
    if (cp < 0x80) {
        u[n++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
        u[n++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        u[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
        u[n++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        u[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        u[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    eb_buf_append(out, u, n);
}

struct named_entity {
    std::string_view ref;
    char value;
};
constexpr named_entity predefined[] = {
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''},
};
constexpr std::size_t max_ref_reach = 16;  // ';' at most this many bytes after '&'
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
        const std::string_view ref(amp, static_cast<std::size_t>(semi - amp) + 1);
        bool done = false;
        for (const named_entity &e : predefined) {
            if (ref == e.ref) {
                eb_buf_append(out, &e.value, 1);
                done = true;
                break;
            }
        }
        if (!done && amp[1] == '#') {
            // The ';' inside the range stops strtoul, which accepts neither
            // it nor anything after it.
            const bool hex = amp[2] == 'x' || amp[2] == 'X';
            append_code_point(out, std::strtoul(amp + (hex ? 3 : 2), nullptr, hex ? 16 : 10));
            done = true;
        }
        if (done)
            p = semi + 1;
        else
            eb_buf_append(out, "&", 1);
    }
}

// ===========================================================================
// Base64

namespace {
int b64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
}  // namespace

// Decodes Base64 text as found in FB2 binaries: bytes outside the alphabet
// (line breaks, blanks, stray punctuation, high bytes) are skipped, the first
// '=' ends the text, and a trailing group of fewer than 8 bits is dropped.
// Malformed text is never an error. Returns a heap block (possibly holding 0
// bytes) and its count in *out_len; null with count 0 only when memory runs
// out.
unsigned char *eb_b64_decode(const char *src, std::size_t len, std::uint64_t *out_len) {
    *out_len = 0;
    // 6 bits per input byte never exceed this, so the block never grows.
    unsigned char *out = static_cast<unsigned char *>(std::malloc(len / 4 * 3 + 4));
    if (!out) return nullptr;
    std::uint32_t acc = 0;
    unsigned bits = 0;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(src[i]);
        if (c == '=') break;
        const int v = b64_value(c);
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<unsigned char>(acc >> bits);
            acc &= (std::uint32_t{1} << bits) - 1;
        }
    }
    *out_len = n;
    return out;
}

// ===========================================================================
// ZIP member access
//
// Every call opens the caller's bytes afresh, read-only and in place (libzip
// never copies or frees them), and closes everything before it returns, so no
// archive state lives between calls and several threads may read one book.

namespace {

struct zip_discarder {
    void operator()(zip_t *za) const noexcept { zip_discard(za); }
};
using zip_ptr = std::unique_ptr<zip_t, zip_discarder>;

struct zip_file_closer {
    void operator()(zip_file_t *zf) const noexcept { zip_fclose(zf); }
};
using zip_file_ptr = std::unique_ptr<zip_file_t, zip_file_closer>;

// Smallest archive: an end-of-central-directory record alone.
constexpr std::uint64_t ZIP_EOCD_SIZE = 22;

// A member never inflates beyond the ceiling of a whole book file: a
// hand-made header claiming more is refused before any memory is obtained.
constexpr std::uint64_t ZIP_MAX_MEMBER = EB_MAX_FILE;

// The archive over data, or null when the bytes do not open as one. libzip
// takes an empty input for an empty archive; a book file that short is no
// archive at all, so anything shorter than the end record is refused here.
zip_ptr open_archive(const void *data, std::uint64_t len) {
    if (!data || len < ZIP_EOCD_SIZE) return nullptr;
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *src = zip_source_buffer_create(data, len, 0, &err);
    if (!src) {
        zip_error_fini(&err);
        return nullptr;
    }
    zip_t *za = zip_open_from_source(src, ZIP_RDONLY, &err);
    // The archive owns its source only once it has opened.
    if (!za) zip_source_free(src);
    zip_error_fini(&err);
    return zip_ptr(za);
}

inline unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Whole-name equality ignoring the case of ASCII letters only, whatever the
// locale: bytes above 0x7F must match exactly.
bool ascii_iequal(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned char ca = ascii_lower(static_cast<unsigned char>(*a));
        unsigned char cb = ascii_lower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

// Index of the first member, in central-directory order, whose raw stored
// name equals name ignoring ASCII case; -1 when there is none.
zip_int64_t find_member(zip_t *za, const char *name) {
    zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *stored = zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (stored && ascii_iequal(stored, name)) return i;
    }
    return -1;
}

// Inflates member idx into a new block of exactly its declared length (one
// byte at least, so that an empty member still yields a valid block). Reads
// past the declared length once more, so libzip reaches the end of the data
// and checks its CRC, and so a member that yields more than declared fails.
char *read_member(zip_t *za, zip_uint64_t idx, std::uint64_t *out_len) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, idx, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) return nullptr;
    if (st.size > ZIP_MAX_MEMBER) return nullptr;
    // Deflate cannot expand data more than about 1032 times, and a stored
    // member not at all: a header claiming more is lying, its member would
    // fail to read anyway, so it gets no block of the claimed size.
    if ((st.valid & ZIP_STAT_COMP_SIZE) && (st.valid & ZIP_STAT_COMP_METHOD)) {
        if (st.comp_method == ZIP_CM_STORE && st.size > st.comp_size) return nullptr;
        if (st.comp_method == ZIP_CM_DEFLATE && st.size / 1032 > st.comp_size + 1) return nullptr;
    }
    zip_file_ptr zf(zip_fopen_index(za, idx, 0));
    if (!zf) return nullptr;
    std::uint64_t size = st.size;
    eb_unique<char> block(static_cast<char *>(std::malloc(size ? size : 1)));
    if (!block) return nullptr;
    std::uint64_t got = 0;
    while (got < size) {
        zip_int64_t n = zip_fread(zf.get(), block.get() + got, size - got);
        if (n <= 0) return nullptr;  // damaged data, or fewer bytes than declared
        got += static_cast<std::uint64_t>(n);
    }
    char extra;
    if (zip_fread(zf.get(), &extra, 1) != 0) return nullptr;  // more than declared, or bad CRC
    *out_len = size;
    return block.release();
}

}  // namespace

// 1 when the bytes open as a ZIP archive, 0 otherwise; no error text either way.
int eb_zip_ok(const void *data, std::uint64_t len) {
    return open_archive(data, len) ? 1 : 0;
}

// The member named name (whole stored name, ASCII case ignored, first match
// wins) as a new malloc block of exactly its length; null with *out_len 0 and
// "not a valid ZIP archive" or "missing zip entry: %s" on any failure.
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name,
                     std::uint64_t *out_len) {
    *out_len = 0;
    zip_ptr za = open_archive(data, len);
    if (!za) {
        eb_set_error("not a valid ZIP archive");
        return nullptr;
    }
    char *block = nullptr;
    zip_int64_t idx = name ? find_member(za.get(), name) : -1;
    if (idx >= 0) block = read_member(za.get(), static_cast<zip_uint64_t>(idx), out_len);
    if (!block) eb_set_error("missing zip entry: %s", name ? name : "");
    return block;
}

// 1 when some member's raw stored name, cut to 511 bytes, contains needle;
// 0 when none does; -1 when the bytes do not open as an archive.
int eb_zip_name_contains(const void *data, std::uint64_t len, const char *needle) {
    zip_ptr za = open_archive(data, len);
    if (!za) return -1;
    zip_int64_t count = zip_get_num_entries(za.get(), 0);
    char name[512];
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *stored = zip_get_name(za.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (!stored) continue;
        std::size_t n = std::strlen(stored);
        if (n > sizeof name - 1) n = sizeof name - 1;
        std::memcpy(name, stored, n);
        name[n] = '\0';
        if (std::strstr(name, needle)) return 1;
    }
    return 0;
}

// ===========================================================================
// Loading a book

namespace {
struct file_closer {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Opens path for reading without ever blocking (a FIFO named like a book would
// otherwise hang the caller) and refuses anything that is not a regular file.
std::FILE *open_regular(const char *path) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        char buf[256];
        eb_set_error("cannot open file: %s (%s)", path, errno_text(e, buf, sizeof buf));
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        eb_set_error("not a regular file: %s", path);
        return nullptr;
    }
    std::FILE *f = ::fdopen(fd, "rb");
    if (!f) {
        int e = errno;
        ::close(fd);
        char buf[256];
        eb_set_error("cannot open file: %s (%s)", path, errno_text(e, buf, sizeof buf));
    }
    return f;
}
}  // namespace

int eb_read_file(const char *path, char **out, std::uint64_t *out_len) {
    *out = nullptr;
    *out_len = 0;
    file_ptr f(open_regular(path));
    if (!f) return -1;
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        eb_set_error("cannot seek: %s", path);
        return -1;
    }
    long pos = std::ftell(f.get());
    if (pos < 0) {
        eb_set_error("cannot stat: %s", path);
        return -1;
    }
    std::uint64_t size = static_cast<std::uint64_t>(pos);
    if (size > EB_MAX_FILE) {
        eb_set_error("file too large: %s", path);
        return -1;
    }
    std::rewind(f.get());
    eb_unique<char> block(static_cast<char *>(std::malloc(size + 1)));
    if (!block) {
        eb_set_error("out of memory");
        return -1;
    }
    std::size_t got = size ? std::fread(block.get(), 1, size, f.get()) : 0;
    f.reset();
    if (got < size) {
        eb_set_error("short read: %s", path);
        return -1;
    }
    block.get()[size] = '\0';
    *out = block.release();
    *out_len = size;
    return 0;
}

// ===========================================================================
// Choosing a reader

const char *eb_ext_lower(const char *path, char *out, std::size_t out_size) {
    if (!out || out_size < 2 || !path) return "";
    const char *slash = std::strrchr(path, '/');
    const char *bslash = std::strrchr(path, '\\');
    const char *base = path;
    if (slash && slash + 1 > base) base = slash + 1;
    if (bslash && bslash + 1 > base) base = bslash + 1;
    const char *dot = std::strrchr(path, '.');
    if (!dot || dot < base || dot[1] == '\0') {
        out[0] = '\0';
        return out;
    }
    const char *ext = dot + 1;
    std::size_t n = 0;
    while (ext[n] && n < out_size - 1) {
        out[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(ext[n])));
        ++n;
    }
    out[n] = '\0';
    return out;
}

int eb_is_ebook_ext(const char *ext) {
    static const char *const known[] = {"epub", "fb2", "mobi", "azw", "azw3"};
    for (const char *k : known)
        if (std::strcmp(ext, k) == 0) return 1;
    return 0;
}

namespace {
// An FB2 document under a foreign extension: XML-looking start and the root
// element's name before the first NUL byte.
bool looks_like_fb2(const char *data, std::uint64_t len) {
    bool xmlish = len >= 5 && std::memcmp(data, "<?xml", 5) == 0;
    if (!xmlish) {
        std::uint64_t n = len < 64 ? len : 64;
        xmlish = std::memchr(data, '<', n) != nullptr;
    }
    if (!xmlish) return false;
    // The loaded block ends with a NUL, so strstr stops at the first NUL byte.
    return std::strstr(data, "<FictionBook") || std::strstr(data, "<fictionbook");
}
}  // namespace

int parse_by_ext(const char *path, const char *data, std::uint64_t len, eb_meta *meta,
                 int want_cover) {
    char ext[32];
    eb_ext_lower(path, ext, sizeof ext);
    if (std::strcmp(ext, "epub") == 0) return eb_parse_epub(data, len, meta, want_cover);
    if (std::strcmp(ext, "fb2") == 0) return eb_parse_fb2(data, len, meta, want_cover);
    if (std::strcmp(ext, "mobi") == 0 || std::strcmp(ext, "azw") == 0 ||
        std::strcmp(ext, "azw3") == 0)
        return eb_parse_mobi(data, len, meta, want_cover);

    if (len >= 4) {
        if (data[0] == 'P' && data[1] == 'K') return eb_parse_epub(data, len, meta, want_cover);
        if (len > 4) {
            if (looks_like_fb2(data, len)) return eb_parse_fb2(data, len, meta, want_cover);
            if (len >= 68 && std::memcmp(data + 60, "BOOKMOBI", 8) == 0)
                return eb_parse_mobi(data, len, meta, want_cover);
        }
    }
    eb_set_error("unsupported ebook format: %s", path);
    return -1;
}

// ===========================================================================
// Cover extraction

namespace {
// Writes the reader's cover bytes unchanged. The destination is opened only
// when there is something to write, so a book without a cover leaves an
// existing file as it was.
int write_cover(const eb_meta &meta, const char *out_path) {
    if (!meta.cover_data || meta.cover_len == 0) {
        eb_set_error("no cover image found");
        return -1;
    }
    std::FILE *f = std::fopen(out_path, "wb");
    if (!f) {
        int e = errno;
        char buf[256];
        eb_set_error("cannot write cover: %s (%s)", out_path, errno_text(e, buf, sizeof buf));
        return -1;
    }
    std::size_t put = std::fwrite(meta.cover_data, 1, meta.cover_len, f);
    // Closing flushes the buffered tail; when that fails (disk full, quota)
    // the file on disk is short even though every byte was accepted.
    int closed = std::fclose(f);
    if (put < meta.cover_len || closed != 0) {
        eb_set_error("short write cover");
        return -1;
    }
    return 0;
}
}  // namespace

// ===========================================================================
// Directory scan

namespace {
struct doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using doc_ptr = std::unique_ptr<yyjson_doc, doc_deleter>;

struct dir_closer {
    void operator()(DIR *d) const noexcept { ::closedir(d); }
};

// Copies the members of one book object into the scan element, in the
// object's order; "cover_mime" is not part of an element.
void copy_book_members(yyjson_mut_doc *out, yyjson_mut_val *elem, yyjson_val *book) {
    static const char *const keys[] = {"drm",    "format",       "title",     "author", "language",
                                       "series", "series_index", "has_cover", "asin"};
    for (const char *key : keys) {
        yyjson_val *v = yyjson_obj_get(book, key);
        if (!v) continue;
        bool is_flag = std::strcmp(key, "drm") == 0 || std::strcmp(key, "has_cover") == 0;
        if (is_flag) {
            if (yyjson_is_bool(v)) yyjson_mut_obj_add_bool(out, elem, key, yyjson_get_bool(v));
        } else if (yyjson_is_str(v)) {
            yyjson_mut_val *k = yyjson_mut_str(out, key);
            yyjson_mut_val *s = yyjson_mut_strncpy(out, yyjson_get_str(v), yyjson_get_len(v));
            if (k && s) yyjson_mut_obj_add(elem, k, s);
        }
    }
}

// One element for one book file; null when no storage was left for it.
yyjson_mut_val *describe_entry(yyjson_mut_doc *out, const char *path) {
    char *text = ebook_info(path);
    yyjson_mut_val *elem = yyjson_mut_obj(out);
    if (!elem) {
        ebook_free_string(text);
        return nullptr;
    }
    yyjson_mut_obj_add_strcpy(out, elem, "path", path);
    if (!text) {
        yyjson_mut_obj_add_strcpy(out, elem, "error", g_err);
        return elem;
    }
    // Book texts may hold bytes that are not UTF-8 (older cp1252 books); the
    // object is read back as written, so that such a book keeps its metadata.
    doc_ptr book(yyjson_read_opts(text, std::strlen(text), YYJSON_READ_ALLOW_INVALID_UNICODE,
                                  nullptr, nullptr));
    ebook_free_string(text);
    yyjson_val *root = book ? yyjson_doc_get_root(book.get()) : nullptr;
    if (root && yyjson_is_obj(root)) copy_book_members(out, elem, root);
    return elem;
}

char *scan_dir(const char *dir) {
    std::unique_ptr<DIR, dir_closer> d(::opendir(dir));
    if (!d) {
        int e = errno;
        char buf[256];
        eb_set_error("cannot open dir: %s (%s)", dir, errno_text(e, buf, sizeof buf));
        return nullptr;
    }
    mut_doc_ptr out(yyjson_mut_doc_new(nullptr));
    if (!out) {
        eb_set_error("yyjson alloc failed");
        return nullptr;
    }
    yyjson_mut_val *arr = yyjson_mut_arr(out.get());
    if (arr) yyjson_mut_doc_set_root(out.get(), arr);

    const std::size_t dir_len = std::strlen(dir);
    while (struct dirent *ent = ::readdir(d.get())) {
        const char *name = ent->d_name;
        if (name[0] == '.') continue;
        char ext[32];
        if (!eb_is_ebook_ext(eb_ext_lower(name, ext, sizeof ext))) continue;
        // The path is joined at its full length: a cut path would name
        // another file, or none.
        const std::size_t name_len = std::strlen(name);
        eb_unique<char> path(static_cast<char *>(std::malloc(dir_len + name_len + 2)));
        if (!path) continue;
        std::memcpy(path.get(), dir, dir_len);
        path.get()[dir_len] = '/';
        std::memcpy(path.get() + dir_len + 1, name, name_len + 1);
        yyjson_mut_val *elem = describe_entry(out.get(), path.get());
        if (elem && arr) yyjson_mut_arr_append(arr, elem);
    }
    d.reset();

    char *text = yyjson_mut_write_opts(out.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr,
                                       nullptr, nullptr);
    if (!text) eb_set_error("json write failed");
    return text;
}
}  // namespace

// ===========================================================================
// Exported functions. No exception may cross the C boundary: the bodies only
// call code that reports failure by result, and each is noexcept.

namespace {
// One book through its reader; the loaded bytes are released before return.
// Result: the reader's result (-1 also for a load failure).
int load_and_parse(const char *path, eb_meta *meta, int want_cover) {
    char *raw = nullptr;
    std::uint64_t len = 0;
    if (eb_read_file(path, &raw, &len) != 0) return -1;
    eb_unique<char> bytes(raw);
    return parse_by_ext(path, bytes.get(), len, meta, want_cover);
}
}  // namespace

extern "C" QUENFOLD_EBOOK_API char *ebook_info(const char *path) noexcept {
    eb_clear_error();
    if (!path) {
        eb_set_error("NULL path");
        return nullptr;
    }
    eb_meta meta;
    eb_meta_init(&meta);
    int rc = load_and_parse(path, &meta, 0);
    char *json = nullptr;
    if (rc == 0 || meta.drm) json = eb_meta_to_json(&meta);
    eb_meta_free(&meta);
    return json;
}

extern "C" QUENFOLD_EBOOK_API int ebook_extract_cover(const char *path,
                                                      const char *out_path) noexcept {
    eb_clear_error();
    if (!path || !out_path) {
        eb_set_error("NULL argument");
        return -1;
    }
    eb_meta meta;
    eb_meta_init(&meta);
    // A DRM-protected book fails here like any reader failure: there is
    // nothing to write for it.
    if (load_and_parse(path, &meta, 1) != 0) {
        eb_meta_free(&meta);
        return -1;
    }
    int rc = write_cover(meta, out_path);
    eb_meta_free(&meta);
    return rc;
}

extern "C" QUENFOLD_EBOOK_API char *ebook_scan_dir(const char *dir) noexcept {
    eb_clear_error();
    if (!dir) {
        eb_set_error("NULL dir");
        return nullptr;
    }
    return scan_dir(dir);
}

extern "C" QUENFOLD_EBOOK_API char *ebook_rename_plan(const char *files_json,
                                                      const char *pattern) noexcept {
    eb_clear_error();
    if (!files_json) {
        eb_set_error("NULL files_json");
        return nullptr;
    }
    return eb_rename_plan_impl(files_json, pattern);
}

extern "C" QUENFOLD_EBOOK_API const char *ebook_last_error(void) noexcept {
    return g_err;
}

extern "C" QUENFOLD_EBOOK_API void ebook_free_string(char *s) noexcept {
    std::free(s);
}
