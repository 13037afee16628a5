// zip_archive.h - one ZIP archive over a book source, opened once and read member by member.
#ifndef QUENFOLD_IO_ZIP_ARCHIVE_H
#define QUENFOLD_IO_ZIP_ARCHIVE_H

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/source.h"
#include "io/zip_directory.h"

// Members of container, package and FictionBook documents are small; a larger
// one is refused before any memory is obtained for it.
constexpr std::uint64_t EB_ZIP_DOC_CAP = 16u * 1024u * 1024u;

enum class eb_zip_read {
    ok,
    missing,    // no member of that name or index
    too_large,  // above the caller's cap, or a size its compressed data cannot give
    damaged,    // unreadable data, a CRC mismatch, or fewer or more bytes than declared
};

// Opening reads the tail of the book once (the end record, the ZIP64 records
// and, in most books, the whole central directory) and indexes the directory
// in place; every lookup after that uses the names and sizes kept from it,
// and a read fetches only its member's bytes, inflated straight from them.
// No member's time is ever converted. The source must outlive the handle.
// Not shared between threads.
class eb_zip_archive {
  public:
    explicit eb_zip_archive(const eb_source &src);
    // The archive over the caller's bytes, read in place (never copied); they
    // must outlive the handle.
    eb_zip_archive(const void *data, std::uint64_t len);
    ~eb_zip_archive();
    eb_zip_archive(const eb_zip_archive &) = delete;
    eb_zip_archive &operator=(const eb_zip_archive &) = delete;

    bool ok() const { return ok_; }
    std::uint64_t count() const { return x_.members.size(); }
    // The raw stored name of member i ("" when it has none or i is out of range).
    std::string_view name(std::uint64_t i) const;
    // First member, in central-directory order, whose whole stored name equals
    // name when ASCII letters are folded (other bytes must match); -1 if none.
    std::int64_t find(std::string_view name) const;
    // Whether member i is encrypted (general-purpose flag bit 0): its data
    // cannot be read without a password, which is never guessed.
    bool encrypted(std::uint64_t i) const;
    // The archive comment from the end record, as stored (tools keep
    // metadata there); empty when there is none.
    std::string_view comment() const { return x_.comment; }
    // Uncompressed size as the central directory declares it; false if unknown.
    bool size(std::uint64_t i, std::uint64_t *out) const;
    // Whether member i's compressed data can give the size the directory
    // declares: a stored member no more than its data, a deflated one about
    // 1032 times it. read() refuses the others as too large.
    bool size_possible(std::uint64_t i) const;
    // Member i whole into *out, its CRC checked; sizes above cap are refused.
    eb_zip_read read(std::uint64_t i, std::uint64_t cap, std::string *out) const;
    // The same into a new malloc block of at least one byte (*len its length).
    eb_zip_read read_block(std::uint64_t i, std::uint64_t cap, char **out,
                           std::uint64_t *len) const;
    // Members the caller is about to read (indices; negative ones are
    // ignored). When one of them must be fetched, the others that lie close
    // to it in the book come in the same request. Reads are the same without.
    void prefetch(std::initializer_list<std::int64_t> members) const;
    // True once a read of the book fell short: the file changed while it was
    // read, and what failed since then says nothing about the archive.
    bool source_failed() const;
    // The directory as read, for a writer that copies members as they are.
    const eb_zip_index &index() const { return x_; }

    using member = eb_zip_entry;

  private:
    const unsigned char *member_bytes(std::uint64_t off, std::uint64_t n) const;
    bool load(const member &m) const;
    eb_zip_read admit(std::uint64_t i, std::uint64_t cap) const;
    eb_zip_read inflate_into(const member &m, char *out) const;

    std::unique_ptr<eb_source> own_;  // the memory source of the byte constructor
    eb_zip_index x_;
    bool ok_ = false;
    // The last stretch of the book fetched for member reads, and the members
    // announced by prefetch.
    mutable eb_unique<unsigned char> span_;
    mutable std::uint64_t span_start_ = 0, span_len_ = 0, span_cap_ = 0;
    mutable std::vector<std::uint64_t> planned_;
};

#endif  // QUENFOLD_IO_ZIP_ARCHIVE_H
