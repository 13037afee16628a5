// fuzz_common.h - what the fuzz targets share: exact-size copies of the input
// and the single-book path of one reader.
#ifndef QEM_FUZZ_COMMON_H
#define QEM_FUZZ_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "error.h"
#include "formats/readers.h"
#include "quenfold_ebook.h"
#include "record.h"

namespace qfuzz {

// Stops the run when a property that must hold does not: libFuzzer reports
// the trap as a crash with the input that caused it.
inline void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The bytes in a heap block of exactly n bytes plus extra zero bytes, so that
// AddressSanitizer flags the first read past them (the readers want one NUL
// after a loaded file; the scanner's ranges get none).
inline char *copy_exact(const std::uint8_t *data, std::size_t n, std::size_t extra = 0) {
    char *p = static_cast<char *>(std::malloc(n + extra ? n + extra : 1));
    if (!p) std::abort();
    if (n) std::memcpy(p, data, n);
    if (extra) std::memset(p + n, 0, extra);
    return p;
}

using reader_fn = int (*)(const char *, std::uint64_t, eb_meta *, int);

// One reader over the bytes as the library hands it a loaded file (a NUL
// after the last byte), with and without the cover, and the record rendered
// to JSON as ebook_info does.
inline void run_reader(reader_fn reader, const std::uint8_t *data, std::size_t size) {
    char *bytes = copy_exact(data, size, 1);
    for (int want_cover = 0; want_cover <= 1; ++want_cover) {
        eb_meta meta;
        eb_meta_init(&meta);
        eb_clear_error();
        int rc = reader(bytes, size, &meta, want_cover);
        check(rc == 0 || rc == -1);
        // A failure always says why; a protected book says it is one.
        const char *err = ebook_last_error();
        check(rc == 0 || err[0] != '\0');
        if (meta.drm) {
            static const char kDrm[] = "; will not decrypt";
            const std::size_t n = std::strlen(err);
            check(rc == -1 && n >= sizeof kDrm - 1 &&
                  std::strcmp(err + n - (sizeof kDrm - 1), kDrm) == 0);
        }
        // Cover bytes only when asked for, and a block always has its length.
        check(want_cover || meta.cover_data == nullptr);
        check((meta.cover_data == nullptr) == (meta.cover_len == 0));
        check(std::memchr(meta.cover_mime, '\0', sizeof meta.cover_mime) != nullptr);
        if (rc == 0 || meta.drm) {
            char *json = eb_meta_to_json(&meta);
            check(json != nullptr);
            yyjson_doc *doc =
                yyjson_read(json, std::strlen(json), YYJSON_READ_ALLOW_INVALID_UNICODE);
            check(doc != nullptr && yyjson_is_obj(yyjson_doc_get_root(doc)));
            yyjson_doc_free(doc);
            std::free(json);
        }
        eb_meta_free(&meta);
    }
    std::free(bytes);
}

}  // namespace qfuzz

#endif
