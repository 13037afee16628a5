// lazy_readers.h - the readers over libqpdf and libarchive, kept in a module the library opens at
// the first book that needs it.
#ifndef QUENFOLD_FORMATS_LAZY_READERS_H
#define QUENFOLD_FORMATS_LAZY_READERS_H

#include <cstddef>
#include <cstdint>

#include "formats/comic_archive.h"
#include "full_record.h"
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
struct eb_lazy_readers {
    std::uint64_t layout;  // eb_lazy_layout() where the module was built
    int (*record_pdf)(const eb_source &src, eb_record &r);
    eb_comic_listing (*la_list)(const eb_source &src, eb_comic_kind kind);
    eb_comic_read (*la_read)(const eb_source &src, eb_comic_kind kind, const eb_comic_member &m,
                             std::uint64_t cap, std::uint64_t *unsized, char **out,
                             std::uint64_t *len);
    // The module's own per-thread error text (its copy of eb_set_error's),
    // emptied before each call and carried over into the library's after it.
    const char *(*error_text)();
    void (*clear_error)();
};

// The sizes of what crosses, folded into one number.
constexpr std::uint64_t eb_lazy_layout() {
    return (sizeof(eb_record) << 40) ^ (sizeof(eb_source) << 24) ^
           (sizeof(eb_comic_listing) << 12) ^ (sizeof(eb_comic_member) << 4) ^
           sizeof(eb_lazy_readers);
}

// The module's one export, a C name so that dlsym finds it.
#define EB_LAZY_ENTRY "quenfold_ebook_meta_lazy_readers"
extern "C" const eb_lazy_readers *quenfold_ebook_meta_lazy_readers();

#endif  // QUENFOLD_FORMATS_LAZY_READERS_H
