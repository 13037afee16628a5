// source.h - a book's bytes behind positioned reads: an open file (pread), a block in memory, or a
// host's read callback.
#ifndef QUENFOLD_IO_SOURCE_H
#define QUENFOLD_IO_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>

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
// A host's callback (a book behind HTTP or in an object store) is asked for
// as few, as large ranges as the readers allow: a small read fetches a whole
// block around it, which the next small reads nearby are served from. What a
// callback answers is never trusted: a result above what was asked or below
// zero is a failure, fewer bytes than asked are asked for again, and no
// answer moves a copy outside the range the reader asked for.
// One source belongs to one call on one thread.
class eb_source {
  public:
    // The C interface's read callback: up to len bytes at offset into buf;
    // the bytes given, 0 at the end, -1 on failure.
    using callback = long long (*)(void *ctx, unsigned long long offset, void *buf,
                                   std::size_t len);
    // Bytes a callback is asked for at least (as far as the book reaches):
    // the first read of a Mobipocket book takes this much, and so does the
    // first byte of its cover.
    static constexpr std::size_t kBlock = 16 * 1024;

    eb_source() = default;
    // Bytes the caller holds and keeps alive for the source's life.
    eb_source(const void *data, std::uint64_t len);
    // size bytes behind the host's callback; name (may be null) is what
    // messages call the book, "<reader>" without it.
    eb_source(callback read, void *ctx, std::uint64_t size, const char *name);
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
    // The path given to open, the callback's name, "<memory>" or "<reader>";
    // what messages name.
    const char *path() const { return path_; }
    // The bytes themselves for a source in memory; null for a file.
    const unsigned char *memory() const { return mem_; }
    // The descriptor of an opened file (-1 otherwise), for writers that copy
    // its ranges in the kernel; reads go through read().
    int fd() const { return fd_; }

    // Exactly n bytes at off into buf. False when the range lies outside the
    // size or the file yields fewer bytes (it shrank, or the disk failed);
    // the source then remembers that it failed.
    bool read(std::uint64_t off, void *buf, std::size_t n) const;
    bool failed() const { return failed_; }
    // Sets "short read: %s" naming the book, or "read failed: %s" when the
    // host's callback said it failed (or answered out of bounds).
    void report_short_read() const;

  private:
    bool call(std::uint64_t off, unsigned char *out, std::size_t n) const;
    bool read_callback(std::uint64_t off, unsigned char *out, std::size_t n) const;

    int fd_ = -1;
    const unsigned char *mem_ = nullptr;
    std::uint64_t size_ = 0;
    eb_file_id id_;
    const char *path_ = "";
    mutable bool failed_ = false;

    callback cb_ = nullptr;
    void *ctx_ = nullptr;
    mutable bool cb_failed_ = false;
    // The block last fetched for small reads.
    mutable std::unique_ptr<unsigned char[]> block_;
    mutable std::uint64_t block_at_ = 0, block_len_ = 0;
};

#endif  // QUENFOLD_IO_SOURCE_H
