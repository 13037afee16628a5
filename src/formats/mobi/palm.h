// palm.h - what both Mobipocket readers and the format table know of PalmDB files: the header's
// fields, which databases hold books, and the records of the EXTH block.
#ifndef QUENFOLD_FORMATS_MOBI_PALM_H
#define QUENFOLD_FORMATS_MOBI_PALM_H

#include <cstdint>
#include <string_view>

#include "io/cursor.h"
#include "io/range.h"

// The fixed database header; the record list follows it, 8 bytes a record
// (the record's offset first). Every integer is unsigned big-endian.
constexpr std::uint64_t EB_PALM_HEADER = 78;
// Type and creator, four bytes each.
constexpr std::uint64_t EB_PALM_KIND_AT = 60;

// Address books, calendars and memos are Palm databases too, under the same
// extensions .pdb and .prc, and any file may be renamed: only these two
// kinds (type and creator) hold a book.
constexpr std::string_view EB_PALM_MOBI = "BOOKMOBI";  // Mobipocket: MOBI, AZW, AZW3
constexpr std::string_view EB_PALM_DOC = "TEXtREAd";   // a plain PalmDOC text

enum class eb_palm_kind { other, mobi, doc };

// The kind that the first bytes of a file name (other when they end before
// the type and creator).
inline eb_palm_kind eb_palm_kind_of(std::string_view head) {
    if (head.size() < EB_PALM_KIND_AT + 8) return eb_palm_kind::other;
    const std::string_view kind = head.substr(EB_PALM_KIND_AT, 8);
    if (kind == EB_PALM_MOBI) return eb_palm_kind::mobi;
    if (kind == EB_PALM_DOC) return eb_palm_kind::doc;
    return eb_palm_kind::other;
}

// The records of the EXTH block that follows a MOBI header of hlen bytes in
// record 0 (the caller found "EXTH" there), in order, as far as each lies
// whole inside the block, which is cut to record 0. The block's bytes are
// fetched once, when it is opened.
class eb_exth_records {
  public:
    eb_exth_records(const eb_range &r0, std::uint64_t hlen)
        : count_(r0.u32(16 + hlen + 8)), c_(block(r0, hlen)) {}

    // How many records the block says it holds.
    std::uint32_t declared() const { return count_; }

    // The next record's type and data (n bytes); false at the end of the
    // block or at a record that does not fit in it.
    bool next(std::uint32_t &type, const unsigned char *&data, std::uint64_t &n) {
        type = c_.be32();
        const std::uint32_t len = c_.be32();
        if (!c_.ok() || len < 8) return false;
        n = len - 8;
        data = c_.take(n);
        return data != nullptr;
    }

  private:
    // From the first record (after "EXTH", the block's length and its count)
    // to the block's end or record 0's, whichever comes first.
    static eb_cursor block(const eb_range &r0, std::uint64_t hlen) {
        const std::uint64_t exth = 16 + hlen;
        const std::uint64_t end = exth + r0.u32(exth + 4);
        const std::uint64_t limit = end < r0.n ? end : r0.n;
        const std::uint64_t first = exth + 12;
        if (first >= limit) return eb_cursor(nullptr, 0);
        return eb_cursor(r0.bytes(first, limit - first), limit - first);
    }

    std::uint32_t count_;
    eb_cursor c_;
};

#endif  // QUENFOLD_FORMATS_MOBI_PALM_H
