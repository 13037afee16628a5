// fuzz_meta_pdf.cpp - the full record of arbitrary bytes named as a PDF: libqpdf over the book
// source, protection, the Info dictionary and the XMP stream.
#include "fuzz_meta_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_metadata(data, size, "book.pdf");
    return 0;
}
