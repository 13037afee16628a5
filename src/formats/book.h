// book.h - one book on its way to a reader: its source and name, and what choosing its format
// learnt of it.
#ifndef QUENFOLD_FORMATS_BOOK_H
#define QUENFOLD_FORMATS_BOOK_H

#include <memory>
#include <optional>
#include <string_view>

#include "io/file.h"
#include "io/source.h"
#include "io/zip_archive.h"

// Choosing a format may read the book's first bytes, open it as a ZIP
// archive or read its whole text (a FictionBook found by its root element);
// each of these is done at most once and kept for the reader the choice
// hands the book to, so that nothing is read twice. One call, one thread.
class eb_book {
  public:
    // The first bytes kept: the content tests look at the first 1,024 at
    // most (a PDF header lies within them).
    static constexpr std::size_t kHead = 1024;

    // name (may be null) chooses the format by its ending; label names the
    // book in messages. Both must outlive the book.
    eb_book(const eb_source &src, const char *name, const char *label);
    ~eb_book();
    eb_book(const eb_book &) = delete;
    eb_book &operator=(const eb_book &) = delete;

    const eb_source &src() const { return src_; }
    const char *name() const { return name_; }
    const char *label() const { return label_; }

    // The name ending that chose the format (one of the table's extensions),
    // or "" when the content chose it.
    std::string_view suffix() const { return suffix_; }
    bool by_content() const { return suffix_.empty(); }
    void chosen_by(std::string_view suffix) { suffix_ = suffix; }

    // The first kHead bytes (all of a shorter book); "" when they cannot be
    // read (the source then says it failed).
    std::string_view head();
    // Whether the book starts as a ZIP archive does ("PK").
    bool zip_signature() { return head().substr(0, 2) == "PK"; }
    // The book as a ZIP archive, opened at the first call.
    const eb_zip_archive &zip();
    bool zip_opened() const { return zip_ != nullptr; }
    // The whole text, read at the first call: null with the error text set
    // when it cannot be ("file too large: %s", "short read: %s"...).
    const std::string_view *text();

    // A read failed while the format was chosen: the source fell short, or
    // the whole text could not be had; the error text or the source says why.
    bool failed() const { return src_.failed() || text_failed_; }

  private:
    const eb_source &src_;
    const char *name_;
    const char *label_;
    std::string_view suffix_;
    bool head_read_ = false;
    std::string_view head_;
    char head_buf_[kHead];
    std::unique_ptr<eb_zip_archive> zip_;
    std::optional<eb_whole_book> whole_;
    std::optional<std::string_view> text_;
    bool text_failed_ = false;
};

#endif  // QUENFOLD_FORMATS_BOOK_H
