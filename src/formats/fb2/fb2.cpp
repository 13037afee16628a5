// fb2.cpp - FictionBook 2 reader: metadata from the title-info section and
// the cover image from its Base64 binary element.

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "error.h"
#include "formats/readers.h"
#include "heap.h"
#include "io/file.h"
#include "record.h"
#include "text/base64.h"
#include "text/buffer.h"
#include "text/xml_scan.h"

namespace {

// Bytes of a range as one span: [start, end).
struct span {
    const char *start;
    const char *end;
};

// Releases a buffer's block unless a user took it over.
struct buf_owner {
    eb_buf b;
    buf_owner() { eb_buf_init(&b); }
    ~buf_owner() { eb_buf_free(&b); }
    buf_owner(const buf_owner &) = delete;
    buf_owner &operator=(const buf_owner &) = delete;
};

const char *find_gt(const char *p, const char *end) {
    return p < end ? static_cast<const char *>(std::memchr(p, '>', end - p)) : nullptr;
}

// The lowercase title-info section: from the '<' of its first start tag to
// just past the matching end tag; without that end tag (closed false) it
// runs to the end of the document. Found once per book: every field reads
// it, and finding its end is a pass over the document.
struct title_info {
    bool found = false;
    bool closed = false;
    span sec{nullptr, nullptr};
};

title_info find_title_info(const char *data, std::uint64_t len) {
    title_info t;
    const char *end = data + len;
    const char *s = eb_find_tag(data, end, "title-info");
    if (!s) return t;
    const char *e = eb_find_close(s + 1, end, "title-info");
    t.found = true;
    t.closed = e != nullptr;
    t.sec = {s, e ? e : end};
    return t;
}

// Text of the first name element of the title-info section; null when there
// is no section or no such element.
char *title_info_field(const title_info &ti, const char *name) {
    if (!ti.found) return nullptr;
    return eb_tag_text(ti.sec.start, static_cast<std::size_t>(ti.sec.end - ti.sec.start), name);
}

// The section that holds the author. Some writers capitalise the element, so
// "Title-info" is accepted here when no lowercase one exists. Either way the
// section ends at the matching lowercase end tag, else at the capitalised
// one, else at the end of the document.
bool author_section(const char *data, std::uint64_t len, const title_info &ti, span *sec) {
    const char *end = data + len;
    const char *s = ti.found ? ti.sec.start : eb_find_tag(data, end, "Title-info");
    if (!s) return false;
    const char *e = ti.found && ti.closed ? ti.sec.end : nullptr;
    if (!ti.found) e = eb_find_close(s + 1, end, "title-info");
    if (!e) e = eb_find_close(s + 1, end, "Title-info");
    *sec = {s, e ? e : end};
    return true;
}

// The first author's name: first, middle and last name joined by single
// spaces, or the nickname when none of those is given. Null when nothing
// usable is there.
char *first_author(const char *data, std::uint64_t len, const title_info &ti) {
    span sec;
    if (!author_section(data, len, ti, &sec)) return nullptr;
    const char *a = eb_find_tag(sec.start, sec.end, "author");
    if (!a) return nullptr;
    const char *a_end = eb_find_close(a + 1, sec.end, "author");
    if (!a_end) a_end = sec.end;
    const std::size_t a_len = static_cast<std::size_t>(a_end - a);

    buf_owner name;
    for (const char *part : {"first-name", "middle-name", "last-name"}) {
        eb_unique<char> text(eb_tag_text(a, a_len, part));
        if (!text || !*text) continue;
        if (name.b.len) eb_buf_append(&name.b, " ", 1);
        eb_buf_append_cstr(&name.b, text.get());
    }
    if (name.b.len == 0) {
        eb_unique<char> nick(eb_tag_text(a, a_len, "nickname"));
        if (nick) eb_buf_append_cstr(&name.b, nick.get());
    }
    char *text = name.b.data;
    name.b.data = nullptr;  // handed over; the owner now releases nothing
    return text;
}

// Series name and position from the first sequence start tag: inside the
// title-info section when there is one, else anywhere in the document.
void read_series(const char *data, std::uint64_t len, const title_info &ti, eb_meta *meta) {
    span range{data, data + len};
    if (ti.found) range = ti.sec;
    const char *seq = eb_find_tag(range.start, range.end, "sequence");
    if (!seq) return;
    const char *gt = find_gt(seq, range.end);
    if (!gt) return;
    char name[256];
    char number[64];
    if (eb_attr_val(seq, gt, "name", name, sizeof name) == 0 && name[0])
        meta->series = eb_strdup(name);
    if (eb_attr_val(seq, gt, "number", number, sizeof number) == 0 && number[0])
        meta->series_index = eb_strdup(number);
}

// The cover id named by the coverpage image of the title-info section, into
// id (256 bytes). False when any piece is missing or the href is empty.
bool cover_id(const char *data, std::uint64_t len, const title_info &ti, char *id,
              std::size_t id_size) {
    const char *end = data + len;
    if (!ti.found || !ti.closed) return false;
    const char *cp = eb_find_tag(ti.sec.start, ti.sec.end, "coverpage");
    if (!cp) return false;
    const char *cp_end = eb_find_close(cp + 1, end, "coverpage");
    if (!cp_end) cp_end = end;
    const char *img = eb_find_tag(cp, cp_end, "image");
    if (!img) return false;
    const char *gt = find_gt(img, cp_end);
    if (!gt) return false;
    char href[256];
    bool found = false;
    for (const char *attr : {"l:href", "xlink:href", "href"}) {
        if (eb_attr_val(img, gt, attr, href, sizeof href) == 0) {
            found = true;
            break;
        }
    }
    if (!found || !href[0]) return false;
    const char *ref = href[0] == '#' ? href + 1 : href;
    copy_cut(id, id_size, ref);
    return true;
}

// Loads the bytes of the first binary element whose id is cover. Leaves
// has_cover at 1 when no such element (or its end) is found, and sets it to
// 0 when the element holds no Base64 data.
void load_cover(const char *data, std::uint64_t len, const char *cover, eb_meta *meta) {
    const char *end = data + len;
    for (const char *p = data;;) {
        const char *b = eb_find_tag(p, end, "binary");
        if (!b) return;
        const char *gt = find_gt(b, end);
        if (!gt) return;
        char id[256];
        char type[128];
        eb_attr_val(b, gt, "id", id, sizeof id);
        eb_attr_val(b, gt, "content-type", type, sizeof type);
        p = gt + 1;
        if (std::strcmp(id, cover) != 0) continue;

        const char *close = eb_find_close(b + 1, end, "binary");
        if (!close) return;
        // Content: after the start tag's '>' up to the '<' of the end tag. A
        // broken start tag can put that '<' before the '>'; then it is empty.
        const char *body = gt + 1;
        const char *body_end = close - 1;
        while (body_end > body && *body_end != '<')
            --body_end;
        std::uint64_t n = 0;
        unsigned char *bytes = eb_b64_decode(
            body, static_cast<std::size_t>(body_end > body ? body_end - body : 0), &n);
        if (!bytes || n == 0) {
            std::free(bytes);
            meta->has_cover = 0;
            return;
        }
        meta->cover_data = bytes;
        meta->cover_len = n;
        const char *mime = type[0]                                          ? type
                           : n >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 ? "image/jpeg"
                                                                            : "image/png";
        copy_cut(meta->cover_mime, sizeof meta->cover_mime, mime);
        return;
    }
}

}  // namespace

