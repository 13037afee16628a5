// detect.cpp - the book info's reader choice: by extension through the format table, else by
// content.

#include "formats/detect.h"

#include <cstring>

#include "error.h"
#include "formats/mobi/palm.h"
#include "formats/readers.h"
#include "formats/registry.h"
#include "io/file.h"
#include "text/ascii.h"

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
        out[n] = static_cast<char>(eb_ascii_lower(static_cast<unsigned char>(ext[n])));
        ++n;
    }
    out[n] = '\0';
    return out;
}

int eb_is_ebook_ext(const char *ext) {
    return eb_format_for_info(ext) != nullptr;
}

namespace {
// XML-looking start: "<?xml", or a '<' among the first 64 bytes.
bool looks_xmlish(const char *data, std::uint64_t len) {
    if (len >= 5 && std::memcmp(data, "<?xml", 5) == 0) return true;
    std::uint64_t n = len < 64 ? len : 64;
    return std::memchr(data, '<', n) != nullptr;
}

// The root element's name before the first NUL byte of a NUL-terminated text.
bool has_fb2_root(const char *text) {
    return std::strstr(text, "<FictionBook") || std::strstr(text, "<fictionbook");
}
}  // namespace

int parse_by_ext(const char *path, const char *data, std::uint64_t len, eb_meta *meta,
                 int want_cover) {
    eb_source src(data, len);
    return parse_source(path, src, meta, want_cover);
}

// The extension decides when the format table names a reader of the book
// info for it, and that reader gets no second chance under another format.
// Otherwise the content tests look at the first 68 bytes; only a text that
// looks like XML is read whole, to search it for the FictionBook root
// element.
int parse_source(const char *path, const eb_source &src, eb_meta *meta, int want_cover) {
    char ext[32];
    eb_ext_lower(path, ext, sizeof ext);
    if (const eb_format *f = eb_format_for_info(ext)) {
        eb_book book(src, path, path);
        if (!f->vet || f->vet(book)) return f->info(src, meta, want_cover);
        if (src.failed()) {
            src.report_short_read();
            return -1;
        }
        eb_set_error("unsupported ebook format: %s", path);
        return -1;
    }

    const std::uint64_t len = src.size();
    char head[69] = {};
    const std::uint64_t n = len < 68 ? len : 68;
    if (!src.read(0, head, n)) {
        src.report_short_read();
        return -1;
    }
    if (len >= 4) {
        if (head[0] == 'P' && head[1] == 'K') return eb_parse_epub_source(src, meta, want_cover);
        if (len > 4) {
            if (looks_xmlish(head, n)) {
                eb_whole_book book(src);
                if (!book.ok()) return -1;
                if (has_fb2_root(book.data()))
                    return eb_parse_fb2(book.data(), book.size(), meta, want_cover);
            }
            if (eb_palm_kind_of(std::string_view(head, n)) == eb_palm_kind::mobi)
                return eb_parse_mobi_source(src, meta, want_cover);
        }
    }
    eb_set_error("unsupported ebook format: %s", path);
    return -1;
}

int load_and_parse(const char *path, eb_meta *meta, int want_cover, eb_file_id *id) {
    eb_source src;
    if (!src.open(path)) return -1;
    if (id) *id = src.id();
    return parse_source(path, src, meta, want_cover);
}
