// cover.h - writing a book's cover bytes to the host's file.
#ifndef QUENFOLD_OPS_COVER_H
#define QUENFOLD_OPS_COVER_H

#include "io/file.h"
#include "record.h"

// Writes the reader's cover bytes unchanged to out_path, unless that is the
// book file itself; 0, or -1 with the error text set.
int write_cover(const eb_meta &meta, const char *out_path, const eb_file_id &book);

// One book's cover to out_path: through its reader (which fills meta), or
// for a comic archive (by its name, or by content under a name that chooses
// no reader) the image that its record names as the cover. 0, or -1 with
// the error text set.
int extract_cover(const char *path, const char *out_path, eb_meta *meta);

#endif  // QUENFOLD_OPS_COVER_H
