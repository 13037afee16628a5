// zip.cpp - ZIP members by name over libzip, read in place with size and CRC checks.

#include "io/zip.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <zip.h>

#include "error.h"
#include "heap.h"
#include "io/file.h"
#include "text/ascii.h"

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

static_assert(EB_ZIP_MAX_MEMBER == EB_MAX_FILE, "a member never outgrows a whole book file");

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

// Whole-name equality ignoring the case of ASCII letters only, whatever the
// locale: bytes above 0x7F must match exactly.
bool ascii_iequal(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned char ca = eb_ascii_lower(static_cast<unsigned char>(*a));
        unsigned char cb = eb_ascii_lower(static_cast<unsigned char>(*b));
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
// A header claiming more than max_len is refused before any memory is
// obtained, and no more than the claimed size is ever read.
char *read_member(zip_t *za, zip_uint64_t idx, std::uint64_t *out_len, std::uint64_t max_len) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, idx, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) return nullptr;
    if (st.size > max_len || st.size > EB_ZIP_MAX_MEMBER) return nullptr;
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
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name, std::uint64_t *out_len,
                     std::uint64_t max_len) {
    *out_len = 0;
    zip_ptr za = open_archive(data, len);
    if (!za) {
        eb_set_error("not a valid ZIP archive");
        return nullptr;
    }
    char *block = nullptr;
    zip_int64_t idx = name ? find_member(za.get(), name) : -1;
    if (idx >= 0) block = read_member(za.get(), static_cast<zip_uint64_t>(idx), out_len, max_len);
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
