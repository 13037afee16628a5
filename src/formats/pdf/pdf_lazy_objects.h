// pdf_lazy_objects.h - single PDF objects read where the cross-reference data places them: the
// "n g obj" header checked, the value parsed by qpdf's parser, a stream's data found by its length.
#ifndef QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H
#define QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H

#include <qpdf/InputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/pdf/pdf_source.h"

// Thrown wherever the lazy reader meets what it does not read the way qpdf
// would without a word: the file is then left to qpdf whole.
struct eb_pdf_give_up {};

inline void eb_pdf_require(bool ok) {
    if (!ok) throw eb_pdf_give_up{};
}

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
    // The context of the parsed values. Its warnings are the parser's (and
    // stream decoding's) complaints: any at all means qpdf would complain.
    QPDF &context() { return ctx_; }

    // "num gen obj", a value, then "endobj", or a dictionary, "stream", its
    // data and "endstream endobj", at off. num < 0 takes any number (a
    // cross-reference stream is found by offset alone). A /Length that refers
    // to another object is asked of length.
    eb_pdf_object object_at(std::uint64_t off, int num, int gen,
                            const std::function<long long(QPDFObjGen)> &length);
    // One value parsed at off in `in` (the file, or an object stream's data).
    QPDFObjectHandle value_at(const std::shared_ptr<InputSource> &in, std::uint64_t off);
    // The next token at off in `in` (tt_eof at its end), and where it ends.
    QPDFTokenizer::Token token_at(const std::shared_ptr<InputSource> &in, std::uint64_t off,
                                  std::uint64_t *end = nullptr);
    // The n bytes at off. A small piece comes with the bytes around it.
    std::string bytes(std::uint64_t off, std::size_t n);
    const std::shared_ptr<InputSource> &file() const { return in_; }

  private:
    std::shared_ptr<eb_pdf_input> file_;
    std::shared_ptr<InputSource> in_;
    std::uint64_t size_;
    QPDF ctx_;
    QPDFTokenizer tok_;    // the parser's
    QPDFTokenizer probe_;  // single tokens, the end of the input one of them
};

// A non-negative integer token's value; gives up on any other token or one
// above max.
std::uint64_t eb_pdf_count(const QPDFTokenizer::Token &t, std::uint64_t max);

// A stream's data decoded, at most cap bytes: as it is without a filter,
// inflated for /FlateDecode, then undone from a PNG predictor when
// png_columns is not 0 and the parameters name one with these columns.
// Anything else, data that inflates past cap and broken data give up.
std::string eb_pdf_decode(const std::string &raw, QPDFObjectHandle dict, std::size_t cap,
                          std::size_t png_columns = 0);

#endif  // QUENFOLD_FORMATS_PDF_LAZY_OBJECTS_H
