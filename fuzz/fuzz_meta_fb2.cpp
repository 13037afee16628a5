// fuzz_meta_fb2.cpp - the full record of arbitrary bytes as a FictionBook, plain or zipped.
#include "fuzz_meta_common.h"
#include "zip_repair.h"

QFUZZ_ZIP_MUTATOR

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const bool zip = size >= 2 && data[0] == 'P' && data[1] == 'K';
    qfuzz::run_metadata(data, size, zip ? "book.fb2.zip" : "book.fb2");
    qfuzz::run_metadata(data, size, nullptr);
    return 0;
}
