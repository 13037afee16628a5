// heap.h - owners of malloc'd blocks, which the library hands between its layers and to the host.
#ifndef QUENFOLD_HEAP_H
#define QUENFOLD_HEAP_H

#include <cstdlib>
#include <memory>

// Strings and blocks are malloc'd and released with free, because the host
// releases returned text with ebook_free_string and yyjson writes with malloc.
struct eb_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T>
using eb_unique = std::unique_ptr<T, eb_free_deleter>;

#endif  // QUENFOLD_HEAP_H
