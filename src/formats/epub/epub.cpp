// epub.cpp - EPUB reader: container, package document, series and cover.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "error.h"
#include "formats/readers.h"
#include "formats/zip_books.h"
#include "heap.h"
#include "io/source.h"
#include "io/zip.h"
#include "io/zip_archive.h"
#include "record.h"
#include "text/buffer.h"
#include "text/element_ends.h"
#include "text/xml_scan.h"

namespace {

// The package document as a byte range; member texts carry no NUL.
struct doc_range {
    const char *begin;
    const char *end;
};

// Walks the start tags named name through the whole document, each with its
// '<' and the first '>' after it; the walk ends at the document's end or at a
// start tag that is never closed.
class tag_walk {
  public:
    tag_walk(doc_range doc, const char *name) : pos_(doc.begin), end_(doc.end), name_(name) {}

    bool next() {
        tag_ = eb_find_tag(pos_, end_, name_);
        if (!tag_) return false;
        gt_ = static_cast<const char *>(std::memchr(tag_, '>', end_ - tag_));
        if (!gt_) return false;
        pos_ = gt_ + 1;
        return true;
    }

    // Attribute value into out (emptied when absent). Values stay raw.
    void attr(const char *attr_name, char *out, std::size_t size) const {
        out[0] = '\0';
        eb_attr_val(tag_, gt_, attr_name, out, size);
    }

    const char *tag() const { return tag_; }
    const char *gt() const { return gt_; }

  private:
    const char *pos_;
    const char *end_;
    const char *name_;
    const char *tag_ = nullptr;
    const char *gt_ = nullptr;
};

// Texts of the meta elements that the series and cover rules read, as
// eb_tag_text gives them. Every element is found where the rules expect it,
// but a document of many unclosed metas would cost a pass to its end per
// meta, so the ends of all the metas the rules may ask about are found
// together, in one pass, when the first is asked.
class meta_texts {
  public:
    explicit meta_texts(doc_range doc) : doc_(doc) {}

    // Decoded, trimmed text of the meta element whose start tag the walk is
    // on; null or a heap string the caller owns.
    char *text(const tag_walk &w) {
        if (w.gt()[-1] == '/') return eb_strdup("");
        if (!built_) build();
        const char *body = w.gt() + 1;
        auto at = std::lower_bound(bodies_.begin(), bodies_.end(), body);
        if (!usable_ || at == bodies_.end() || *at != body)
            return eb_tag_text(w.tag(), static_cast<std::size_t>(doc_.end - w.tag()), "meta");
        const eb_element_end &e = ends_[static_cast<std::size_t>(at - bodies_.begin())];
        return e.close ? eb_element_text(body, e.content_end) : nullptr;
    }

  private:
    static bool asks_text(const char *property) {
        return !std::strcmp(property, "belongs-to-collection") ||
               !std::strcmp(property, "group-position") || !std::strcmp(property, "cover");
    }

    void build() {
        built_ = true;
        try {
            tag_walk w(doc_, "meta");
            while (w.next()) {
                char property[128];
                w.attr("property", property, sizeof property);
                if (w.gt()[-1] != '/' && asks_text(property)) bodies_.push_back(w.gt() + 1);
            }
            ends_ = eb_element_ends(doc_.begin, doc_.end, "meta", bodies_);
            usable_ = true;
        } catch (const std::bad_alloc &) {
            bodies_.clear();  // each text is then looked up on its own
        }
    }

