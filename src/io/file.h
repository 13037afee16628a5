// file.h - a book read whole: into a new block, or into the calling thread's reusable block.
#ifndef QUENFOLD_IO_FILE_H
#define QUENFOLD_IO_FILE_H

#include <cstdint>

#include "io/source.h"

constexpr std::uint64_t EB_MAX_FILE = 536870912;  // 512 MiB

// Loads a whole regular file into one heap block with a NUL after the last
// byte, and tells which file it was when id is given. 0, or -1 with the error
// text set (out-parameters null and 0).
int eb_read_file(const char *path, char **out, std::uint64_t *out_len, eb_file_id *id = nullptr);

// A whole book (at most 512 MiB) with a NUL after its last byte, read in one
// request into a block that the calling thread keeps for its next book, so a
// host calling book after book gets no fresh large allocation each time.
// While one is alive a second one on the same thread gets a block of its own.
class eb_whole_book {
  public:
    // ok() false with the error text set ("file too large: %s",
    // "out of memory", "short read: %s").
    explicit eb_whole_book(const eb_source &src);
    ~eb_whole_book();
    eb_whole_book(const eb_whole_book &) = delete;
    eb_whole_book &operator=(const eb_whole_book &) = delete;

    bool ok() const { return data_ != nullptr; }
    const char *data() const { return data_; }
    std::uint64_t size() const { return size_; }

  private:
    void release();

    char *data_ = nullptr;
    std::uint64_t size_ = 0;
    bool own_ = false;  // a block of its own, not the thread's
};

// While one is alive, the thread keeps its block whatever the size of the
// book read into it: a writer reads one book whole several times (the old
// record, the edit, the new book's record) without a fresh block each time.
class eb_whole_book_hold {
  public:
    eb_whole_book_hold();
    ~eb_whole_book_hold();
    eb_whole_book_hold(const eb_whole_book_hold &) = delete;
    eb_whole_book_hold &operator=(const eb_whole_book_hold &) = delete;
};

#endif  // QUENFOLD_IO_FILE_H
