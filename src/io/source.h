// source.h - a book's bytes behind positioned reads: an open file (pread) or a block in memory.
#ifndef QUENFOLD_IO_SOURCE_H
#define QUENFOLD_IO_SOURCE_H

#include <cstddef>
#include <cstdint>

// Which file a path led to: device and inode of the opened file.
struct eb_file_id {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const eb_file_id &o) const { return dev == o.dev && ino == o.ino; }
};

// Readers ask a source for byte ranges instead of getting the whole book, so a
// call costs what its metadata needs, not what the book weighs. A file is read
// with pread on one descriptor, never mapped: a book truncated by another
// process then gives a short read, not a SIGBUS in the host. The size is the
// one the file had when it was opened; every bound is checked against it.
// One source belongs to one call on one thread.
class eb_source {
  public:
    eb_source() = default;
    // Bytes the caller holds and keeps alive for the source's life.
    eb_source(const void *data, std::uint64_t len);
    ~eb_source();
    eb_source(const eb_source &) = delete;
    eb_source &operator=(const eb_source &) = delete;

    // Opens a regular file without blocking. False with the error text set
    // ("cannot open file: %s (%s)", "not a regular file: %s").
    bool open(const char *path);

    std::uint64_t size() const { return size_; }
    // The file opened (zero for a source in memory), taken from the same
    // fstat as the size, so it names the file actually read.
    const eb_file_id &id() const { return id_; }
    // The path given to open, or "<memory>"; what messages name.
    const char *path() const { return path_; }
    // The bytes themselves for a source in memory; null for a file.
    const unsigned char *memory() const { return mem_; }

    // Exactly n bytes at off into buf. False when the range lies outside the
    // size or the file yields fewer bytes (it shrank, or the disk failed);
    // the source then remembers that it failed.
    bool read(std::uint64_t off, void *buf, std::size_t n) const;
    bool failed() const { return failed_; }
    // Sets "short read: %s" naming the book.
    void report_short_read() const;

  private:
    int fd_ = -1;
    const unsigned char *mem_ = nullptr;
    std::uint64_t size_ = 0;
    eb_file_id id_;
    const char *path_ = "";
    mutable bool failed_ = false;
};

#endif  // QUENFOLD_IO_SOURCE_H
