// zip.h - ZIP members by name, over an open archive or over bytes held in memory.
#ifndef QUENFOLD_IO_ZIP_H
#define QUENFOLD_IO_ZIP_H

#include <cstdint>

// A member may inflate to at most the size of a whole book file (512 MiB).
constexpr std::uint64_t EB_ZIP_MAX_MEMBER = 536870912;
// Markup members (container, package document) stay far below this; one
// that claims more is refused, so a small archive cannot make a call hold
// hundreds of MiB.
constexpr std::uint64_t EB_ZIP_MAX_MARKUP = 16777216;  // 16 MiB

class eb_zip_archive;

int eb_zip_ok(const void *data, std::uint64_t len);
// A member's bytes as a new malloc block of exactly its length (no NUL added);
// null with the length 0 and the error text set on any failure, a member
// longer than max_len included.
char *eb_zip_extract(const void *data, std::uint64_t len, const char *name, std::uint64_t *out_len,
                     std::uint64_t max_len = EB_ZIP_MAX_MEMBER);
// 1 when some member's raw stored name, cut to 511 bytes, contains needle;
// 0 when none does; -1 when the archive does not open.
int eb_zip_name_contains(const void *data, std::uint64_t len, const char *needle);

// The same two over an archive already open: the member named name, first
// match in central-directory order with ASCII case folded, at most max_len
// and never above 512 MiB ("missing zip entry: %s" on any failure); and the
// name scan (1 or 0).
char *eb_zip_member(const eb_zip_archive &za, const char *name, std::uint64_t *out_len,
                    std::uint64_t max_len = EB_ZIP_MAX_MEMBER);
int eb_zip_names_contain(const eb_zip_archive &za, const char *needle);

#endif  // QUENFOLD_IO_ZIP_H
