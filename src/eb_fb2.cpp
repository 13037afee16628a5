// eb_fb2.cpp - placeholder until the reader lands.
#include "eb_internal.h"

int eb_parse_fb2(const char *, std::uint64_t, eb_meta *, int) {
    eb_set_error("fb2 books are not supported yet");
    return -1;
}
