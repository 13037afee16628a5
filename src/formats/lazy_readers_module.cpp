// lazy_readers_module.cpp - the module's one export: its table of the PDF reader and writer and
// libarchive's side of the comic reader.
#include "error.h"
#include "formats/full_readers.h"
#include "formats/lazy_readers.h"
#include "formats/pdf/pdf_write.h"

namespace {

const char *error_text() {
    return eb_error_text();
}
void clear_error() {
    eb_clear_error();
}

const eb_lazy_pdf kPdf = {eb_record_pdf, eb_write_pdf};
const eb_lazy_archive kArchive = {eb_la_list, eb_la_read};
const eb_lazy_readers kReaders = {eb_lazy_layout(), error_text, clear_error, &kPdf, &kArchive};

}  // namespace

extern "C" __attribute__((visibility("default"))) const eb_lazy_readers *
quenfold_ebook_meta_lazy_readers() {
    return &kReaders;
}
