// zip_archive.cpp - the ZIP archive handle: the directory indexed once, members fetched in as
// few requests as they allow, checked against the directory and inflated by zlib.

#include "io/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "io/cursor.h"
#include "text/ascii.h"

namespace {

constexpr std::uint32_t kStored = 0, kDeflated = 8;
constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint64_t kLocalSize = 30;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
// A local header's extra field may be a little longer than the directory's
// (time stamps with the access time, alignment padding): a member's bytes
// are fetched with this much to spare. More costs one request more.
constexpr std::uint64_t kLocalSlack = 64;
// Members announced together come in one request when the bytes between
// them are at most kGap and the whole stretch at most kSpanMax; a larger
// member is read on its own, its data straight from the source.
constexpr std::uint64_t kGap = 64 * 1024;
constexpr std::uint64_t kSpanMax = 1024 * 1024;
constexpr std::uint64_t kChunk = 256 * 1024;

std::uint64_t add_capped(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// The stretch of the book that holds member m, at most: its local header
// with the directory's name and extra lengths, the slack, its data.
struct stretch {
    std::uint64_t start, end;
};
stretch stretch_of(const eb_zip_entry &m, std::uint64_t book) {
    const std::uint64_t head = kLocalSize + m.stored_name_len + m.extra_len + kLocalSlack;
    const std::uint64_t end = add_capped(add_capped(m.local, head), m.comp_size);
    return {std::min(m.local, book), std::min(end, book)};
}

struct inflate_end {
    z_stream *zs;
    ~inflate_end() { inflateEnd(zs); }
};

// A deflated member whose compressed bytes are all at hand, in one call: the
// stream must end after exactly the declared bytes. Finishing in one call
// spares zlib its window.
bool inflate_whole(const unsigned char *in, std::uint64_t comp, std::uint64_t size, char *out) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    inflate_end end{&zs};
    zs.next_in = const_cast<Bytef *>(in);
    zs.avail_in = static_cast<uInt>(comp);
    zs.next_out = reinterpret_cast<Bytef *>(out);
    zs.avail_out = static_cast<uInt>(size);
    return inflate(&zs, Z_FINISH) == Z_STREAM_END && zs.total_out == size;
}

// A deflated member read from the source in chunks. Output past the declared
// bytes lands in a scratch byte and fails the member.
bool inflate_streamed(const eb_source &src, std::uint64_t at, std::uint64_t comp,
                      std::uint64_t size, char *out) {
    eb_unique<unsigned char> in(static_cast<unsigned char *>(eb_read_block(kChunk)));
    z_stream zs{};
    if (!in || inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    inflate_end end{&zs};
    unsigned char scratch;
    bool past_end = false;
    int zr = Z_OK;
    while (zr != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            const std::uint64_t n = std::min(comp, kChunk);
            if (n == 0 || !src.read(at, in.get(), n)) return false;  // the stream stops short
            at += n;
            comp -= n;
            zs.next_in = in.get();
            zs.avail_in = static_cast<uInt>(n);
        }
        if (zs.avail_out == 0) {
            const std::uint64_t done = zs.total_out;
            if (done >= size) {
                zs.next_out = &scratch;
                zs.avail_out = 1;
                past_end = true;
            } else {
                zs.next_out = reinterpret_cast<Bytef *>(out + done);
                zs.avail_out = static_cast<uInt>(std::min<std::uint64_t>(size - done, 1u << 30));
            }
        }
        zr = inflate(&zs, Z_NO_FLUSH);
        if (zr != Z_OK && zr != Z_STREAM_END && zr != Z_BUF_ERROR) return false;
        if (past_end && zs.avail_out == 0) return false;  // more than declared
    }
    return zs.total_out == size;
}

}  // namespace

eb_zip_archive::eb_zip_archive(const eb_source &src) {
    ok_ = eb_zip_read_index(src, x_);
}

eb_zip_archive::eb_zip_archive(const void *data, std::uint64_t len)
    : own_(new eb_source(data, len)) {
    ok_ = eb_zip_read_index(*own_, x_);
}

