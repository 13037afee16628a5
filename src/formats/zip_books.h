// zip_books.h - the full record of books inside an archive that is already open (EPUB, zipped FB2).
#ifndef QUENFOLD_FORMATS_ZIP_BOOKS_H
#define QUENFOLD_FORMATS_ZIP_BOOKS_H

#include "full_record.h"
#include "io/zip_archive.h"

// An EPUB from its open archive; the reader contract of full_readers.h.
int eb_record_epub_zip(const eb_zip_archive &za, eb_record &r);

// Announces to the archive the members an EPUB reader reads first: the
// protection lists, the container and the package document where its usual
// name suggests it (the first member named *.opf), so that those lying
// together come in one request.
void eb_epub_prefetch(const eb_zip_archive &za);

// The index of the one FictionBook document in an archive: the only member
// named *.fb2, else the only file member at all; -1 when there is none or more
// than one candidate.
std::int64_t eb_zip_fb2_member(const eb_zip_archive &za);

#endif  // QUENFOLD_FORMATS_ZIP_BOOKS_H
