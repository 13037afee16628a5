// file.cpp - reading a book whole, NUL-terminated, within 512 MiB, into a new or a reused block.

#include "io/file.h"

#include <cstdlib>

#include "error.h"
#include "heap.h"

namespace {

// What a thread keeps between books: a block big enough for most books, not
// one huge book's worth for the thread's whole life.
constexpr std::uint64_t kKeepAtMost = 8u << 20;

struct thread_block {
    char *data = nullptr;
    std::uint64_t cap = 0;
    bool busy = false;
    int held = 0;  // eb_whole_book_hold objects alive on the thread
    ~thread_block() { std::free(data); }
};
thread_local thread_block t_block;

// size bytes of src and a NUL into block (room for size + 1 bytes).
bool fill(const eb_source &src, char *block, std::uint64_t size) {
    if (!src.read(0, block, size)) {
        src.report_short_read();
        return false;
    }
    block[size] = '\0';
    return true;
}

}  // namespace

int eb_read_file(const char *path, char **out, std::uint64_t *out_len, eb_file_id *id) {
    *out = nullptr;
    *out_len = 0;
    eb_source src;
    if (!src.open(path)) return -1;
    if (id) *id = src.id();
    const std::uint64_t size = src.size();
    if (size > EB_MAX_FILE) {
        eb_set_error("file too large: %s", path);
        return -1;
    }
    eb_unique<char> block(static_cast<char *>(eb_read_block(size + 1)));
    if (!block) {
        eb_set_error("out of memory");
        return -1;
    }
    if (!fill(src, block.get(), size)) return -1;
    *out = block.release();
    *out_len = size;
    return 0;
}

eb_whole_book::eb_whole_book(const eb_source &src) {
    const std::uint64_t size = src.size();
    if (size > EB_MAX_FILE) {
        eb_set_error("file too large: %s", src.path());
        return;
    }
    char *block = nullptr;
    if (!t_block.busy) {
        if (t_block.cap < size + 1) {
            // Grown to the book's size, not beyond: realloc would copy the
            // old bytes for nothing.
            std::free(t_block.data);
            t_block.data = static_cast<char *>(eb_read_block(size + 1));
            t_block.cap = t_block.data ? size + 1 : 0;
        }
        block = t_block.data;
        if (block) t_block.busy = true;
    } else {
        block = static_cast<char *>(eb_read_block(size + 1));
        own_ = block != nullptr;
    }
    if (!block) {
        eb_set_error("out of memory");
        return;
    }
    data_ = block;
    size_ = size;
    if (!fill(src, block, size)) release();
}

eb_whole_book::~eb_whole_book() {
    release();
}

// Gives the block back: a block of its own is freed; the thread's block is
// kept for the next book unless it grew past what a thread keeps.
void eb_whole_book::release() {
    if (!data_) return;
    if (own_) {
        std::free(data_);
    } else {
        t_block.busy = false;
        if (t_block.cap > kKeepAtMost && t_block.held == 0) {
            std::free(t_block.data);
            t_block.data = nullptr;
            t_block.cap = 0;
        }
    }
    data_ = nullptr;
    size_ = 0;
    own_ = false;
}

eb_whole_book_hold::eb_whole_book_hold() {
    ++t_block.held;
}

eb_whole_book_hold::~eb_whole_book_hold() {
    if (--t_block.held > 0 || t_block.busy || t_block.cap <= kKeepAtMost) return;
    std::free(t_block.data);
    t_block.data = nullptr;
    t_block.cap = 0;
}