eb_zip_archive::~eb_zip_archive() = default;

bool eb_zip_archive::source_failed() const {
    return x_.src->failed();
}

std::string_view eb_zip_archive::name(std::uint64_t i) const {
    if (i >= x_.members.size()) return {};
    const member &m = x_.members[i];
    return std::string_view(reinterpret_cast<const char *>(x_.dir) + m.name_at, m.name_len);
}

std::int64_t eb_zip_archive::find(std::string_view want) const {
    for (std::uint64_t i = 0; i < x_.members.size(); ++i)
        if (x_.members[i].name_len == want.size() && eb_ascii_iequal(name(i), want))
            return static_cast<std::int64_t>(i);
    return -1;
}

bool eb_zip_archive::encrypted(std::uint64_t i) const {
    return i < x_.members.size() && (x_.members[i].flags & 1);
}

bool eb_zip_archive::size(std::uint64_t i, std::uint64_t *out) const {
    if (i >= x_.members.size()) return false;
    *out = x_.members[i].size;
    return true;
}

void eb_zip_archive::prefetch(std::initializer_list<std::int64_t> members) const {
    planned_.clear();
    for (std::int64_t i : members)
        if (i >= 0 && static_cast<std::uint64_t>(i) < x_.members.size())
            planned_.push_back(static_cast<std::uint64_t>(i));
}

bool eb_zip_archive::size_possible(std::uint64_t i) const {
    if (i >= x_.members.size()) return false;
    const member &m = x_.members[i];
    // Deflate cannot expand data more than about 1032 times, and a stored
    // member not at all: a header claiming more is lying.
    if (m.method == kStored && m.size > m.comp_size) return false;
    if (m.method == kDeflated && m.size / 1032 > m.comp_size + 1) return false;
    return true;
}

// The refusals a member meets before any memory is obtained for it.
eb_zip_read eb_zip_archive::admit(std::uint64_t i, std::uint64_t cap) const {
    if (i >= x_.members.size()) return eb_zip_read::missing;
    const member &m = x_.members[i];
    // A size the data cannot give is a lie and gets no block.
    if (m.size > cap || !size_possible(i)) return eb_zip_read::too_large;
    // Encrypted members and other compression methods cannot be read.
    if ((m.flags & 1) || (m.method != kStored && m.method != kDeflated))
        return eb_zip_read::damaged;
    return eb_zip_read::ok;
}

eb_zip_read eb_zip_archive::read(std::uint64_t i, std::uint64_t cap, std::string *out) const {
    out->clear();
    eb_zip_read r = admit(i, cap);
    if (r != eb_zip_read::ok) return r;
    out->resize(x_.members[i].size);
    r = inflate_into(x_.members[i], out->data());
    if (r != eb_zip_read::ok) out->clear();
    return r;
}

eb_zip_read eb_zip_archive::read_block(std::uint64_t i, std::uint64_t cap, char **out,
                                       std::uint64_t *len) const {
    *out = nullptr;
    *len = 0;
    eb_zip_read r = admit(i, cap);
    if (r != eb_zip_read::ok) return r;
    const member &m = x_.members[i];
    eb_unique<char> block(static_cast<char *>(std::malloc(m.size ? m.size : 1)));
    if (!block) return eb_zip_read::damaged;
    r = inflate_into(m, block.get());
    if (r != eb_zip_read::ok) return r;
    *out = block.release();
    *len = m.size;
    return eb_zip_read::ok;
}

// n bytes at off, from what the handle holds: the book in memory, its tail,
// or the stretch fetched last. Null when not held.
const unsigned char *eb_zip_archive::member_bytes(std::uint64_t off, std::uint64_t n) const {
    if (const unsigned char *p = x_.at(off, n)) return p;
    if (off >= span_start_ && off - span_start_ <= span_len_ &&
        n <= span_len_ - (off - span_start_))
        return span_.get() + (off - span_start_);
    return nullptr;
}

