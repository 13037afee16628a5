// comic_archive.h - a comic archive's file members (ZIP, RAR 4 and 5, 7z, tar), listed once and
// read on demand.
#ifndef QUENFOLD_FORMATS_COMIC_ARCHIVE_H
#define QUENFOLD_FORMATS_COMIC_ARCHIVE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/source.h"
#include "io/zip_archive.h"

enum class eb_comic_kind { none, zip, rar4, rar5, sevenzip, tar };

// What an archive's first bytes say of it. RAR states in its archive header
// whether it is solid and whether every later header is encrypted.
struct eb_comic_sniff {
    eb_comic_kind kind = eb_comic_kind::none;
    bool solid = false;
    bool header_encrypted = false;
};

// The kind by signature: RAR 4 or 5, 7z, a POSIX tar ("ustar" at 257), or a
// ZIP local header or end record at the very start. none when the source
// falls short.
eb_comic_sniff eb_comic_sniff_source(const eb_source &src);
// The same from the book's first bytes (all of them when fewer), of which
// it looks at the first EB_COMIC_SNIFF.
constexpr std::size_t EB_COMIC_SNIFF = 512;
eb_comic_sniff eb_comic_sniff_bytes(std::string_view head);

// One file member (directories and links are not members).
struct eb_comic_member {
    std::string_view name;      // the stored bytes, never trusted as a path or as text
    std::uint64_t size = 0;     // uncompressed size as declared (0 when the archive gives none)
    std::uint64_t ordinal = 0;  // position among all the archive's entries
    bool encrypted = false;     // its data needs a password, which is never guessed
};

enum class eb_comic_read {
    ok,
    too_large,    // above the caller's cap
    encrypted,    // password-protected data
    over_budget,  // a solid archive would have to decompress more than its budget first
    damaged,      // unreadable, a CRC mismatch, or another size than declared
};

// A solid archive decompresses every member before the one wanted; what one
// call may decompress that way is bounded by this.
constexpr std::uint64_t EB_COMIC_SOLID_BUDGET = 64u * 1024u * 1024u;
// Members listed at most: far above any comic, bounding a forged directory.
constexpr std::uint64_t EB_COMIC_MAX_MEMBERS = 1000000;

// Entries of a libarchive or RAR 5 listing, names back to back in one text.
struct eb_comic_listing {
    struct entry {
        std::size_t name_at, name_len;
        std::uint64_t size, ordinal;
        bool encrypted;
    };
    std::string names;
    std::vector<entry> files;
    bool complete = false;          // every entry was listed
    bool header_encrypted = false;  // the names themselves need the password
    std::vector<std::string> warnings;
};

// ZIP through the project's ZIP handle (central directory only); 7z and tar
// listed by libarchive, which skips data where the format allows; RAR 4 and
// 5 listed from their own headers (libarchive 3.6 lists only the first
// member of a solid RAR 4, and neither reports RAR 5's encrypted files nor
// lists a solid one without decompressing it). Member data always comes
// through libarchive or the ZIP handle. The source must
// outlive the archive. One thread.
class eb_comic_archive {
  public:
    eb_comic_archive(const eb_source &src, const eb_comic_sniff &sniff);
    // Over a ZIP handle already open (not owned; it must outlive this).
    explicit eb_comic_archive(const eb_zip_archive &za);
    ~eb_comic_archive();
    eb_comic_archive(const eb_comic_archive &) = delete;
    eb_comic_archive &operator=(const eb_comic_archive &) = delete;

    eb_comic_kind kind() const { return kind_; }
    // The archive's structure was recognised (maybe with nothing listable).
    bool opened() const { return opened_; }
    // Every member was listed: counts and orders over the members mean something.
    bool complete() const { return complete_; }
    bool header_encrypted() const { return header_encrypted_; }
    bool solid() const { return solid_; }
    const std::vector<eb_comic_member> &members() const { return members_; }
    // The ZIP archive comment (empty for other kinds).
    std::string_view comment() const;
    // Notices about the listing, for the record's warnings.
    const std::vector<std::string> &warnings() const { return warnings_; }

    // Member m whole into a new malloc block (*out, *len; at least one byte
    // allocated), at most cap bytes.
    eb_comic_read read_block(const eb_comic_member &m, std::uint64_t cap, char **out,
                             std::uint64_t *len) const;
    eb_comic_read read(const eb_comic_member &m, std::uint64_t cap, std::string *out) const;
    // The book changed or fell short while it was read.
    bool source_failed() const;

  private:
    void list_zip();
    void take(eb_comic_listing &&l);

    const eb_source *src_ = nullptr;
    eb_comic_kind kind_ = eb_comic_kind::none;
    std::unique_ptr<eb_zip_archive> own_zip_;
    const eb_zip_archive *zip_ = nullptr;
    bool opened_ = false, complete_ = false, header_encrypted_ = false, solid_ = false;
    std::string names_;
    std::vector<eb_comic_member> members_;
    std::vector<std::string> warnings_;
    mutable std::uint64_t spent_ = 0;  // decompressed against the solid budget
};

// libarchive's side (comic_libarchive.cpp, in the lazily loaded module,
// reached through its table: lazy_readers.h): the listing, and one member's
// data by ordinal into a malloc block. The solid budget is the caller's,
// but for members before m that state no size: with unsized set, their data
// is decompressed here and counted against *unsized (over_budget past it).
eb_comic_listing eb_la_list(const eb_source &src, eb_comic_kind kind);
eb_comic_read eb_la_read(const eb_source &src, eb_comic_kind kind, const eb_comic_member &m,
                         std::uint64_t cap, std::uint64_t *unsized, char **out, std::uint64_t *len);
// RAR 5's own headers (comic_rar5.cpp): the listing, and its solid flag.
eb_comic_listing eb_rar5_list(const eb_source &src, bool *solid);
// RAR 4's own block headers (comic/comic_rar4.cpp): the listing, and its
// solid flag.
eb_comic_listing eb_rar4_list(const eb_source &src, bool *solid);

// A 7z archive's directory read up to its counts before libarchive
// allocates for it (comic/comic_7z.cpp): ok with the number of files it
// declares; else why it will not be listed (a count past the member limit,
// a directory decoding past 64 MiB, one damaged or compressed by a method
// not read here). encrypted: a password hides it, which libarchive reports.
struct eb_7z_directory {
    bool ok = false, encrypted = false;
    std::uint64_t files = 0;
    std::string why;
};
eb_7z_directory eb_7z_check(const eb_source &src);

#endif  // QUENFOLD_FORMATS_COMIC_ARCHIVE_H
