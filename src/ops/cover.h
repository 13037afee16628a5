// cover.h - writing a book's cover bytes to the host's file.
#ifndef QUENFOLD_OPS_COVER_H
#define QUENFOLD_OPS_COVER_H

#include "record.h"

// Writes the reader's cover bytes unchanged; 0, or -1 with the error text set.
int write_cover(const eb_meta &meta, const char *out_path);

#endif  // QUENFOLD_OPS_COVER_H
