// heap.h - owners of malloc'd blocks, which the library hands between its layers and to the host.
#ifndef QUENFOLD_HEAP_H
#define QUENFOLD_HEAP_H

#include <cstdlib>
#include <cstring>
#include <memory>

// Strings and blocks are malloc'd and released with free, because the host
// releases returned text with ebook_free_string and yyjson writes with malloc.
struct eb_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T>
using eb_unique = std::unique_ptr<T, eb_free_deleter>;

// Heap copy of s; null for null s or when memory runs out (no message).
inline char *eb_strdup(const char *s) {
    if (!s) return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p) std::memcpy(p, s, n);
    return p;
}

// A block the kernel fills from a file (pread): page-aligned, because the
// kernel's copy into it runs at full speed only when the destination is
// aligned; at malloc's usual 16-byte offset the same reads of a library's
// FictionBooks took a quarter longer. Released with free like any other.
inline void *eb_read_block(std::size_t n) {
    void *p = nullptr;
    return posix_memalign(&p, 4096, n ? n : 1) == 0 ? p : nullptr;
}

#endif  // QUENFOLD_HEAP_H
