// pdf_undo.h - the last incremental update this library appended to a PDF, taken off again.
#ifndef QUENFOLD_OPS_WRITE_PDF_UNDO_H
#define QUENFOLD_OPS_WRITE_PDF_UNDO_H

#include <cstdint>

#include "ops/write/writer.h"

// The length of the file before the update at its very end, when that
// update is one of ours: its closing mark, startxref and %%EOF end the file,
// and its opening mark stands where the length it names says. False with
// the error text set otherwise ("PDF ends with no update written by
// quenfold-ebook-meta; nothing changed"). Reads at most a few hundred bytes.
bool eb_pdf_last_update(const eb_source &book, std::uint64_t *before_size);

// Writer-shaped, for the write engine: writes the bytes before that update
// into out_fd, exactly the file as it was before it. `before` and `changes`
// are not used: the record read back is the old one, so the engine checks
// that it reads, not that it keeps the fields.
int eb_undo_pdf_update(const eb_source &book, const eb_record &before, const eb_changes &changes,
                       int out_fd);

#endif  // QUENFOLD_OPS_WRITE_PDF_UNDO_H