// Fetches member m's stretch in one request, joined with the stretches of
// announced members that lie close to it; a member too large for that gets
// its local header alone, and its data is read straight from the source.
bool eb_zip_archive::load(const member &m) const {
    const std::uint64_t book = x_.src->size();
    if (m.local > book || book - m.local < kLocalSize) return false;
    stretch s = stretch_of(m, book);
    const auto index = static_cast<std::uint64_t>(&m - x_.members.data());
    if (s.end - s.start > kSpanMax) {
        s.end =
            std::min(book, s.start + kLocalSize + m.stored_name_len + m.extra_len + kLocalSlack);
    } else if (std::find(planned_.begin(), planned_.end(), index) != planned_.end()) {
        for (bool grew = true; grew;) {
            grew = false;
            for (std::uint64_t j : planned_) {
                const stretch t = stretch_of(x_.members[j], book);
                const std::uint64_t lo = std::min(s.start, t.start), hi = std::max(s.end, t.end);
                const bool near = t.start <= add_capped(s.end, kGap) && s.start <= t.end + kGap;
                if (!near || hi - lo > kSpanMax || (lo == s.start && hi == s.end) ||
                    x_.at(t.start, kLocalSize))
                    continue;
                s = {lo, hi};
                grew = true;
            }
        }
    }
    const std::uint64_t n = s.end - s.start;
    span_len_ = 0;
    if (n > span_cap_) {  // the old bytes are not kept: no copy
        span_.reset(static_cast<unsigned char *>(eb_read_block(n)));
        span_cap_ = span_ ? n : 0;
        if (!span_) return false;
    }
    if (!x_.src->read(s.start, span_.get(), n)) return false;
    span_start_ = s.start;
    span_len_ = n;
    return true;
}

// Member m from its local header, which must agree with the directory
// (signature, method, name length, and CRC and sizes unless a data
// descriptor follows the data); then its data, inflated or copied, and its
// CRC over the declared bytes.
eb_zip_read eb_zip_archive::inflate_into(const member &m, char *out) const {
    const unsigned char *h = member_bytes(m.local, kLocalSize);
    if (!h && load(m)) h = member_bytes(m.local, kLocalSize);
    if (!h) return eb_zip_read::damaged;
    eb_cursor c(h, kLocalSize);
    const std::uint32_t sig = c.le32();
    c.skip(2);
    const std::uint16_t flags = c.le16(), method = c.le16();
    c.skip(4);
    const std::uint32_t crc = c.le32(), comp = c.le32(), size = c.le32();
    const std::uint16_t name_len = c.le16(), extra_len = c.le16();
    if (sig != kLocalSig || method != m.method || name_len != m.stored_name_len)
        return eb_zip_read::damaged;
    if (!(flags & 8) && (crc != m.crc || (comp != kMax32 && comp != m.comp_size) ||
                         (size != kMax32 && size != m.size)))
        return eb_zip_read::damaged;
    // A stored member is exactly its declared bytes; a deflated one's
    // compressed bytes lie inside the book.
    const std::uint64_t book = x_.src->size();
    const std::uint64_t at = m.local + kLocalSize + name_len + extra_len;
    if (m.method == kStored && m.comp_size != m.size) return eb_zip_read::damaged;
    if (at > book || m.comp_size > book - at) return eb_zip_read::damaged;
    const unsigned char *data = member_bytes(at, m.comp_size);
    bool good;
    if (m.method == kStored)
        good = data ? (std::memcpy(out, data, m.size), true) : x_.src->read(at, out, m.size);
    else if (data && m.comp_size <= UINT_MAX)
        good = inflate_whole(data, m.comp_size, m.size, out);
    else
        good = inflate_streamed(*x_.src, at, m.comp_size, m.size, out);
    if (!good) return eb_zip_read::damaged;
    if (crc32_z(0, reinterpret_cast<const Bytef *>(out), m.size) != m.crc)
        return eb_zip_read::damaged;
    return eb_zip_read::ok;
}
