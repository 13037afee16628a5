// verify.h - the new book's record held against the old one and the request.
#ifndef QUENFOLD_OPS_WRITE_VERIFY_H
#define QUENFOLD_OPS_WRITE_VERIFY_H

#include "full_record.h"
#include "ops/write/writer.h"

// Forgets the fields of c whose value the book already states (a set equal
// to what is read, a clear of what is absent): a request that changes
// nothing writes nothing, and a format is not blamed for lacking a place
// for a value it does not hold. A new cover is never taken as unchanged.
void eb_changes_drop_unchanged(const eb_record &before, eb_changes &c);

// Whether after (the new book as the reader reads it) states every value
// requested, and every other field as before: only "modified" may differ,
// and no warning is new. Lists compare in order, subjects as a set; a
// person given without a sort form takes the one the format gives. Kept
// identifiers (a package's unique identifier) may remain beside those
// requested. False with the error text set: "verification failed: %s".
bool eb_write_verify(const eb_record &before, const eb_record &after, const eb_changes &c);

#endif  // QUENFOLD_OPS_WRITE_VERIFY_H
