// epub_write.h - the EPUB writer of the format table.
#ifndef QUENFOLD_FORMATS_EPUB_EPUB_WRITE_H
#define QUENFOLD_FORMATS_EPUB_EPUB_WRITE_H

#include "ops/write/writer.h"

// EPUB 2 and 3: the package document edited in place (epub_opf_edit.h),
// every other member copied raw, a new cover stored beside the old.
extern const eb_format_writer eb_epub_writer;

#endif  // QUENFOLD_FORMATS_EPUB_EPUB_WRITE_H
