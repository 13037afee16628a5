// out_file.h - the new book's bytes into the writer's output file: buffered, and old ranges copied.
#ifndef QUENFOLD_IO_OUT_FILE_H
#define QUENFOLD_IO_OUT_FILE_H

#include <cstdint>
#include <memory>
#include <string_view>

#include "io/source.h"

// One output file written front to back. Short writes and interruptions are
// retried; the first failure is kept, later calls do nothing, and every call
// after it returns false with the error text set once:
// "cannot write the new book (%s)" with the system's words (No space left
// on device, Read-only file system...).
class eb_out_file {
  public:
    explicit eb_out_file(int fd);
    ~eb_out_file();
    eb_out_file(const eb_out_file &) = delete;
    eb_out_file &operator=(const eb_out_file &) = delete;

    bool put(std::string_view bytes);
    // n bytes of the book at off, unchanged. Long ranges of a book on disk go
    // from file to file inside the kernel (copy_file_range), never through
    // this process's memory. "short read: %s" when the book fell short.
    bool copy(const eb_source &book, std::uint64_t off, std::uint64_t n);
    // Everything buffered reaches the file (not yet the disk: the engine syncs).
    bool flush();
    // Bytes written so far, buffered ones included: the offset of the next.
    std::uint64_t offset() const { return written_ + used_; }
    bool ok() const { return !failed_; }

  private:
    bool write_through(const char *p, std::size_t n);
    bool fail(int err);

    int fd_;
    std::unique_ptr<char[]> buf_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

#endif  // QUENFOLD_IO_OUT_FILE_H
