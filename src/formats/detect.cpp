// detect.cpp - reader choice by extension and content, and one book file through its reader.

#include "formats/detect.h"

#include <cstring>

#include "error.h"
#include "formats/readers.h"
#include "heap.h"
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

int load_and_parse(const char *path, eb_meta *meta, int want_cover, eb_file_id *id) {
    char *raw = nullptr;
    std::uint64_t len = 0;
    if (eb_read_file(path, &raw, &len, id) != 0) return -1;
    eb_unique<char> bytes(raw);
    return parse_by_ext(path, bytes.get(), len, meta, want_cover);
}
