// xml_scan.h - the tag scanner over byte ranges, and XML entity decoding.
#ifndef QUENFOLD_TEXT_XML_SCAN_H
#define QUENFOLD_TEXT_XML_SCAN_H

#include <cstddef>

#include "text/buffer.h"

// Lookups over byte ranges [start, end) that need not be NUL-terminated.
const char *eb_find_tag(const char *start, const char *end, const char *name);
const char *eb_find_close(const char *start, const char *end, const char *name);
int eb_attr_val(const char *tag_start, const char *tag_end, const char *name, char *out,
                std::size_t out_size);
char *eb_tag_text(const char *text, std::size_t len, const char *name);
void eb_xml_decode_entities(const char *text, std::size_t len, eb_buf *out);

#endif  // QUENFOLD_TEXT_XML_SCAN_H
