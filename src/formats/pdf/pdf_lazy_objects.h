// pdf_lazy_objects.h - single PDF objects read where the cross-reference data places them: the
// "n g obj" header checked, the value parsed, a stream's data found by its length.
#ifndef QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H
#define QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H

#include <qpdf/InputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "formats/pdf/pdf_lazy_parse.h"
#include "formats/pdf/pdf_source.h"

// An object as it lies in the file. References in its value point into the
// reader's context, where nothing resolves them: the lazy reader resolves
// each one it needs itself.
struct eb_pdf_object {
    QPDFObjectHandle value;  // a stream's dictionary for a stream
    bool stream = false;
    std::uint64_t data_at = 0, data_len = 0;  // a stream's raw data
};

class eb_pdf_objects {
  public:
    explicit eb_pdf_objects(std::shared_ptr<eb_pdf_input> in);

    std::uint64_t size() const { return size_; }
    // The context of the references in parsed values; nothing resolves them.
    QPDF &context() { return ctx_; }

    // "num gen obj", a value, then "endobj", or a dictionary, "stream", its
    // data and "endstream endobj", at off. num < 0 takes any number (a
    // cross-reference stream is found by offset alone). A /Length that refers
    // to another object is asked of length.
    eb_pdf_object object_at(std::uint64_t off, int num, int gen,
                            const std::function<long long(QPDFObjGen)> &length);
    // f(parser) over the file from off: on the bytes at hand there, then on
    // a piece of at least 64 KiB, eight times larger each time f runs past the
    // piece's end (up to 4 MiB, beyond which an object is left to qpdf). f
    // must read nothing itself: the bytes at hand would move.
    template <typename F>
    auto parse_at(std::uint64_t off, F &&f);
    // The n bytes at off where they lie when they are at hand, else in a
    // buffer reused from one call to the next (the view holds until then).
    std::string_view span(std::uint64_t off, std::size_t n);
    // The n bytes at off. A small piece comes with the bytes around it.
    std::string bytes(std::uint64_t off, std::size_t n);

  private:
    // The n bytes at off in a buffer reused from one call to the next.
    std::string_view piece(std::uint64_t off, std::size_t n);

    std::shared_ptr<eb_pdf_input> file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t buffer_size_ = 0;
    std::shared_ptr<InputSource> in_;
    std::uint64_t size_;
    QPDF ctx_;
};

template <typename F>
auto eb_pdf_objects::parse_at(std::uint64_t off, F &&f) {
    constexpr std::uint64_t kFirst = 65536, kMost = 4u << 20;
    eb_pdf_require(off < size_);
    // The bytes at hand are parsed where they lie (f reads nothing more).
    const std::string_view hand = file_->cached(off);
    if (!hand.empty()) {
        eb_pdf_parser p(ctx_, hand, hand.size() == size_ - off);
        try {
            return f(p);
        } catch (const eb_pdf_short &) {
        }
    }
    const std::uint64_t more = hand.size() * 8 < kMost ? hand.size() * 8 : kMost;
    for (std::uint64_t window = more < kFirst ? kFirst : more;;) {
        const std::uint64_t n = window < size_ - off ? window : size_ - off;
        eb_pdf_parser p(ctx_, piece(off, static_cast<std::size_t>(n)), n == size_ - off);
        try {
            return f(p);
        } catch (const eb_pdf_short &) {
        }
        eb_pdf_require(window < kMost);
        window = window * 8 < kMost ? window * 8 : kMost;
    }
}

// A stream's data decoded, at most cap bytes: as it is without a filter,
// inflated for /FlateDecode, then undone from a PNG predictor when
// png_columns is not 0 and the parameters name one with these columns.
// Anything else, data that inflates past cap and broken data give up.
std::string eb_pdf_decode(std::string_view raw, QPDFObjectHandle dict, std::size_t cap,
                          std::size_t png_columns = 0);

#endif  // QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H
