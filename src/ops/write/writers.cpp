// writers.cpp - the writer of each format that has one, by the name the record gives the format.
#include "formats/comic/comic_write.h"
#include "formats/epub/epub_write.h"
#include "formats/fb2/fb2_write.h"
#include "ops/write/writer.h"

const eb_format_writer *eb_writer_for_format(std::string_view format) {
    if (format == "epub") return &eb_epub_writer;
    if (format == "fb2") return &eb_fb2_writer;
    if (format == "cbz") return &eb_cbz_writer;
    return nullptr;
}
