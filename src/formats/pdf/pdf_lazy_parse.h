// pdf_lazy_parse.h - PDF objects parsed from bytes in memory for the lazy reader: the plain syntax
// writers emit, into qpdf's object handles, and nothing else (anything unusual gives up).
#ifndef QUENFOLD_FORMATS_PDF_LAZY_PARSE_H
#define QUENFOLD_FORMATS_PDF_LAZY_PARSE_H

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <cstdint>
#include <string_view>

// Thrown wherever the lazy reader meets what it does not read the way qpdf
// would without a word: the file is then left to qpdf whole.
struct eb_pdf_give_up {};

inline void eb_pdf_require(bool ok) {
    if (!ok) throw eb_pdf_give_up{};
}

// Thrown when the text ends inside what is being read: a longer piece of the
// file may hold it whole.
struct eb_pdf_short {};

// qpdf's tokenizer costs some thousand instructions a token, and a flat page
// tree root lists every page: parsing the few objects here keeps a book's
// cost apart from its page count. The syntax taken is what writers emit:
// integers (at most 18 digits) and reals, names without # escapes, literal
// and hexadecimal strings (read exactly as qpdf reads them), true, false,
// null, arrays and dictionaries (no key twice) nested at most 32 deep, and
// references; white space is spaces, tabs and line ends. Anything else
// (comments, other bytes, odd tokens) gives up (eb_pdf_give_up), and qpdf,
// which would read it with a warning or by rules of its own, reads the file.
// Of the outermost dictionary only the entries the record's reading looks at
// are built: a reference there becomes one of the context (its number and
// generation kept, nothing resolved), one deeper the operator R; the other
// entries (a flat page tree's list of every page) are read through and
// stand in as the operator "...", which no check takes for a value.
class eb_pdf_parser {
  public:
    // final: the text ends where the file or stream does (no eb_pdf_short).
    eb_pdf_parser(QPDF &ctx, std::string_view text, bool final)
        : ctx_(ctx), text_(text), final_(final) {}

    std::size_t pos() const { return pos_; }
    void seek(std::size_t pos) { pos_ = pos; }

    // The next value; the position moves past it.
    QPDFObjectHandle value();
    // The next word (a keyword or a number, "obj", "12"), which must end
    // where a token can; "" when the text ends first and is final.
    std::string_view word();
    // A non-negative integer word no larger than max.
    std::uint64_t count(std::uint64_t max);
    // Skips white space; false at the end of a final text.
    bool skip_space();
    // Whether the word w comes next (after white space); nothing is taken.
    bool next_is(std::string_view w);
    // Takes one line end, LF or CR LF; false for anything else.
    bool line_end();

  private:
    // What becomes of a value read: a handle, a handle with a reference kept
    // as one, or nothing (read through for its syntax and end alone).
    enum class shape { build, keep_reference, skip };
    QPDFObjectHandle value(int depth, shape how);
    std::string_view name();  // without its slash
    QPDFObjectHandle literal(bool build);
    QPDFObjectHandle hex(bool build);
    QPDFObjectHandle number_or_reference(std::string_view w, shape how);
    bool skip_references();
    char at(std::size_t i);  // text_[i], or eb_pdf_short past the end

    QPDF &ctx_;
    std::string_view text_;
    bool final_;
    std::size_t pos_ = 0;
    QPDFObjectHandle stand_in_;  // for the values read through
};

#endif  // QUENFOLD_FORMATS_PDF_LAZY_PARSE_H
