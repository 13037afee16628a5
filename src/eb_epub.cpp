// eb_epub.cpp - placeholder until the reader lands.
#include "eb_internal.h"

int eb_parse_epub(const char *, std::uint64_t, eb_meta *, int) {
    eb_set_error("epub books are not supported yet");
    return -1;
}
