// pdf_lazy_xref.h - a PDF's cross-reference sections read without a table of their entries:
// startxref from the tail, each section's outline and trailer, an object's entry found by
// arithmetic in a classic table or in place among a stream's rows.
#ifndef QUENFOLD_FORMATS_PDF_LAZY_XREF_H
#define QUENFOLD_FORMATS_PDF_LAZY_XREF_H

#include <cstdint>
#include <string>
#include <vector>

#include "formats/pdf/pdf_lazy_objects.h"

class eb_pdf_xref {
  public:
    // Where an object is: type 1 at offset f1 with generation f2, type 2 in
    // object stream f1 (at index f2, which qpdf does not use).
    struct entry {
        int type = 0;
        std::uint64_t f1 = 0, f2 = 0;
    };

    // Finds startxref in the last 1,024 bytes and reads the outline of every
    // section it leads to through /Prev (at most 32): where each classic
    // subsection's entries lie, each stream's /W and /Index, and the
    // trailers, checking the newest trailer's /Size as qpdf does (one more
    // than the highest object number listed anywhere). A stream's rows are
    // inflated only when an entry is looked up in it. Gives up on anything
    // else, any /Encrypt included.
    explicit eb_pdf_xref(eb_pdf_objects &objs);

    // The newest trailer (a cross-reference stream's dictionary).
    QPDFObjectHandle trailer() const { return sections_.front().trailer; }
    // The entry in use for num in the newest section listing it; gives up
    // for an object listed nowhere or free (qpdf reads it as null).
    entry find(std::uint64_t num);
    // The entries in use in the newest section, each checked (a lower bound
    // of qpdf's count of the file's objects); gives up for a hybrid section.
    std::uint64_t in_use();

  private:
    struct run {
        std::uint64_t first, count;
        std::uint64_t at;  // a table's first entry; a stream's first row
    };
    // The entries of a classic table or of a cross-reference stream.
    struct part {
        bool stream = false;
        std::vector<run> runs;
        int w[3] = {0, 0, 0};
        std::uint64_t rows = 0;  // all runs together
        QPDFObjectHandle dict;
        std::uint64_t data_at = 0, data_len = 0;
        std::string decoded;
        bool inflated = false;
    };
    struct section {
        part main;
        bool hybrid = false;
        part xref_stream;  // /XRefStm of a hybrid file
        QPDFObjectHandle trailer;
    };

    std::uint64_t startxref();
    void read_section(std::uint64_t at);
    void read_table(std::uint64_t at, section &s);
    void read_stream(std::uint64_t at, part &p, bool own_trailer);
    entry entry_in(part &p, std::uint64_t num, bool &listed);
    const std::string &rows_of(part &p);

    eb_pdf_objects &objs_;
    std::vector<section> sections_;
    std::uint64_t highest_ = 0;  // the highest object number listed
    std::size_t runs_ = 0;       // subsections read, all sections together
    std::uint64_t stream_rows_ = 0;  // objects listed by cross-reference streams
};

#endif  // QUENFOLD_FORMATS_PDF_LAZY_XREF_H
