// file.h - loading a whole book file into memory, within the size limit.
#ifndef QUENFOLD_IO_FILE_H
#define QUENFOLD_IO_FILE_H

#include <cstdint>

constexpr std::uint64_t EB_MAX_FILE = 536870912;  // 512 MiB

// Which file a path led to: device and inode of the opened file.
struct eb_file_id {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const eb_file_id &o) const { return dev == o.dev && ino == o.ino; }
};

// Loads a whole regular file into one heap block with a NUL after the last
// byte, and tells which file it was when id is given. 0, or -1 with the error
// text set (out-parameters null and 0).
int eb_read_file(const char *path, char **out, std::uint64_t *out_len, eb_file_id *id = nullptr);

#endif  // QUENFOLD_IO_FILE_H
