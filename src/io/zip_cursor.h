// zip_cursor.h - little-endian fields of ZIP records read through one bounds-checked cursor.
#ifndef QUENFOLD_IO_ZIP_CURSOR_H
#define QUENFOLD_IO_ZIP_CURSOR_H

#include <cstdint>

// Every ZIP record is read through a cursor over bytes already held: a field
// that would run past the end gives zero and clears ok() for good, so a
// record is read field by field and judged once, with no check forgotten in
// between and no byte read outside the bytes held.
class eb_zip_cursor {
  public:
    eb_zip_cursor(const unsigned char *p, std::uint64_t n) : p_(p), n_(n) {}

    bool ok() const { return ok_; }
    std::uint64_t pos() const { return at_; }
    std::uint64_t left() const { return n_ - at_; }

    std::uint16_t u16() {
        const unsigned char *b = take(2);
        return b ? static_cast<std::uint16_t>(b[0] | b[1] << 8) : 0;
    }
    std::uint32_t u32() {
        const unsigned char *b = take(4);
        return b ? static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                       static_cast<std::uint32_t>(b[2]) << 16 |
                       static_cast<std::uint32_t>(b[3]) << 24
                 : 0;
    }
    std::uint64_t u64() {
        const std::uint64_t lo = u32();
        return lo | static_cast<std::uint64_t>(u32()) << 32;
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
    void skip(std::uint64_t n) { take(n); }

  private:
    const unsigned char *p_;
    std::uint64_t n_;
    std::uint64_t at_ = 0;
    bool ok_ = true;
};

#endif  // QUENFOLD_IO_ZIP_CURSOR_H
