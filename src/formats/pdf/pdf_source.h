// pdf_source.h - a book source as libqpdf's input: positioned reads through a small read-ahead
// cache. A PDF is read by the ranges qpdf asks for, never whole -- except a document whose
// cross-reference data is damaged: qpdf's recovery then scans the whole file once (linear).
#ifndef QUENFOLD_FORMATS_PDF_SOURCE_H
#define QUENFOLD_FORMATS_PDF_SOURCE_H

#include <qpdf/InputSource.hh>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/source.h"

// qpdf reads in small pieces: a 128-byte window for its tokenizer, single
// lines, backward searches near the end. Over a file each would be a pread
// (over a host's callback, a request), so misses fill a block of at least
// 4 KiB, aligned, and blocks read in sequence double up to 128 KiB: a
// cross-reference table or a recovery scan is read in a few large steps,
// scattered objects in small ones. A source in memory is read in place.
// Reads past the end give fewer bytes (qpdf's end of file), never a failed
// source; a source that fails (the file shrank) gives no more bytes and
// keeps its failed flag for the caller to report.
class eb_pdf_input final : public InputSource {
  public:
    explicit eb_pdf_input(const eb_source &src);

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const &getName() const override { return name_; }
    qpdf_offset_t tell() override { return pos_; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { pos_ = 0; }
    size_t read(char *buffer, size_t length) override;
    void unreadCh(char) override {
        if (pos_ > 0) --pos_;
    }

    // Reads [off, off + len) in one request and keeps it for the input's
    // life, never evicted: the end of a PDF (startxref, the trailer, the
    // cross-reference data and the objects written last) is asked for again
    // and again. Nothing for a source in memory, which is read in place.
    void keep(std::uint64_t off, std::size_t len);

    std::uint64_t size() const { return size_; }
    // The bytes from off on that are at hand without another read (in a
    // block of this input, or the source's own memory), valid until the
    // next read; empty when none are.
    std::string_view cached(std::uint64_t off);

    // Reads the 16 KiB around off (4 KiB before it) in one request unless off
    // is at hand: objects a writer put out together lie on either side of
    // the one looked up, and a host's callback is asked for 16 KiB anyway.
    void around(std::uint64_t off);

    // What went to the source: requests made and bytes asked for.
    std::uint64_t source_reads() const { return reads_; }
    std::uint64_t source_bytes() const { return bytes_; }

  private:
    struct block {
        std::uint64_t off = 0, len = 0;
        std::uint64_t used = 0;         // when it was last used, for eviction
        bool kept = false;              // never evicted
        std::unique_ptr<char[]> bytes;  // not cleared first: read over at once
        std::uint64_t room = 0;
    };
    // Up to n bytes at off (which lies before the end) into out; fewer only
    // when the source fails.
    std::size_t copy_out(std::uint64_t off, char *out, std::size_t n);
    const block *fill(std::uint64_t off, std::size_t want);
    block *load(std::uint64_t start, std::uint64_t len);  // into the least recently used block
    const block *find(std::uint64_t off);
    std::string_view at_hand(std::uint64_t off);

    const eb_source &src_;
    const std::uint64_t size_;
    std::string name_ = "PDF";
    qpdf_offset_t pos_ = 0;
    std::array<block, 5> blocks_;  // one of them kept
    std::uint64_t clock_ = 0;
    std::uint64_t last_end_ = ~0ull;  // where the last fill ended
    std::size_t window_ = 0;
    std::uint64_t reads_ = 0, bytes_ = 0;
};

#endif  // QUENFOLD_FORMATS_PDF_SOURCE_H
