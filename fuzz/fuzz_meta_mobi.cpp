// fuzz_meta_mobi.cpp - the full record of arbitrary bytes as a Mobipocket or PalmDOC book.
#include "fuzz_meta_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_metadata(data, size, "book.prc");
    qfuzz::run_metadata(data, size, nullptr);
    return 0;
}
