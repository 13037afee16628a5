// zip.h - ZIP member access over bytes held in memory (no copy, no state between calls).
#ifndef QUENFOLD_IO_ZIP_H
#define QUENFOLD_IO_ZIP_H

#include <cstdint>

int eb_zip_ok(const void *data, std::uint64_t len);
// A member's bytes as a new malloc block of exactly its length (no NUL added);
// null with the length 0 and the error text set on any failure.
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name, std::uint64_t *out_len);
// 1 when some member's raw stored name, cut to 511 bytes, contains needle;
// 0 when none does; -1 when the archive does not open.
int eb_zip_name_contains(const void *data, std::uint64_t len, const char *needle);

#endif  // QUENFOLD_IO_ZIP_H
