// file.h - loading a whole book file into memory, within the size limit.
#ifndef QUENFOLD_IO_FILE_H
#define QUENFOLD_IO_FILE_H

#include <cstdint>

constexpr std::uint64_t EB_MAX_FILE = 536870912;  // 512 MiB

// Loads a whole regular file into one heap block with a NUL after the last
// byte. 0, or -1 with the error text set (out-parameters null and 0).
int eb_read_file(const char *path, char **out, std::uint64_t *out_len);

#endif  // QUENFOLD_IO_FILE_H
