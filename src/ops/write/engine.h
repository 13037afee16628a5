// engine.h - how every write happens: a new book beside the old one, checked, renamed over it.
#ifndef QUENFOLD_OPS_WRITE_ENGINE_H
#define QUENFOLD_OPS_WRITE_ENGINE_H

#include <string_view>

// The work of ebook_write_metadata (flags as the public header defines
// them): the new book's record as JSON, or null with the error text set and
// the book byte for byte as it was, nothing left beside it.
// writer, when given, stands in for the format's own (the tests' doubles).
struct eb_format_writer;
char *eb_write_book(const char *path, std::string_view changes_json, unsigned flags,
                    const eb_format_writer *writer = nullptr);

#endif  // QUENFOLD_OPS_WRITE_ENGINE_H
