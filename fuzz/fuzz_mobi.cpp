// fuzz_mobi.cpp - the Mobipocket (MOBI/AZW/AZW3) reader on arbitrary bytes, with and without the
// cover.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_reader(eb_parse_mobi, data, size);
    return 0;
}
