// fuzz_epub.cpp - the EPUB reader on arbitrary bytes, with and without the cover.
#include "fuzz_common.h"
#include "zip_repair.h"

QFUZZ_ZIP_MUTATOR

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_reader(eb_parse_epub, data, size);
    return 0;
}