// Fills meta from one FictionBook 2 document (data holds len bytes and a
// NUL). -1 only for an encrypted document (drm set, message set); otherwise
// 0, whatever was found. Cover bytes are loaded only when want_cover is set.
int eb_parse_fb2(const char *data, std::uint64_t len, eb_meta *meta, int want_cover) {
    meta->format = eb_strdup("fb2");

    // Protected documents are marked by an encryption element or namespace;
    // the search stops at the first NUL like any text search over the file.
    if (std::strstr(data, "<encrypted") || std::strstr(data, "FictionBookEncryption")) {
        meta->drm = 1;
        eb_set_error("DRM/encrypted FB2 detected; will not decrypt");
        return -1;
    }

    const title_info ti = find_title_info(data, len);
    meta->title = title_info_field(ti, "book-title");
    meta->author = first_author(data, len, ti);
    meta->language = title_info_field(ti, "lang");
    read_series(data, len, ti, meta);

    char cover[256];
    if (!cover_id(data, len, ti, cover, sizeof cover)) return 0;
    meta->has_cover = 1;
    if (!want_cover) return 0;
    load_cover(data, len, cover, meta);
    return 0;
}

int eb_parse_fb2_source(const eb_source &src, eb_meta *meta, int want_cover) {
    eb_whole_book book(src);
    if (!book.ok()) return -1;
    return eb_parse_fb2(book.data(), book.size(), meta, want_cover);
}
