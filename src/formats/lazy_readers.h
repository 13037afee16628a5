// lazy_readers.h - the readers over libqpdf and libarchive, kept in a module the library opens at
// the first book that needs it.
#ifndef QUENFOLD_FORMATS_LAZY_READERS_H
#define QUENFOLD_FORMATS_LAZY_READERS_H

#include <cstddef>
#include <cstdint>

#include "formats/comic/comic_archive.h"
#include "full_record.h"
#include "ops/write/writer.h"
#include "io/source.h"

// libqpdf and libarchive bring about twenty shared objects with them (gnutls,
// nettle, ICU, libxml2...), whose loading and constructors cost a process
// about 3.7 ms before it reads anything: more than fifty EPUBs, and paid by
// every `info` call and every Python import. So the PDF reader and the
// libarchive side of the comic reader live in a module of their own,
// libquenfold-ebook-meta-pdf-comics.so.<version>, installed beside the
// library and opened (once per process, never closed) by the first PDF or
// RAR, 7z or tar comic. A process that reads EPUB, FictionBook, Mobipocket
// and CBZ books never loads them.
//
// The module carries its own copy of the internal code it needs; objects
// cross between the two copies (a source, a record, a listing), so both must
// come from one build: the module's table states the layout it was built
// with, and the library refuses a module of another.

// The PDF family's entry points (pdf/pdf.cpp, pdf/pdf_write.cpp).
struct eb_lazy_pdf {
    int (*record)(const eb_source &src, eb_record &r);
    int (*write)(const eb_source &book, const eb_record &before, const eb_changes &changes,
                 int out_fd);
};

// The comic family's side over libarchive (comic/comic_libarchive.cpp).
struct eb_lazy_archive {
    eb_comic_listing (*list)(const eb_source &src, eb_comic_kind kind);
    eb_comic_read (*read)(const eb_source &src, eb_comic_kind kind, const eb_comic_member &m,
                          std::uint64_t cap, std::uint64_t *unsized, char **out,
                          std::uint64_t *len);
};

// A module's one table: its layout, its error text, and the entry points of
// each family it holds (null for a family it does not hold). A family's
// entry points grow by a member (a layout change); a family may move to a
// module of its own by naming another file for it in the loader.
struct eb_lazy_readers {
    std::uint64_t layout;  // eb_lazy_layout() where the module was built
    // The module's own per-thread error text (its copy of eb_set_error's),
    // emptied before each call and carried over into the library's after
    // it; null when the readers are linked into the library itself and
    // share its text.
    const char *(*error_text)();
    void (*clear_error)();
    const eb_lazy_pdf *pdf;
    const eb_lazy_archive *archive;
};

// The sizes of what crosses, folded into one number.
constexpr std::uint64_t eb_lazy_layout() {
    return (sizeof(eb_record) << 40) ^ (sizeof(eb_changes) << 32) ^ (sizeof(eb_source) << 24) ^
           (sizeof(eb_comic_listing) << 12) ^ (sizeof(eb_comic_member) << 4) ^
           (sizeof(eb_lazy_pdf) << 2) ^ (sizeof(eb_lazy_archive) << 1) ^ sizeof(eb_lazy_readers);
}

// The module's one export, a C name so that dlsym finds it.
#define EB_LAZY_ENTRY "quenfold_ebook_meta_lazy_readers"
extern "C" const eb_lazy_readers *quenfold_ebook_meta_lazy_readers();

// The library's side (lazy_readers_load.cpp): each call goes through the
// table of the module that holds its family. In the shared library that
// module is opened at the first call that needs it; in the internal library
// of the tests and tools the readers are linked in and the table is theirs.
// When the module cannot be opened: the PDF "cannot read PDF: %s (its
// reader is not available: <why>)", the listing a warning saying the same
// of archives, the read damaged; <why> names the file.
int eb_lazy_record_pdf(const eb_source &src, eb_record &r);
// The PDF writer (pdf/pdf_write.h) through the module; "cannot write PDF:
// %s (its writer is not available: <why>)" when it cannot be opened.
int eb_lazy_write_pdf(const eb_source &book, const eb_record &before, const eb_changes &changes,
                      int out_fd);
eb_comic_listing eb_lazy_archive_list(const eb_source &src, eb_comic_kind kind);
eb_comic_read eb_lazy_archive_read(const eb_source &src, eb_comic_kind kind,
                                   const eb_comic_member &m, std::uint64_t cap,
                                   std::uint64_t *unsized, char **out, std::uint64_t *len);

#endif  // QUENFOLD_FORMATS_LAZY_READERS_H
