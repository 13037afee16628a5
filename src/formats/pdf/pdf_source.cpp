// pdf_source.cpp - libqpdf's input over a book source: positions, lines, and a read-ahead cache.
#include "formats/pdf/pdf_source.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t kMinWindow = 4096;        // first fill after a jump; the alignment too
constexpr std::size_t kMaxWindow = 128 * 1024;  // a run of sequential fills stops growing here
constexpr std::size_t kAround = 16 * 1024;      // the bytes around an object looked up

}  // namespace

eb_pdf_input::eb_pdf_input(const eb_source &src) : src_(src), size_(src.size()) {}

void eb_pdf_input::seek(qpdf_offset_t offset, int whence) {
    qpdf_offset_t base = whence == SEEK_END   ? static_cast<qpdf_offset_t>(size_)
                         : whence == SEEK_CUR ? pos_
                                              : 0;
    // Past the end is allowed (reads there give nothing); before the start is
    // a fault of the caller, as for qpdf's own sources.
    if (offset < 0 && base < -offset) throw std::runtime_error("PDF: seek before the start");
    pos_ = base + offset;
}

// Of the blocks holding off, the one reaching furthest past it: an object
// begun near the end of a small block is read whole from a larger one.
const eb_pdf_input::block *eb_pdf_input::find(std::uint64_t off) {
    block *best = nullptr;
    for (block &b : blocks_)
        if (b.len && off >= b.off && off - b.off < b.len &&
            (!best || b.off + b.len > best->off + best->len))
            best = &b;
    if (best) best->used = ++clock_;
    return best;
}

eb_pdf_input::block *eb_pdf_input::load(std::uint64_t start, std::uint64_t len) {
    block *victim = nullptr;
    for (block &b : blocks_)
        if (!b.kept && (!victim || b.used < victim->used)) victim = &b;
    victim->len = 0;
    if (victim->room < len) {
        victim->bytes.reset(new char[static_cast<std::size_t>(len)]);
        victim->room = len;
    }
    ++reads_;
    bytes_ += len;
    if (!src_.read(start, victim->bytes.get(), static_cast<std::size_t>(len))) return nullptr;
    victim->off = start;
    victim->len = len;
    victim->used = ++clock_;
    return victim;
}

const eb_pdf_input::block *eb_pdf_input::fill(std::uint64_t off, std::size_t want) {
    if (src_.failed()) return nullptr;
    const std::uint64_t start = off - off % kMinWindow;
    // A fill that continues the last one is a scan: read further ahead.
    window_ = start <= last_end_ && off >= last_end_ && window_
                  ? (window_ * 2 > kMaxWindow ? kMaxWindow : window_ * 2)
                  : kMinWindow;
    std::uint64_t len = off - start + want;
    if (len < window_) len = window_;
    if (len > size_ - start) len = size_ - start;
    const block *b = load(start, len);
    if (b) last_end_ = start + len;
    return b;
}

void eb_pdf_input::keep(std::uint64_t off, std::size_t len) {
    if (src_.memory() || off >= size_ || src_.failed()) return;
    for (const block &b : blocks_)
        if (b.kept) return;  // one block kept at most
    if (block *b = load(off, len < size_ - off ? len : size_ - off)) b->kept = true;
}

// An object is parsed from the bytes at hand when they hold it whole, and
// again from a larger piece when they do not: a block that ends soon after
// off (the file's first block, holding the header and the objects after it)
// is not enough for an object of a few KiB, such as a flat page list.
void eb_pdf_input::around(std::uint64_t off) {
    if (src_.memory() || off >= size_ || src_.failed()) return;
    if (const block *b = find(off);
        b && (b->off + b->len - off >= kAround / 2 || b->off + b->len == size_))
        return;
    const std::uint64_t aligned = off - off % kMinWindow;
    const std::uint64_t start = aligned < kAround / 4 ? 0 : aligned - kAround / 4;
    load(start, kAround < size_ - start ? kAround : size_ - start);
}

