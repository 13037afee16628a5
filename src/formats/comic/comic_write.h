// comic_write.h - the CBZ writer of the format table.
#ifndef QUENFOLD_FORMATS_COMIC_COMIC_WRITE_H
#define QUENFOLD_FORMATS_COMIC_COMIC_WRITE_H

#include "ops/write/writer.h"

// ComicInfo.xml of a ZIP comic edited in place, or made at the root; the
// pages copied raw. RAR, 7z and tar comics have no writer: no RAR writer
// exists, and packing 7z or tar again would change every byte.
extern const eb_format_writer eb_cbz_writer;

#endif  // QUENFOLD_FORMATS_COMIC_COMIC_WRITE_H
