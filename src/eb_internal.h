// eb_internal.h - declarations shared by the library's sources and its tests.
//
// Everything here is internal: the shared library exports only the six
// functions of quenfold_ebook.h. Plain functions over plain records; strings
// and blocks are malloc'd and released with free, because the host releases
// returned text with ebook_free_string and yyjson writes with malloc.
#ifndef QUENFOLD_EB_INTERNAL_H
#define QUENFOLD_EB_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "quenfold_ebook.h"

#if defined(__GNUC__)
#define EB_PRINTF(fmt_idx, first_arg) __attribute__((format(printf, fmt_idx, first_arg)))
#else
#define EB_PRINTF(fmt_idx, first_arg)
#endif

// ---------------------------------------------------------------------------
// Ownership helpers for malloc'd blocks and C handles.

struct eb_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T>
using eb_unique = std::unique_ptr<T, eb_free_deleter>;

// ---------------------------------------------------------------------------
// Error text: 512 bytes per thread, the last message formatted on that thread.

constexpr std::size_t EB_ERR_SIZE = 512;

// Formats into the calling thread's error text with snprintf rules (cut after
// 511 bytes). fmt is always a fixed string; outside data enters through %s/%u.
void eb_set_error(const char *fmt, ...) EB_PRINTF(1, 2);
// Empties the calling thread's error text (drops a tolerated step's message).
void eb_clear_error();

// ---------------------------------------------------------------------------
// Book record.

struct eb_meta {
    char *title;
    char *author;
    char *language;
    char *series;
    char *series_index;
    char *asin;
    char *format;
    int has_cover;
    int drm;
    unsigned char *cover_data;
    std::uint64_t cover_len;
    char cover_mime[64];
};

void eb_meta_init(eb_meta *m);
// Releases every owned string and the cover block, then zeroes the record.
void eb_meta_free(eb_meta *m);
// Heap copy of s; null for null s or when memory runs out (no message).
char *eb_strdup(const char *s);
// The book JSON object as a new heap string, or null with the error text set.
char *eb_meta_to_json(const eb_meta *m);

// ---------------------------------------------------------------------------
// Loading and dispatch.

constexpr std::uint64_t EB_MAX_FILE = 536870912;  // 512 MiB

// Loads a whole regular file into one heap block with a NUL after the last
// byte. 0, or -1 with the error text set (out-parameters null and 0).
int eb_read_file(const char *path, char **out, std::uint64_t *out_len);
// Lower-cased extension of path into out (at most out_size - 1 bytes).
const char *eb_ext_lower(const char *path, char *out, std::size_t out_size);
// 1 for "epub", "fb2", "mobi", "azw", "azw3"; else 0.
int eb_is_ebook_ext(const char *ext);
// Chooses a reader by extension, else by content, and runs it.
int parse_by_ext(const char *path, const char *data, std::uint64_t len, eb_meta *meta,
                 int want_cover);

// ---------------------------------------------------------------------------
// Readers. data holds len bytes followed by one NUL byte; meta comes zeroed.
// Result 0, or -1 with the error text set (drm set for protected books).

int eb_parse_mobi(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);
int eb_parse_fb2(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);
int eb_parse_epub(const char *data, std::uint64_t len, eb_meta *meta, int want_cover);

// ---------------------------------------------------------------------------
// Growable NUL-terminated byte buffer: 256 bytes first, then doubling.

struct eb_buf {
    char *data;
    std::uint64_t len;
    std::uint64_t cap;
};

void eb_buf_init(eb_buf *b);
void eb_buf_free(eb_buf *b);
void eb_buf_clear(eb_buf *b);
int eb_buf_reserve(eb_buf *b, std::uint64_t need);
// The capacity a buffer of capacity cap grows to when it must hold need bytes.
std::uint64_t eb_buf_next_cap(std::uint64_t cap, std::uint64_t need);
int eb_buf_append(eb_buf *b, const void *bytes, std::uint64_t n);
int eb_buf_append_cstr(eb_buf *b, const char *s);
int eb_buf_printf(eb_buf *b, const char *fmt, ...) EB_PRINTF(2, 3);

// ---------------------------------------------------------------------------
// Tag scanner over byte ranges [start, end) that need not be NUL-terminated.

const char *eb_find_tag(const char *start, const char *end, const char *name);
const char *eb_find_close(const char *start, const char *end, const char *name);
int eb_attr_val(const char *tag_start, const char *tag_end, const char *name, char *out,
                std::size_t out_size);
char *eb_tag_text(const char *text, std::size_t len, const char *name);
void eb_xml_decode_entities(const char *text, std::size_t len, eb_buf *out);

// Base64 decoding (FB2 images): never fails on malformed input; null only
// when memory runs out (count 0).
unsigned char *eb_b64_decode(const char *src, std::size_t len, std::uint64_t *out_len);

// ---------------------------------------------------------------------------
// ZIP member access over the caller's bytes (no copy, no state between calls).

int eb_zip_ok(const void *data, std::uint64_t len);
// A member's bytes as a new malloc block of exactly its length (no NUL added);
// null with the length 0 and the error text set on any failure.
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name, std::uint64_t *out_len);
// 1 when some member's raw stored name, cut to 511 bytes, contains needle;
// 0 when none does; -1 when the archive does not open.
int eb_zip_name_contains(const void *data, std::uint64_t len, const char *needle);

// ---------------------------------------------------------------------------
// File names from patterns, and the rename plan.

extern const char def_pattern[];

void sanitize_to(char *dst, std::size_t cap, const char *src);
void basename_ext(const char *path, char *base, char *ext);
void build_name(const char *pattern, const char *author, const char *series, const char *idx,
                const char *title, char *out);
char *eb_rename_plan_impl(const char *files_json, const char *pattern);

#endif  // QUENFOLD_EB_INTERNAL_H