std::size_t eb_pdf_input::copy_out(std::uint64_t off, char *out, std::size_t n) {
    if (const unsigned char *mem = src_.memory()) {
        std::memcpy(out, mem + off, n);
        return n;
    }
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = off + done;
        const std::size_t rest = n - done;
        const block *b = find(at);
        if (!b && rest >= kMaxWindow) {
            if (src_.failed()) break;
            // Stream data in large requests goes straight to the caller.
            ++reads_;
            bytes_ += rest;
            if (!src_.read(at, out + done, rest)) break;
            done = n;
            break;
        }
        if (!b) b = fill(at, rest);
        if (!b) break;
        const std::uint64_t in_block = b->off + b->len - at;
        const std::size_t take = rest < in_block ? rest : static_cast<std::size_t>(in_block);
        std::memcpy(out + done, b->bytes.get() + (at - b->off), take);
        done += take;
    }
    return done;
}

size_t eb_pdf_input::read(char *buffer, size_t length) {
    const std::uint64_t pos = static_cast<std::uint64_t>(pos_);
    if (pos >= size_) {
        last_offset = static_cast<qpdf_offset_t>(size_);
        return 0;
    }
    last_offset = pos_;
    if (length == 0) return 0;
    std::size_t n = length;
    if (n > size_ - pos) n = static_cast<std::size_t>(size_ - pos);
    n = copy_out(pos, buffer, n);
    pos_ += static_cast<qpdf_offset_t>(n);
    return n;
}

std::string_view eb_pdf_input::cached(std::uint64_t off) {
    if (off >= size_) return {};
    if (const unsigned char *mem = src_.memory())
        return {reinterpret_cast<const char *>(mem) + off, static_cast<std::size_t>(size_ - off)};
    const block *b = find(off);
    if (!b) return {};
    return {b->bytes.get() + (off - b->off), static_cast<std::size_t>(b->off + b->len - off)};
}

// The bytes from off on that are at hand without another read: the source's
// own memory, or the cached block holding off (filled when none does).
std::string_view eb_pdf_input::at_hand(std::uint64_t off) {
    if (off >= size_) return {};
    if (const unsigned char *mem = src_.memory())
        return {reinterpret_cast<const char *>(mem) + off, static_cast<std::size_t>(size_ - off)};
    const block *b = find(off);
    if (!b) b = fill(off, 1);
    if (!b) return {};
    return {b->bytes.get() + (off - b->off), static_cast<std::size_t>(b->off + b->len - off)};
}

// The offset of the next CR or LF from the current position, which then
// moves past it and any CR and LF that follow; the end when there is none.
// As with qpdf's own inputs, the last offset changes only when the search
// starts at the end. Scanned where the bytes lie, without copying them.
qpdf_offset_t eb_pdf_input::findAndSkipNextEOL() {
    std::uint64_t at = static_cast<std::uint64_t>(pos_);
    if (at >= size_) {
        pos_ = last_offset = static_cast<qpdf_offset_t>(size_);
        return pos_;
    }
    // Plain loops: qpdf asks once per line of a cross-reference table.
    auto is_eol = [](char c) { return c == '\r' || c == '\n'; };
    std::uint64_t eol = size_;
    for (std::string_view bytes; eol == size_ && !(bytes = at_hand(at)).empty();) {
        std::size_t i = 0;
        while (i < bytes.size() && !is_eol(bytes[i]))
            ++i;
        if (i < bytes.size()) eol = at + i;
        at += i;
    }
    if (eol == size_) {
        pos_ = static_cast<qpdf_offset_t>(size_);
        return pos_;
    }
    at = eol + 1;
    for (std::string_view bytes; !(bytes = at_hand(at)).empty();) {
        std::size_t i = 0;
        while (i < bytes.size() && is_eol(bytes[i]))
            ++i;
        at += i;
        if (i < bytes.size()) break;
    }
    pos_ = static_cast<qpdf_offset_t>(at);
    return static_cast<qpdf_offset_t>(eol);
}
