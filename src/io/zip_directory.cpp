// zip_directory.cpp - the end record found in the book's tail, ZIP64 records, and the central
// directory walked in place.

#include "io/zip_directory.h"

#include <cstdlib>
#include <cstring>

#include "io/cursor.h"

namespace {

constexpr std::uint32_t kEndSig = 0x06054b50, kLocatorSig = 0x07064b50;
constexpr std::uint32_t kEnd64Sig = 0x06064b50, kEntrySig = 0x02014b50;
constexpr std::uint64_t kEndSize = 22, kLocatorSize = 20, kEnd64Size = 56, kEntrySize = 46;
// The end record is followed by a comment of at most 65535 bytes, so it lies
// within the last 64 KiB + 22 bytes of the book.
constexpr std::uint64_t kTail = 65536 + kEndSize;
// Before ZIP64 a count of 0xFFFF meant "count the entries yourself": the
// directory is then walked until an entry fails to parse, and must hold at
// least that many.
constexpr std::uint64_t kUnknownCount = 0xFFFF;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;

std::uint64_t add_capped(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// n bytes at off of the book, from what is held or read into buf (n is a
// record's size, a few dozen bytes); null outside the book or when the read
// fails.
const unsigned char *fetch(const eb_zip_index &x, std::uint64_t off, std::uint64_t n,
                           unsigned char *buf) {
    if (const unsigned char *p = x.at(off, n)) return p;
    const std::uint64_t size = x.src->size();
    if (off > size || n > size - off || !x.src->read(off, buf, n)) return nullptr;
    return buf;
}

// Where the directory lies, as the end records say.
struct directory_place {
    std::uint64_t end_at = 0;   // the end record
    std::uint64_t dir_end = 0;  // where the directory must end: the end record or the ZIP64 record
    std::uint64_t count = 0, size = 0, offset = 0;
    bool one_disk = false;  // archives spanning several disks are not read
    bool zip64 = false;     // the figures came from a ZIP64 end record
    std::string_view comment;
};

// Whether an end-record signature at p of the tail t (len bytes, the book's
// last) can be the end record: its comment fits in the book, and what
// precedes it is a ZIP64 locator or the first entry of the directory it
// names (taken on trust when that lies before the tail). A signature inside
// a comment or in member data seldom passes both.
bool plausible_end(const unsigned char *t, std::uint64_t p, std::uint64_t len,
                   std::uint64_t tail_start) {
    eb_cursor c(t + p, len - p);
    c.skip(10);
    const std::uint64_t count = c.le16(), dir_size = c.le32();
    c.skip(4);
    if (c.le16() > c.left()) return false;
    if (p >= kLocatorSize && eb_le32(t + p - kLocatorSize) == kLocatorSig) return true;
    if (count == 0 || dir_size < kEntrySize) return false;
    if (dir_size > p) return dir_size - p <= tail_start;
    return eb_le32(t + p - dir_size) == kEntrySig;
}

// The end record: the first plausible signature in the tail whose comment
// runs exactly to the end of the book (any signature after it lies in its
// comment, a whole archive kept there included), else the last plausible one
// (bytes appended after an archive are tolerated).
bool find_end(const eb_zip_index &x, const unsigned char *t, std::uint64_t len,
              directory_place &d) {
    const std::uint64_t tail_start = x.src->size() - len;
    std::uint64_t exact = UINT64_MAX, last = UINT64_MAX;
    std::uint64_t p = len - kEndSize + 1;  // candidates lie before p
    while (p > 0) {
        const void *hit = memrchr(t, 'P', p);
        if (!hit) break;
        p = static_cast<std::uint64_t>(static_cast<const unsigned char *>(hit) - t);
        if (eb_le32(t + p) != kEndSig || !plausible_end(t, p, len, tail_start)) continue;
        if (last == UINT64_MAX) last = p;
        if (p + kEndSize + eb_le16(t + p + 20) == len) exact = p;
    }
    const std::uint64_t best = exact != UINT64_MAX ? exact : last;
    if (best == UINT64_MAX) return false;
    eb_cursor c(t + best + 4, len - best - 4);
    const std::uint16_t disk = c.le16(), dir_disk = c.le16(), on_disk = c.le16();
    d.count = c.le16();
    d.size = c.le32();
    d.offset = c.le32();
    const std::uint16_t comment = c.le16();
    d.comment = std::string_view(reinterpret_cast<const char *>(t + best + kEndSize), comment);
    d.end_at = d.dir_end = tail_start + best;
    d.one_disk = disk == 0 && dir_disk == 0 && on_disk == d.count;
    return true;
}

// The ZIP64 end record named by a locator right before the end record. Its
// figures replace the end record's. The record is looked for where the
// locator says, then right before the locator (bytes prepended to the
// archive move it). No locator, or none that leads to a record, leaves d as
// it was.
void read_zip64(const eb_zip_index &x, directory_place &d) {
    if (d.end_at < kLocatorSize) return;
    const std::uint64_t loc_at = d.end_at - kLocatorSize;
    unsigned char buf[kEnd64Size];
    const unsigned char *l = fetch(x, loc_at, kLocatorSize, buf);
    if (!l || eb_le32(l) != kLocatorSig) return;
    eb_cursor lc(l + 4, kLocatorSize - 4);
    const std::uint32_t disk = lc.le32();
    const std::uint64_t named = lc.le64();
    if (disk != 0 || lc.le32() > 1) return;
    std::uint64_t rec_at = named;
    const unsigned char *r = nullptr;
    if (named <= loc_at && loc_at - named >= kEnd64Size) r = fetch(x, named, kEnd64Size, buf);
    if ((!r || eb_le32(r) != kEnd64Sig) && loc_at >= kEnd64Size) {
        rec_at = loc_at - kEnd64Size;
        r = fetch(x, rec_at, kEnd64Size, buf);
    }
    if (!r || eb_le32(r) != kEnd64Sig) return;
    eb_cursor c(r + 16, kEnd64Size - 16);
    const std::uint32_t rec_disk = c.le32(), dir_disk = c.le32();
    const std::uint64_t on_disk = c.le64();
    d.count = c.le64();
    d.size = c.le64();
    d.offset = c.le64();
    d.dir_end = rec_at;
    d.zip64 = true;
    d.one_disk = rec_disk == 0 && dir_disk == 0 && on_disk == d.count;
}

// The values a ZIP64 extended-information field gives for those the entry
// marks 0xFFFFFFFF, in their fixed order, as far as the field holds them.
void read_zip64_extra(const unsigned char *extra, std::uint16_t len, std::uint64_t &size,
                      std::uint64_t &comp, std::uint64_t &local) {
    eb_cursor e(extra, len);
    while (e.left() >= 4) {
        const std::uint16_t id = e.le16(), n = e.le16();
        const unsigned char *body = e.take(n);
        if (!body) return;
        if (id != 0x0001) continue;
        eb_cursor z(body, n);
        for (std::uint64_t *v : {&size, &comp, &local})
            if (*v == kMax32 && z.left() >= 8) *v = z.le64();
        return;
    }
}

// Walks the directory's entries in place: count of them, or, for the
// unknown count, until one fails to parse. Every entry lies inside the
// directory; a bad one before the count is reached fails the archive.
bool walk(const unsigned char *dir, const directory_place &d, std::uint64_t shift,
          std::vector<eb_zip_entry> &out) {
    const bool unknown = d.count == kUnknownCount;
    out.reserve(static_cast<std::size_t>(d.count));
    eb_cursor c(dir, d.size);
    while (unknown || out.size() < d.count) {
        const std::uint64_t at = c.pos();
        if (c.left() < kEntrySize || c.le32() != kEntrySig) break;
        c.skip(4);  // versions
        const std::uint16_t flags = c.le16(), method = c.le16();
        c.skip(4);  // time and date, never converted
        const std::uint32_t crc = c.le32();
        std::uint64_t comp = c.le32(), size = c.le32();
        const std::uint16_t name_len = c.le16(), extra_len = c.le16(), comment_len = c.le16();
        c.skip(8);  // disk, attributes
        std::uint64_t local = c.le32();
        const unsigned char *name = c.take(name_len);
        const unsigned char *extra = c.take(extra_len);
        c.skip(comment_len);
        if (!c.ok()) break;
        if (size == kMax32 || comp == kMax32 || local == kMax32)
            read_zip64_extra(extra, extra_len, size, comp, local);
        const void *nul = std::memchr(name, 0, name_len);
        const std::uint16_t cut =
            nul ? static_cast<std::uint16_t>(static_cast<const unsigned char *>(nul) - name)
                : name_len;
        out.push_back({add_capped(local, shift), size, comp,
                       static_cast<std::uint32_t>(at + kEntrySize), crc, cut, name_len, extra_len,
                       method, flags});
    }
    return unknown ? out.size() >= kUnknownCount : out.size() == d.count;
}

// The directory's bytes: in place when they lie in what is held, else the
// part before the tail read in one request and joined to the rest.
const unsigned char *directory_bytes(eb_zip_index &x, std::uint64_t start, std::uint64_t size) {
    if (const unsigned char *p = x.at(start, size)) return p;
    x.dir_buf.reset(static_cast<unsigned char *>(eb_read_block(size)));
    if (!x.dir_buf) return nullptr;
    const std::uint64_t before = x.held_start - start < size ? x.held_start - start : size;
    if (!x.src->read(start, x.dir_buf.get(), before)) return nullptr;
    if (before < size) std::memcpy(x.dir_buf.get() + before, x.held, size - before);
    return x.dir_buf.get();
}

}  // namespace

bool eb_zip_read_index(const eb_source &src, eb_zip_index &x) {
    x.src = &src;
    const std::uint64_t size = src.size();
    if (size < kEndSize) return false;
    const std::uint64_t len = size < kTail ? size : kTail;
    if (src.memory()) {
        x.held = src.memory();
        x.held_start = 0;
    } else {
        x.tail_buf.reset(static_cast<unsigned char *>(eb_read_block(len)));
        if (!x.tail_buf || !src.read(size - len, x.tail_buf.get(), len)) return false;
        x.held = x.tail_buf.get();
        x.held_start = size - len;
    }
    directory_place d;
    if (!find_end(x, x.at(size - len, len), len, d)) return false;
    read_zip64(x, d);
    if (!d.one_disk) return false;
    // The directory ends where the records after it begin; bytes before the
    // archive shift every offset it states by the same amount.
    if (d.size > d.dir_end || d.offset > d.dir_end - d.size) return false;
    const std::uint64_t start = d.dir_end - d.size;
    const std::uint64_t shift = start - d.offset;
    if (d.count == 0 || d.count > d.size / kEntrySize || d.size > EB_ZIP_MAX_DIRECTORY)
        return false;
    x.dir = directory_bytes(x, start, d.size);
    if (!x.dir || !walk(x.dir, d, shift, x.members)) {
        x.members.clear();
        x.dir = nullptr;
        return false;
    }
    x.comment = d.comment;
    x.dir_start = start;
    x.dir_size = d.size;
    x.shift = shift;
    x.zip64 = d.zip64;
    return true;
}
