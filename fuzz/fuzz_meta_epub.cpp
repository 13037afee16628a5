// fuzz_meta_epub.cpp - the full record of arbitrary bytes named as an EPUB, and by content alone.
#include "fuzz_meta_common.h"
#include "zip_repair.h"

QFUZZ_ZIP_MUTATOR

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_metadata(data, size, "book.epub");
    qfuzz::run_metadata(data, size, nullptr);
    return 0;
}
