// quenfold_ebook.cpp - the library frame: exported functions, per-thread error
// text, whole-file loading, reader dispatch and the book record's JSON form.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <yyjson.h>

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

void eb_clear_error() { g_err[0] = '\0'; }

// ===========================================================================
// Book record

void eb_meta_init(eb_meta *m) { std::memset(m, 0, sizeof *m); }

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

inline const char *or_empty(const char *s) { return s ? s : ""; }
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
    char *text = yyjson_mut_write_opts(d, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr, nullptr,
                                       nullptr);
    if (!text) {
        eb_set_error("json write failed");
        return nullptr;
    }
    return text;
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

extern "C" QUENFOLD_EBOOK_API const char *ebook_last_error(void) noexcept { return g_err; }

extern "C" QUENFOLD_EBOOK_API void ebook_free_string(char *s) noexcept { std::free(s); }
