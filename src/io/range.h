// range.h - one byte range of a book source, fetched on demand by the readers that read in parts.
#ifndef QUENFOLD_IO_RANGE_H
#define QUENFOLD_IO_RANGE_H

#include <cstdint>

#include "heap.h"
#include "io/source.h"

// [start, start + n) of the source. The first accessor that needs a byte
// fetches the prefix up to it (at least doubling what is held, so a range is
// read in a few requests at most). A range lying in its parent's bytes copies
// them from there instead of reading again. Integers are unsigned big-endian,
// as in every PalmDB file. Reads outside the range, and reads the source
// cannot serve, give zero and no bytes; callers check ranges first, and a
// short read is reported once the reader is done (the source remembers it).
class eb_range {
  public:
    // first: how many bytes to fetch at once (clamped to n).
    eb_range(const eb_source &src, std::uint64_t start, std::uint64_t n, std::uint64_t first,
             const eb_range *parent = nullptr);

    std::uint64_t n;

    std::uint32_t u16(std::uint64_t at) const;
    std::uint32_t u32(std::uint64_t at) const;
    bool has(std::uint64_t at, std::uint64_t count) const { return at <= n && n - at >= count; }
    // The four bytes at at equal four.
    bool tag(std::uint64_t at, const char *four) const;
    // count bytes at at, valid until the next access; null outside the range.
    const unsigned char *bytes(std::uint64_t at, std::uint64_t count) const;

  private:
    bool ensure(std::uint64_t upto) const;
    // Bytes already held at offset at of this range, without reading more.
    const unsigned char *held(std::uint64_t at, std::uint64_t count) const;

    const eb_source *src_;
    const eb_range *parent_;
    std::uint64_t start_;
    mutable eb_unique<unsigned char> buf_;
    mutable std::uint64_t have_ = 0;
};

#endif  // QUENFOLD_IO_RANGE_H
