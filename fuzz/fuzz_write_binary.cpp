// fuzz_write_binary.cpp - the writers over arbitrary books: the first byte picks the Mobipocket writer
// (even) or the PDF writer (odd). Whatever they accept must read back with the new title, a PDF's
// old bytes must be a prefix, and undoing its update must give them back exactly.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/full_readers.h"
#include "formats/mobi/mobi_write.h"
#include "formats/pdf/pdf_write.h"
#include "ops/write/pdf_undo.h"

namespace {

std::string contents(int fd) {
    std::string out(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) std::abort();
    return out;
}

eb_changes changes() {
    eb_changes c;
    c.now = "2030-01-02T03:04:05Z";
    c.title = {true, std::string("Fuzz Title \xC3\xA9")};
    c.authors = {true, std::vector<eb_person>{{"A. Writer", "", "aut"}}};
    c.subjects = {true, std::vector<std::string>{"One", "Two"}};
    c.description = {true, std::string("a < b\n\nc & d")};
    return c;
}

void check_pdf(const std::string &book, const std::string &out) {
    if (out.compare(0, book.size(), book) != 0) std::abort();
    eb_source written(out.data(), out.size());
    const int fd = memfd_create("undo", 0);
    if (eb_undo_pdf_update(written, {}, {}, fd) != 0 || contents(fd) != book) std::abort();
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const bool pdf = data[0] & 1;
    const std::string book(reinterpret_cast<const char *>(data + 1), size - 1);
    eb_source src(book.data(), book.size());
    const int fd = memfd_create("write", 0);
    const int rc = (pdf ? eb_write_pdf : eb_write_mobi)(src, eb_record{}, changes(), fd);
    const std::string out = contents(fd);
    close(fd);
    if (rc != 0) {
        if (!out.empty()) std::abort();  // a refusal writes nothing
        return 0;
    }
    if (pdf) {
        check_pdf(book, out);
        return 0;
    }
    eb_record r;
    if (eb_record_mobi(out.data(), out.size(), r) != 0 || r.title.find("Fuzz Title") != 0)
        std::abort();
    return 0;
}
