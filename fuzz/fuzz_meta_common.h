// fuzz_meta_common.h - what the full-record fuzz targets check on every input:
// a result is valid UTF-8, parses as strict JSON and matches the shipped schema;
// a failure says why.
#ifndef QEM_FUZZ_META_COMMON_H
#define QEM_FUZZ_META_COMMON_H

#include <chrono>
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

// The book behind the read callback, answered in pieces of at most step
// bytes (a host reading a socket); with flip set, every other answer has its
// bytes changed (a file rewritten while read).
struct pieces {
    const char *bytes;
    std::size_t size, step;
    bool flip;
    unsigned calls = 0;
};

inline long long read_pieces(void *ctx, unsigned long long off, void *buf, std::size_t len) {
    pieces &p = *static_cast<pieces *>(ctx);
    check(len > 0 && off < p.size && len <= p.size - off);  // never asked outside the book
    std::size_t n = len < p.step ? len : p.step;
    std::memcpy(buf, p.bytes + off, n);
    if (p.flip && ++p.calls % 2 == 0)
        for (std::size_t i = 0; i < n; ++i)
            static_cast<unsigned char *>(buf)[i] ^= 0x5A;
    return static_cast<long long>(n);
}

// The same bytes through the read callback: in pieces, the record from
// memory (want, or a failure when null); with bytes changing between
// answers, a checked record or a failure.
inline void run_reader(const char *bytes, std::size_t size, const char *name, const char *want,
                       qtest::SchemaChecker &schema) {
    const std::size_t step = 1 + (size ? static_cast<unsigned char>(bytes[size / 2]) : 0) * 64;
    for (bool flip : {false, true}) {
        pieces p{bytes, size, step, flip};
        char *got = ebook_metadata_from_reader(read_pieces, &p, size, name);
        if (got) {
            check(utf8_ok(reinterpret_cast<const unsigned char *>(got), std::strlen(got)));
            check(schema.check(got).empty());
        }
        if (!flip) check(!got == !want && (!got || std::strcmp(got, want) == 0));
        ebook_free_string(got);
    }
}

// One full record from the bytes (in a block of exactly their size) under
// name, checked as above, then through the callback. An input that is slow
// to read already (a hostile package document of megabytes) is not read
// twice more, so that the time limit keeps measuring the library.
inline void run_metadata(const std::uint8_t *data, std::size_t size, const char *name) {
    static qtest::SchemaChecker schema(qtest::metadata_schema_path());
    char *bytes = copy_exact(data, size);
    const auto start = std::chrono::steady_clock::now();
    char *json = ebook_metadata_from_memory(bytes, size, name);
    const bool quick = std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
    if (json) {
        const std::size_t n = std::strlen(json);
        check(utf8_ok(reinterpret_cast<const unsigned char *>(json), n));
        check(schema.check(std::string(json, n)).empty());
        check(ebook_last_error()[0] == '\0');
    } else {
        check(ebook_last_error()[0] != '\0');
    }
    if (quick) run_reader(bytes, size, name, json, schema);
    ebook_free_string(json);
    std::free(bytes);
}

}  // namespace qfuzz

#endif
