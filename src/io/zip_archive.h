// zip_archive.h - one ZIP archive over the caller's bytes, opened once and read member by member.
#ifndef QUENFOLD_IO_ZIP_ARCHIVE_H
#define QUENFOLD_IO_ZIP_ARCHIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct zip;

// Members of container, package and FictionBook documents are small; a larger
// one is refused before any memory is obtained for it.
constexpr std::uint64_t EB_ZIP_DOC_CAP = 16u * 1024u * 1024u;

enum class eb_zip_read {
    ok,
    missing,    // no member of that name or index
    too_large,  // above the caller's cap, or a size its compressed data cannot give
    damaged,    // unreadable data, a CRC mismatch, or fewer or more bytes than declared
};

// The archive is read in place (never copied) and must outlive the handle.
// The central directory is read once, when the handle opens; every lookup and
// read after that uses it. Not shared between threads.
class eb_zip_archive {
  public:
    eb_zip_archive(const void *data, std::uint64_t len);
    ~eb_zip_archive();
    eb_zip_archive(const eb_zip_archive &) = delete;
    eb_zip_archive &operator=(const eb_zip_archive &) = delete;

    bool ok() const { return za_ != nullptr; }
    std::uint64_t count() const { return count_; }
    // The raw stored name of member i ("" when it has none or i is out of range).
    std::string_view name(std::uint64_t i) const;
    // First member, in central-directory order, whose whole stored name equals
    // name when ASCII letters are folded (other bytes must match); -1 if none.
    std::int64_t find(std::string_view name) const;
    // Uncompressed size as the central directory declares it; false if unknown.
    bool size(std::uint64_t i, std::uint64_t *out) const;
    // Member i whole into *out, its CRC checked; sizes above cap are refused.
    eb_zip_read read(std::uint64_t i, std::uint64_t cap, std::string *out) const;

  private:
    zip *za_ = nullptr;
    std::uint64_t count_ = 0;
};

// ASCII-only case-insensitive equality (the locale plays no part).
bool eb_ascii_iequal(std::string_view a, std::string_view b);
// ASCII-only case-insensitive test of a suffix.
bool eb_ascii_iends_with(std::string_view s, std::string_view suffix);

#endif  // QUENFOLD_IO_ZIP_ARCHIVE_H
