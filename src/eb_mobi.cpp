// eb_mobi.cpp - placeholder until the reader lands.
#include "eb_internal.h"

int eb_parse_mobi(const char *, std::uint64_t, eb_meta *, int) {
    eb_set_error("mobi books are not supported yet");
    return -1;
}
