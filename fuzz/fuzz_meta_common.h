// fuzz_meta_common.h - what the full-record fuzz targets check on every input:
// a result is valid UTF-8, parses as strict JSON and matches the shipped schema;
// a failure says why.
#ifndef QEM_FUZZ_META_COMMON_H
#define QEM_FUZZ_META_COMMON_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "quenfold_ebook.h"
#include "schema_check.h"

namespace qfuzz {

// Well-formed UTF-8, checked here on its own rather than by the library's
// decoder, so that a fault there cannot hide itself.
inline bool utf8_ok(const unsigned char *s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        if (!len || i + len > n) return false;
        std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        static const std::uint32_t min_cp[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < min_cp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

// One full record from the bytes (in a block of exactly their size) under
// name, checked as above.
inline void run_metadata(const std::uint8_t *data, std::size_t size, const char *name) {
    static qtest::SchemaChecker schema(qtest::metadata_schema_path());
    char *bytes = copy_exact(data, size);
    char *json = ebook_metadata_from_memory(bytes, size, name);
    if (json) {
        const std::size_t n = std::strlen(json);
        check(utf8_ok(reinterpret_cast<const unsigned char *>(json), n));
        check(schema.check(std::string(json, n)).empty());
        check(ebook_last_error()[0] == '\0');
    } else {
        check(ebook_last_error()[0] != '\0');
    }
    ebook_free_string(json);
    std::free(bytes);
}

}  // namespace qfuzz

#endif
