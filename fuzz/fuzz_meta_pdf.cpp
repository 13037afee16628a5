// fuzz_meta_pdf.cpp - the full record of arbitrary bytes named as a PDF: libqpdf over the book
// source, protection, the Info dictionary and the XMP stream; and on every input the lazy reader
// takes that qpdf reads without a warning of its own, the same record through both paths.
#include <string>

#include "formats/pdf/pdf_paths.h"
#include "full_record.h"
#include "fuzz_meta_common.h"

namespace {

std::string json_of(eb_record &r) {
    eb_record_settle(r);
    char *j = eb_record_to_json(r);
    std::string s = j ? j : "";
    std::free(j);
    return s;
}

// The lazy reader does not look where it has no need to (entries and
// sections of the cross-reference data it does not use, other objects of an
// object stream): where qpdf finds damage there, its record says so and the
// lazy one cannot. Everywhere else a difference is a fault.
void same_through_both_paths(const char *bytes, std::size_t size) {
    const eb_source src(bytes, size);
    eb_record lazy, full;
    if (eb_record_pdf_by(src, lazy, eb_pdf_path::lazy) != 0) return;
    std::size_t complaints = 0;
    qfuzz::check(eb_record_pdf_by(src, full, eb_pdf_path::qpdf, &complaints) == 0);
    if (complaints == 0) qfuzz::check(json_of(lazy) == json_of(full));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    qfuzz::run_metadata(data, size, "book.pdf");
    char *bytes = qfuzz::copy_exact(data, size);
    same_through_both_paths(bytes, size);
    std::free(bytes);
    return 0;
}
