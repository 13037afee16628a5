// write.cpp - one book written as the write engine writes it, for bench/write-compare to time as a
// whole process beside its yardsticks: a temporary file beside the book, the writer, fsync, the
// book read back from the new file; the temporary file is then removed, the book left as it was.
//
//   qem_bench_write make DIR      writes pdf-60k.pdf, pdf-30m.pdf and book.mobi (30 MB) into DIR
//   qem_bench_write pdf BOOK      one PDF write (title and authors)
//   qem_bench_write mobi BOOK     one MOBI write (title and authors)
//   qem_bench_write read BOOK     ebook_metadata on the book (the yardstick of a PDF write)
//   qem_bench_write pdf-nosync BOOK, mobi-nosync BOOK: the same without the fsync, to tell the
//                                 writer's own cost from the disk's
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "book_builders.h"
#include "formats/full_readers.h"
#include "formats/mobi/mobi_write.h"
#include "formats/pdf/pdf_write.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * 1024;

// A PDF of about `bytes` with the metadata real books carry: Info and a
// deflated XMP packet, pages with content streams, a cross-reference table.
std::string sample_pdf(std::size_t bytes) {
    qtest::PdfDesc d;
    d.info = {{"Title", qtest::pdf_utf16("Tide Tables of the North Sea")},
              {"Author", qtest::pdf_literal("Ray, Kim; Bell, Tom")},
              {"Producer", qtest::pdf_literal("LibreOffice 7.4")},
              {"CreationDate", qtest::pdf_literal("D:20210314092653+01'00'")}};
    d.xmp = qtest::xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Tide Tables</rdf:li></rdf:Alt>"
        "</dc:title><dc:creator><rdf:Seq><rdf:li>Kim Ray</rdf:li></rdf:Seq></dc:creator>",
        "xmp:MetadataDate=\"2021-03-14T09:26:53+01:00\"");
    d.xmp_flate = true;
    d.filler = bytes;
    for (int i = 0; i < 200; ++i)
        d.objects.push_back({8 + i, "<< /Type /Annot /Subtype /Text /Contents (note " +
                                        std::to_string(i) + ") >>"});
    return qtest::build_pdf(d);
}

// A MOBI of about 30 MB: text records of 4 KiB, then images.
std::string sample_mobi() {
    qtest::MobiDesc d;
    d.exth_records = {{100, "Kim Ray"}, {101, "Harbour Press"}, {524, "en"}};
    std::vector<std::string> recs{qtest::build_mobi_record0(d)};
    const std::string text = qtest::incompressible(4 * KB);
    for (std::size_t n = 0; n < 30 * MB; n += text.size())
        recs.push_back(text);
    return qtest::build_palmdb("Tide_Tables", recs);
}

eb_changes changes() {
    eb_changes c;
    c.now = "2030-01-02T03:04:05Z";
    c.title = {true, std::string("Tide Tables, Revised")};
    c.authors = {true, std::vector<eb_person>{{"Kim Ray", "", "aut"}, {"Tom Bell", "", "aut"}}};
    return c;
}

// The engine's steps around a writer, the rename left out.
int write_as_engine(const char *path, bool pdf, bool sync) {
    eb_source book;
    if (!book.open(path)) return 1;
    eb_record before;
    if ((pdf ? eb_record_pdf(book, before) : eb_record_mobi(book, before)) != 0) return 1;
    const std::string tmp = std::string(path) + ".bench-XXXXXX";
    std::string name = tmp;
    const int fd = mkstemp(name.data());
    if (fd < 0) return 1;
    int rc = (pdf ? eb_write_pdf : eb_write_mobi)(book, before, changes(), fd);
    if (rc == 0 && sync && fsync(fd) != 0) rc = -1;
    close(fd);
    eb_source back;
    eb_record after;
    if (rc == 0 && (!back.open(name.c_str()) ||
                    (pdf ? eb_record_pdf(back, after) : eb_record_mobi(back, after)) != 0 ||
                    after.title != "Tide Tables, Revised"))
        rc = -1;
    unlink(name.c_str());
    if (rc != 0) std::fprintf(stderr, "write failed: %s\n", ebook_last_error());
    return rc == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s make DIR | pdf BOOK | mobi BOOK | read BOOK\n", argv[0]);
        return 2;
    }
    const std::string what = argv[1];
    if (what == "make") {
        const std::string dir = argv[2];
        qtest::write_file(dir + "/pdf-60k.pdf", sample_pdf(40 * KB));
        qtest::write_file(dir + "/pdf-30m.pdf", sample_pdf(30 * MB));
        qtest::write_file(dir + "/book.mobi", sample_mobi());
        return 0;
    }
    if (what == "pdf" || what == "mobi") return write_as_engine(argv[2], what == "pdf", true);
    if (what == "pdf-nosync" || what == "mobi-nosync")
        return write_as_engine(argv[2], what == "pdf-nosync", false);
    if (what == "read") {
        char *json = ebook_metadata(argv[2]);
        if (!json) return 1;
        ebook_free_string(json);
        return 0;
    }
    return 2;
}
