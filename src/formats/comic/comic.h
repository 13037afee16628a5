// comic.h - comic archives (CBZ, CBR, CB7, CBT): their full record and their cover image.
#ifndef QUENFOLD_FORMATS_COMIC_H
#define QUENFOLD_FORMATS_COMIC_H

#include <cstdint>

#include "full_record.h"
#include "io/source.h"
#include "io/zip_archive.h"

// Caps of the metadata documents (ComicInfo.xml, comet.xml), inflated: a
// larger one fails the book with "zip member too large: %s".
constexpr std::uint64_t EB_COMIC_DOC_CAP = 4u * 1024u * 1024u;

// The full record of a comic archive named as one. The content decides the
// archive kind, and the format names it ("cbz", "cbr", "cb7", "cbt", with a
// warning when the extension says another). label names the book in
// messages. 0, or -1 with the error text set when the bytes are no archive
// of those kinds.
int eb_record_comic(const eb_source &src, const char *name, const char *label, eb_record &r);

// By content, under a name that chooses no reader: a RAR, 7z or tar archive
// (by signature) holding a ComicInfo.xml where one is looked for. 1 when it
// is no such archive (r untouched, the error text unchanged), else as above.
int eb_record_comic_by_content(const eb_source &src, const char *label, eb_record &r);

// A ZIP without an EPUB container that holds a ComicInfo.xml.
bool eb_comic_zip_by_content(const eb_zip_archive &za);
// The full record of such a ZIP, through the handle already open.
int eb_record_comic_zip(const eb_zip_archive &za, const char *name, eb_record &r);

// The cover image of a comic archive, chosen as for the record: its bytes
// into a new malloc block. by_content as for eb_record_comic_by_content
// (and a ZIP by content as for eb_comic_zip_by_content). 0; 1 when
// by_content and the book is no comic; -1 with the error text set ("no cover
// image found", "cover image is encrypted: %s; will not decrypt",
// "zip member too large: %s", ...).
int eb_comic_cover(const eb_source &src, const char *name, bool by_content, unsigned char **data,
                   std::uint64_t *len);

#endif  // QUENFOLD_FORMATS_COMIC_H
