// cursor.h - fields of binary records (ZIP, RAR 5, PalmDB) read through one bounds-checked cursor.
#ifndef QUENFOLD_IO_CURSOR_H
#define QUENFOLD_IO_CURSOR_H

#include <cstdint>
#include <string_view>

// Unsigned integers at p, which the caller has checked holds them: ZIP and
// RAR store them little-endian, PalmDB files big-endian.
inline std::uint16_t eb_le16(const unsigned char *p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t eb_le32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t eb_le64(const unsigned char *p) {
    return eb_le32(p) | static_cast<std::uint64_t>(eb_le32(p + 4)) << 32;
}
inline std::uint16_t eb_be16(const unsigned char *p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t eb_be32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// A record is read field by field through a cursor over bytes already held:
// a field that would run past the end gives zero (or null) and clears ok()
// for good, so the record is judged once, after its last field, with no
// check forgotten in between and no byte read outside the bytes held.
class eb_cursor {
  public:
    eb_cursor(const unsigned char *p, std::uint64_t n) : p_(p), n_(p ? n : 0) {}
    explicit eb_cursor(std::string_view s)
        : eb_cursor(reinterpret_cast<const unsigned char *>(s.data()), s.size()) {}

    bool ok() const { return ok_; }
    std::uint64_t pos() const { return at_; }
    std::uint64_t left() const { return n_ - at_; }

    std::uint16_t le16() { return field<2>(eb_le16); }
    std::uint32_t le32() { return field<4>(eb_le32); }
    std::uint64_t le64() { return field<8>(eb_le64); }
    std::uint16_t be16() { return field<2>(eb_be16); }
    std::uint32_t be32() { return field<4>(eb_be32); }

    // RAR 5's variable-length integer: 7 bits a byte, low bits first, a set
    // high bit announcing another byte, at most ten bytes.
    std::uint64_t vint() {
        std::uint64_t v = 0;
        for (unsigned shift = 0; ok_ && at_ < n_ && shift < 64; shift += 7) {
            const unsigned char b = p_[at_++];
            v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
            if (!(b & 0x80)) return v;
        }
        ok_ = false;
        return 0;
    }

    // n bytes at the cursor, which moves past them; null when fewer remain.
    const unsigned char *take(std::uint64_t n) {
        if (!ok_ || n > n_ - at_) {
            ok_ = false;
            return nullptr;
        }
        const unsigned char *b = p_ + at_;
        at_ += n;
        return b;
    }
    // The same as text ("" when fewer remain).
    std::string_view text(std::uint64_t n) {
        const unsigned char *b = take(n);
        return b ? std::string_view(reinterpret_cast<const char *>(b), n) : std::string_view();
    }
    void skip(std::uint64_t n) { take(n); }

  private:
    template <std::uint64_t N, typename R>
    R field(R (*decode)(const unsigned char *)) {
        const unsigned char *b = take(N);
        return b ? decode(b) : 0;
    }

    const unsigned char *p_;
    std::uint64_t n_;
    std::uint64_t at_ = 0;
    bool ok_ = true;
};

#endif  // QUENFOLD_IO_CURSOR_H
