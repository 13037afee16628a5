// writer.h - the seam between the write engine and a format's writer: the changes asked for, and
// what a writer must produce.
#ifndef QUENFOLD_OPS_WRITE_WRITER_H
#define QUENFOLD_OPS_WRITE_WRITER_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "full_record.h"
#include "io/source.h"

// One field of a change request: absent (the book keeps what it states),
// cleared (null, "" or [] in the request: the book states nothing), or set.
template <typename T>
struct eb_field_change {
    bool given = false;      // the key was in the request
    std::optional<T> value;  // empty when given: remove what the book states
    bool sets() const { return given && value.has_value(); }
    bool clears() const { return given && !value.has_value(); }
};

// A new cover, read from the file the request names and recognised by its
// magic bytes before any writer sees it.
struct eb_cover_image {
    std::string bytes;
    std::string mime;       // "image/jpeg" | "image/png" | "image/gif" | "image/webp"
    std::string extension;  // "jpg" | "png" | "gif" | "webp"
};

// The fields a request may name, as bits: a format states the ones it has a
// place for, and a request naming another fails before anything is written.
enum eb_write_field : unsigned {
    EB_W_TITLE = 1u << 0,
    EB_W_TITLE_SORT = 1u << 1,
    EB_W_SUBTITLE = 1u << 2,
    EB_W_AUTHORS = 1u << 3,
    EB_W_CONTRIBUTORS = 1u << 4,
    EB_W_LANGUAGES = 1u << 5,  // "language" and "languages"
    EB_W_SERIES = 1u << 6,
    EB_W_IDENTIFIERS = 1u << 7,
    EB_W_ISBN = 1u << 8,
    EB_W_PUBLISHER = 1u << 9,
    EB_W_PUBLISHED = 1u << 10,
    EB_W_DESCRIPTION = 1u << 11,
    EB_W_SUBJECTS = 1u << 12,
    EB_W_RIGHTS = 1u << 13,
    EB_W_COVER = 1u << 14,
};

// A request, checked and normalised: every text valid UTF-8, ISBNs as 13
// digits, languages as BCP 47 tags (the primary first), dates ISO 8601.
// Texts come as the reader gives them: one-line texts with their white
// space folded, lists without repeats, identifiers named as the reader
// names them, and the description as plain paragraphs separated by one
// blank line, each with single spaces. A writer writes each value so that
// the book's reader gives it back unchanged; the engine checks that it does.
// When both identifiers and isbn are given, the identifiers hold no ISBN:
// the isbn is the one the book is to state.
struct eb_changes {
    eb_field_change<std::string> title, title_sort, subtitle;
    eb_field_change<std::vector<eb_person>> authors, contributors;
    eb_field_change<std::vector<std::string>> languages;
    eb_field_change<std::vector<eb_series>> series;
    eb_field_change<std::vector<eb_identifier>> identifiers;
    eb_field_change<std::string> isbn;
    eb_field_change<std::string> publisher, published, description, rights;
    eb_field_change<std::vector<std::string>> subjects;
    eb_field_change<eb_cover_image> cover;
    // The moment of the write, UTC, "YYYY-MM-DDThh:mm:ssZ": what a format's
    // modification date (dcterms:modified, ModDate) is set to.
    std::string now;

    // The eb_write_field bits of the fields given (set or cleared).
    unsigned given() const;
};

// One format's writer, named by its row of the format table. write() reads
// the book through `book` (whose record as read is `before`) and writes the
// whole new book into out_fd, an empty temporary file opened for writing
// beside the book; the engine flushes it, reads it back, checks it and
// renames it over the book. It never touches the book's own file. 0, or -1
// with the error text set.
struct eb_format_writer {
    const char *books;  // what "<field>: not stored by %s" names, e.g. "EPUB books"
    unsigned stores;    // eb_write_field bits this format has a place for
    int (*write)(const eb_source &book, const eb_record &before, const eb_changes &changes,
                 int out_fd);
};

// The writer of a format as the record names it ("epub", "fb2", "cbz"...);
// null when the format has none.
const eb_format_writer *eb_writer_for_format(std::string_view format);

#endif  // QUENFOLD_OPS_WRITE_WRITER_H
