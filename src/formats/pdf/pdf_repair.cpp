// pdf_repair.cpp - a rebuild's search for a trailer tried first under a budget: the lines it would
// parse a trailer after, each parse cut off where the budget ends.
#include <qpdf/InputSource.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "formats/pdf/pdf_quiet.h"
#include "formats/pdf/pdf_walk.h"
#include "formats/pdf/pdf_source.h"

namespace {

// Bytes all the failed parses together may read: a real damaged file needs
// a few hundred, one parse at most.
constexpr std::uint64_t kBudget = 1u << 20;

// The document up to limit and no further: a parse that would read on
// meets the end of the file there. Tells how far it was read.
class bounded_input final : public InputSource {
  public:
    bounded_input(eb_pdf_input &in, qpdf_offset_t limit) : in_(in), limit_(limit) {}

    qpdf_offset_t findAndSkipNextEOL() override {
        char c;
        while (read(&c, 1) == 1)
            if (c == '\r' || c == '\n') {
                const qpdf_offset_t eol = pos_ - 1;
                while (read(&c, 1) == 1)
                    if (c != '\r' && c != '\n') {
                        --pos_;
                        break;
                    }
                return eol;
            }
        return pos_;
    }
    std::string const &getName() const override { return in_.getName(); }
    qpdf_offset_t tell() override { return pos_; }
    void seek(qpdf_offset_t offset, int whence) override {
        const qpdf_offset_t base = whence == SEEK_END ? limit_ : whence == SEEK_CUR ? pos_ : 0;
        pos_ = std::max<qpdf_offset_t>(0, base + offset);
    }
    void rewind() override { pos_ = 0; }
    size_t read(char *buffer, size_t length) override {
        last_offset = std::min(pos_, limit_);
        if (pos_ >= limit_) return 0;
        const std::size_t n = static_cast<std::size_t>(
            std::min<qpdf_offset_t>(static_cast<qpdf_offset_t>(length), limit_ - pos_));
        in_.seek(pos_, SEEK_SET);
        const std::size_t got = in_.read(buffer, n);
        pos_ += static_cast<qpdf_offset_t>(got);
        furthest_ = std::max(furthest_, pos_);
        return got;
    }
    void unreadCh(char) override {
        if (pos_ > 0) --pos_;
    }
    qpdf_offset_t furthest() const { return furthest_; }

  private:
    eb_pdf_input &in_;
    qpdf_offset_t limit_, pos_ = 0, furthest_ = 0;
};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\0';
}
bool ends_word(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\0' || c == '\r' || c == '\n' ||
           std::strchr("()<>[]{}/%", c) != nullptr;
}

}  // namespace

// A rebuild reads the file line by line and, while it has no trailer,
// parses an object after every line whose first token is "trailer", until
// one is a dictionary. The same parses are made here, in the same order,
// but each stops where the budget left ends; when the budget runs out
// before a dictionary is found, the rebuild would cost more than a
// document may. Lines are found in one pass, whatever their length.
bool eb_pdf_repair_within_budget(const std::shared_ptr<eb_pdf_input> &in, std::uint64_t header_at) {
    in->seek(0, SEEK_END);
    const std::uint64_t size = static_cast<std::uint64_t>(in->tell());
    eb_pdf_quiet scratch;
    QPDFTokenizer tok;
    tok.allowEOF();
    std::uint64_t left = kBudget;
    bool line_blank = true;  // only blanks since the line began
    std::string chunk;
    static constexpr std::string_view kWord = "trailer";
    for (std::uint64_t at = header_at; at < size;) {
        // Pieces overlap by the word's length, so none is missed at a border.
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(size - at, 64 * 1024 + kWord.size() + 1));
        chunk.resize(want);
        in->seek(static_cast<qpdf_offset_t>(at), SEEK_SET);
        // A source that fails gives fewer bytes: its caller reports it.
        if (in->read(chunk.data(), want) < want) break;
        const std::size_t step =
            at + chunk.size() >= size ? chunk.size() : chunk.size() - kWord.size() - 1;
        for (std::size_t i = 0; i < step; ++i) {
            const char c = chunk[i];
            if (c == '\r' || c == '\n') {
                line_blank = true;
                continue;
            }
            if (blank(c)) continue;
            const bool candidate =
                line_blank && c == 't' &&
                std::string_view(chunk).substr(i, kWord.size()) == kWord &&
                (i + kWord.size() >= chunk.size() || ends_word(chunk[i + kWord.size()]));
            line_blank = false;
            if (!candidate) continue;
            const qpdf_offset_t start = static_cast<qpdf_offset_t>(at + i + kWord.size());
            auto view = std::make_shared<bounded_input>(
                *in, static_cast<qpdf_offset_t>(std::min<std::uint64_t>(size, start + left)));
            view->seek(start, SEEK_SET);
            bool empty = false, found = false;
            try {
                found = QPDFObjectHandle::parse(view, "trailer", tok, empty, nullptr, &scratch.pdf)
                            .isDictionary();
            } catch (const std::bad_alloc &) {
                throw;
            } catch (const std::exception &) {
                // not a trailer
            }
            scratch.pdf.getWarnings();
            if (found) return true;
            const std::uint64_t used =
                static_cast<std::uint64_t>(std::max<qpdf_offset_t>(view->furthest() - start, 1));
            if (used >= left) return false;
            left -= used;
        }
        at += step;
    }
    return true;
}
