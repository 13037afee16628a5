// range.cpp - a byte range of a book source, read by doubling prefixes or lent by its parent.

#include "io/range.h"

#include <cstdlib>
#include <cstring>

#include "io/cursor.h"

eb_range::eb_range(const eb_source &src, std::uint64_t start, std::uint64_t n, std::uint64_t first,
                   const eb_range *parent)
    : n(n), src_(&src), parent_(parent), start_(start) {
    ensure(first < n ? first : n);
}

std::uint32_t eb_range::u16(std::uint64_t at) const {
    const unsigned char *p = bytes(at, 2);
    return p ? eb_be16(p) : 0;
}

std::uint32_t eb_range::u32(std::uint64_t at) const {
    const unsigned char *p = bytes(at, 4);
    return p ? eb_be32(p) : 0;
}

bool eb_range::tag(std::uint64_t at, const char *four) const {
    const unsigned char *p = bytes(at, 4);
    return p && std::memcmp(p, four, 4) == 0;
}

const unsigned char *eb_range::bytes(std::uint64_t at, std::uint64_t count) const {
    if (!has(at, count) || !ensure(at + count)) return nullptr;
    return buf_.get() + at;
}

bool eb_range::ensure(std::uint64_t upto) const {
    if (upto <= have_) return true;
    std::uint64_t want = have_ * 2 > upto ? have_ * 2 : upto;
    if (want > n) want = n;
    auto *grown = static_cast<unsigned char *>(std::realloc(buf_.get(), want ? want : 1));
    if (!grown) return false;
    buf_.release();
    buf_.reset(grown);
    const unsigned char *lent = parent_ ? parent_->held(start_ + have_, want - have_) : nullptr;
    if (lent)
        std::memcpy(grown + have_, lent, want - have_);
    else if (!src_->read(start_ + have_, grown + have_, want - have_))
        return false;
    have_ = want;
    return true;
}

const unsigned char *eb_range::held(std::uint64_t at, std::uint64_t count) const {
    return at <= have_ && have_ - at >= count ? buf_.get() + at : nullptr;
}