    doc_range doc_;
    bool built_ = false;
    bool usable_ = false;
    std::vector<const char *> bodies_;
    std::vector<eb_element_end> ends_;
};

// The element text of the first `primary`, else of the first `fallback`.
char *dc_field(doc_range doc, const char *primary, const char *fallback) {
    std::size_t n = static_cast<std::size_t>(doc.end - doc.begin);
    char *t = eb_tag_text(doc.begin, n, primary);
    return t ? t : eb_tag_text(doc.begin, n, fallback);
}

// Series name and position: the calibre form (name/content) and the EPUB 3
// collection form (property and element text) compete by position only; the
// first qualifying meta fixes each field.
void read_series(doc_range doc, meta_texts &texts, eb_meta *meta) {
    tag_walk w(doc, "meta");
    while (w.next()) {
        char name[128], content[256], property[128];
        w.attr("name", name, sizeof name);
        w.attr("content", content, sizeof content);
        w.attr("property", property, sizeof property);
        if (!std::strcmp(name, "calibre:series") && content[0] && !meta->series) {
            meta->series = eb_strdup(content);
        } else if (!std::strcmp(name, "calibre:series_index") && content[0] &&
                   !meta->series_index) {
            meta->series_index = eb_strdup(content);
        } else if (!std::strcmp(property, "belongs-to-collection") && !meta->series) {
            meta->series = texts.text(w);
        } else if (!std::strcmp(property, "group-position") && !meta->series_index) {
            meta->series_index = texts.text(w);
        }
    }
}

// The manifest id of the cover: <meta name="cover" content=ID>, or the text
// of <meta property="cover">; the first such meta ends the search.
void read_cover_id(doc_range doc, meta_texts &texts, char *out, std::size_t size) {
    out[0] = '\0';
    tag_walk w(doc, "meta");
    while (w.next()) {
        char name[128], content[256];
        w.attr("name", name, sizeof name);
        w.attr("content", content, sizeof content);
        if (!std::strcmp(name, "cover") && content[0]) {
            copy_cut(out, size, content);
            return;
        }
        char property[128];
        w.attr("property", property, sizeof property);
        if (!std::strcmp(property, "cover")) {
            eb_unique<char> text(texts.text(w));
            if (text && text.get()[0]) {
                copy_cut(out, size, text.get());
                return;
            }
        }
    }
}

// The href of the cover item into href: the first item named by the cover id
// or carrying "cover-image" among its properties; failing that, the first
// image item with an href. False when the manifest has neither.
bool find_cover_href(doc_range doc, const char *cover_id, char *href, std::size_t size) {
    tag_walk w(doc, "item");
    while (w.next()) {
        char id[128], properties[256];
        w.attr("id", id, sizeof id);
        w.attr("href", href, size);
        w.attr("properties", properties, sizeof properties);
        if ((cover_id[0] && !std::strcmp(cover_id, id)) || std::strstr(properties, "cover-image"))
            return true;
    }
    tag_walk images(doc, "item");
    while (images.next()) {
        char media_type[128];
        images.attr("media-type", media_type, sizeof media_type);
        images.attr("href", href, size);
        if (!std::strncmp(media_type, "image/", 6) && href[0]) return true;
    }
    href[0] = '\0';
    return false;
}

// Member path of a manifest href relative to the package directory dir
// (ending in '/' or empty): "." and ".." segments are folded, runs of '/'
// count as one, at most 64 segments are kept. No percent-decoding: the
// archive is searched for the bytes as written.
void resolve_href(const char *dir, const char *href, char *out, std::size_t size) {
    if (!href[0]) {
        copy_cut(out, size, dir);
        return;
    }
    if (href[0] == '/') {
        copy_cut(out, size, href + 1);
        return;
    }
    char joined[1024];
    std::size_t dn = std::strlen(dir);
    if (dn > sizeof joined - 1) dn = sizeof joined - 1;
    std::memcpy(joined, dir, dn);
    copy_cut(joined + dn, sizeof joined - dn, href);

    constexpr std::size_t kMaxSegments = 64;
    struct segment {
        const char *p;
        std::size_t n;
    } segs[kMaxSegments];
    std::size_t count = 0;
    for (const char *p = joined; *p && count < kMaxSegments;) {
        if (*p == '/') {
            ++p;
            continue;
        }
        std::size_t n = std::strcspn(p, "/");
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            if (count) --count;
        } else if (!(n == 1 && p[0] == '.')) {
            segs[count++] = {p, n};
        }
        p += n;
    }

    std::size_t len = 0;
    for (std::size_t i = 0; i < count && len < size - 1; ++i) {
        if (i && len < size - 1) out[len++] = '/';
        std::size_t n = segs[i].n;
        if (n > size - 1 - len) n = size - 1 - len;
        std::memcpy(out + len, segs[i].p, n);
        len += n;
    }
    out[len] = '\0';
}

// Media type of a cover from its first bytes; the manifest's word is not
// trusted.
const char *cover_mime_of(const unsigned char *b, std::uint64_t n) {
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8) return "image/jpeg";
    if (n >= 8 && b[0] == 0x89 && b[1] == 0x50) return "image/png";
    return "application/octet-stream";
}

// The archive opened and carries no encryption manifest. False with the
// error text set (and drm for a protected book) otherwise.
bool check_archive(const eb_zip_archive &za, eb_meta *meta) {
    if (!za.ok()) {
        eb_set_error("bad zip / not a valid EPUB archive");
        return false;
    }
    // Any member named like an encryption manifest marks the book protected,
    // whatever it lists (font obfuscation included); case matters here.
    if (eb_zip_names_contain(za, "encryption.xml") == 1) {
        meta->drm = 1;
        eb_set_error("DRM protected EPUB (encryption.xml present); will not decrypt");
        return false;
    }
    return true;
}

