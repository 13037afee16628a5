// writers.cpp - the writer of a book, found by the record's name of its format in the format table.
#include "formats/registry.h"
#include "ops/write/writer.h"

const eb_format_writer *eb_writer_for_format(std::string_view format) {
    const eb_format *f = eb_format_named(format);
    return f ? f->writer : nullptr;
}
