// write_out.h - writing a new book into the writer's output file: whole buffers, and ranges of the
// old book copied as they are.
#ifndef QUENFOLD_IO_WRITE_OUT_H
#define QUENFOLD_IO_WRITE_OUT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/source.h"

// Every byte of data to fd, through short writes and interruptions. False
// with the error text set ("cannot write the new book (No space left on
// device)").
bool eb_write_all(int fd, std::string_view data);

// n bytes of the book from off to fd, unchanged: an opened file by
// copy_file_range, else in blocks of at most 1 MiB (a source in memory is
// written in place). False with the error text set when the book cannot be
// read ("short read: ...") or fd not written.
bool eb_copy_range(const eb_source &book, std::uint64_t off, std::uint64_t n, int fd);

#endif  // QUENFOLD_IO_WRITE_OUT_H