// The package document's path from META-INF/container.xml into opf_path:
// only the first rootfile counts, whatever its media type. False with the
// error text set when there is none.
bool read_container(const eb_zip_archive &za, char *opf_path, std::size_t size) {
    std::uint64_t clen = 0;
    eb_unique<char> container(
        eb_zip_member(za, "META-INF/container.xml", &clen, EB_ZIP_MAX_MARKUP));
    if (!container) {
        eb_set_error("missing META-INF/container.xml");
        return false;
    }
    const char *cend = container.get() + clen;
    const char *rf = eb_find_tag(container.get(), cend, "rootfile");
    if (!rf) {
        eb_set_error("no rootfile in container.xml");
        return false;
    }
    const char *gt = static_cast<const char *>(std::memchr(rf, '>', cend - rf));
    if (!gt) {
        eb_set_error("malformed rootfile");
        return false;
    }
    if (eb_attr_val(rf, gt, "full-path", opf_path, size) != 0 || !opf_path[0]) {
        eb_set_error("rootfile missing full-path");
        return false;
    }
    return true;
}

// The directory of the package path, with its final '/', or "" at the root:
// the package path is used as written, and its directory anchors the hrefs.
void package_dir(const char *opf_path, char *opf_dir) {
    const char *slash = std::strrchr(opf_path, '/');
    std::size_t dir_len = slash ? static_cast<std::size_t>(slash - opf_path) + 1 : 0;
    std::memcpy(opf_dir, opf_path, dir_len);
    opf_dir[dir_len] = '\0';
}

// Title, author, language and series from the package document.
void read_package(doc_range doc, meta_texts &texts, eb_meta *meta) {
    meta->title = dc_field(doc, "dc:title", "title");
    meta->author = dc_field(doc, "dc:creator", "creator");
    meta->language = dc_field(doc, "dc:language", "language");
    read_series(doc, texts, meta);
}

// Names the cover when the manifest has one, and loads its bytes when
// wanted. A cover that cannot be read is no failure of the book: has_cover
// falls back to 0 and its message is dropped.
void read_cover(const eb_zip_archive &za, doc_range doc, meta_texts &texts, const char *opf_dir,
                eb_meta *meta, int want_cover) {
    char cover_id[128];
    read_cover_id(doc, texts, cover_id, sizeof cover_id);
    char href[512];
    if (!find_cover_href(doc, cover_id, href, sizeof href)) return;
    meta->has_cover = 1;
    if (!want_cover) return;  // named, whether or not the member exists

    char member[1024];
    resolve_href(opf_dir, href, member, sizeof member);
    std::uint64_t cover_len = 0;
    eb_unique<char> cover(eb_zip_member(za, member, &cover_len));
    if (!cover || cover_len == 0) {
        eb_clear_error();
        meta->has_cover = 0;
        return;
    }
    meta->cover_len = cover_len;
    meta->cover_data = reinterpret_cast<unsigned char *>(cover.release());
    copy_cut(meta->cover_mime, sizeof meta->cover_mime,
             cover_mime_of(meta->cover_data, meta->cover_len));
}

int read_epub(const eb_zip_archive &za, eb_meta *meta, int want_cover) {
    if (!check_archive(za, meta)) return -1;
    eb_epub_prefetch(za);

    char opf_path[512];
    if (!read_container(za, opf_path, sizeof opf_path)) return -1;
    char opf_dir[512];
    package_dir(opf_path, opf_dir);

    std::uint64_t olen = 0;
    eb_unique<char> opf(eb_zip_member(za, opf_path, &olen, EB_ZIP_MAX_MARKUP));
    if (!opf) return -1;  // "missing zip entry: <package path>" stays
    const doc_range doc{opf.get(), opf.get() + olen};

    meta_texts texts(doc);
    read_package(doc, texts, meta);
    read_cover(za, doc, texts, opf_dir, meta, want_cover);
    return 0;
}

}  // namespace

// The archive is opened once; every member comes through that one handle.
// A failure that comes from the book changing under the reader says so
// instead of blaming the archive.
int eb_parse_epub_source(const eb_source &src, eb_meta *meta, int want_cover) {
    meta->format = eb_strdup("epub");
    eb_zip_archive za(src);
    int rc = read_epub(za, meta, want_cover);
    if (za.source_failed()) {
        src.report_short_read();
        return -1;
    }
    return rc;
}

int eb_parse_epub(const char *data, std::uint64_t len, eb_meta *meta, int want_cover) {
    eb_source src(data, len);
    return eb_parse_epub_source(src, meta, want_cover);
}
