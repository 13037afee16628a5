// test_pdf_write.cpp - PDFs written by incremental update, checked with real parts: the project's
// reader, qpdf --check, pikepdf; the old bytes a prefix; undo gives them back; what is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "book_builders.h"
#include "formats/full_readers.h"
#include "formats/pdf/pdf_write.h"
#include "ops/write/pdf_undo.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "write_harness.h"

namespace {

using namespace qwrite;
using qtest::pdf_literal;
using qtest::PdfDesc;
using qtest::xmp_packet;

eb_record read(const std::string &pdf) {
    return read_pdf(pdf);
}

const std::string kOldXmp = xmp_packet(
    "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Old XMP Title</rdf:li></rdf:Alt></dc:title>"
    "<xmp:CreatorTool>Typesetter 9</xmp:CreatorTool>"
    "<dc:identifier>urn:isbn:0-306-40615-2</dc:identifier>"
    "<xmp:Identifier><rdf:Bag><rdf:li rdf:parseType='Resource'><xmpidq:Scheme>uuid</xmpidq:Scheme>"
    "<rdf:value>123e4567-e89b-12d3-a456-426614174000</rdf:value></rdf:li></rdf:Bag>"
    "</xmp:Identifier><dc:format>application/pdf</dc:format>",
    "xmp:ModifyDate=\"2010-01-01T00:00:00Z\" pdf:Producer=\"Old Producer\"");

std::vector<std::pair<std::string, std::string>> old_info() {
    return {{"Title", pdf_literal("Old Info Title")},
            {"Creator", pdf_literal("Old Creator")},
            {"CreationDate", pdf_literal("D:20100101000000Z")},
            {"ModDate", pdf_literal("D:20200101000000Z")}};
}

struct Shape {
    const char *name;
    PdfDesc desc;
};

std::vector<Shape> shapes() {
    std::vector<Shape> s;
    s.push_back({"table, Info and XMP", {}});
    s.back().desc.info = old_info();
    s.back().desc.xmp = kOldXmp;
    s.push_back({"cross-reference stream, object streams, /Lang", {}});
    s.back().desc.object_stream = true;
    s.back().desc.info = old_info();
    s.back().desc.xmp = kOldXmp;
    s.back().desc.xmp_flate = true;
    s.back().desc.catalog_extra = "/Lang (de-DE)";
    s.push_back({"no Info, no XMP", {}});
    s.push_back({"an update already appended", {}});
    s.back().desc.info = old_info();
    s.back().desc.updates.push_back({{{"Title", pdf_literal("Updated")}}, kOldXmp, {}});
    s.push_back({"a signature's byte ranges", {}});
    s.back().desc.info = old_info();
    s.back().desc.objects.push_back(
        {8, "<< /Type /Sig /Filter /Adobe.PPKLite /ByteRange [0 120 180 40] /Contents <00> >>"});
    s.back().desc.catalog_extra = "/Perms << /DocMDP 8 0 R >>";
    return s;
}

TEST(PdfWrite, EveryFieldReadsBackTheOldBytesStayAndUndoRestoresThem) {
    qtest::TempDir dir("pdf-write");
    const bool qpdf = have_tool("qpdf --version >/dev/null 2>&1");
    for (const Shape &s : shapes()) {
        SCOPED_TRACE(s.name);
        const std::string old = qtest::build_pdf(s.desc);
        int rc = 0;
        const std::string out = run(eb_write_pdf, old, kAll, &rc);
        ASSERT_EQ(rc, 0) << ebook_last_error();
        ASSERT_GT(out.size(), old.size());
        EXPECT_EQ(out.compare(0, old.size(), old), 0) << "the old bytes are a prefix";
        const std::string update = out.substr(old.size());
        // A signature's /ByteRange names bytes of the old file, which stay.
        EXPECT_EQ(update.find("/ByteRange"), std::string::npos);
        const bool stream = s.desc.object_stream || s.desc.xref_stream;
        EXPECT_EQ(update.find("/Type /XRef") != std::string::npos, stream);
        EXPECT_EQ(update.find("\ntrailer\n") != std::string::npos, !stream);
        EXPECT_NE(update.find("/Prev "), std::string::npos);

        const eb_record r = read(out);
        expect_all(r);
        if (s.desc.xmp == kOldXmp) {
            EXPECT_NE(update.find("Typesetter 9"), std::string::npos) << "other properties kept";
            EXPECT_NE(update.find("dc:format>application/pdf"), std::string::npos);
            EXPECT_EQ(update.find("Old XMP Title"), std::string::npos);
            EXPECT_EQ(update.find("2010-01-01T00:00:00Z"), std::string::npos);
            EXPECT_EQ(r.identifiers.size(), 2u) << "the uuid kept, the old ISBN replaced";
        }
        if (s.desc.updates.empty() && !s.desc.info.empty()) {
            EXPECT_NE(update.find("(Old Creator)"), std::string::npos) << "Info entries kept";
        }
        if (qpdf) {
            const std::string before = dir.put("before.pdf", old),
                              after = dir.put("after.pdf", out);
            if (qpdf_check(before) == 0) {
                EXPECT_EQ(qpdf_check(after), 0);
            }
        }

        // Undone: exactly the old file; a second undo finds no update of ours.
        std::string back = run(eb_undo_pdf_update, out, {}, &rc);
        ASSERT_EQ(rc, 0) << ebook_last_error();
        EXPECT_EQ(back, old);
        back = run(eb_undo_pdf_update, back, {}, &rc);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(back, "");
    }
}

// Info changed after XMP was written: the reader took Info's values, and
// a write of other fields must not bring XMP's stale ones back.
TEST(PdfWrite, StaleXmpValuesDoNotComeBack) {
    PdfDesc d;
    d.info = {{"Title", pdf_literal("Info Title")},
              {"Subject", pdf_literal("Info words")},
              {"CreationDate", pdf_literal("D:20150101000000Z")},
              {"ModDate", pdf_literal("D:20250101000000Z")}};
    d.xmp = xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Stale</rdf:li></rdf:Alt>"
        "</dc:title><dc:description><rdf:Alt><rdf:li xml:lang='x-default'>Stale"
        "</rdf:li></rdf:Alt></dc:description>",
        "xmp:MetadataDate=\"2010-01-01T00:00:00Z\" "
        "xmp:CreateDate=\"2009-01-01T00:00:00Z\"");
    const std::string old = qtest::build_pdf(d);
    const eb_record before = read(old);
    ASSERT_EQ(before.title, "Info Title");
    int rc = 0;
    const eb_record r = read(run(
        eb_write_pdf, old, with([](eb_changes &c) { c.rights = to<std::string>("Mine"); }), &rc));
    ASSERT_EQ(rc, 0) << ebook_last_error();
    EXPECT_EQ(r.rights, "Mine");
    EXPECT_EQ(r.title, before.title);
    EXPECT_EQ(r.description, before.description);
    EXPECT_EQ(r.published, before.published);
}

// Written twice, then undone twice: each update taken off in turn.
TEST(PdfWrite, UpdatesStackAndUndoOneAtATime) {
    PdfDesc d;
    d.info = old_info();
    const std::string v0 = qtest::build_pdf(d);
    int rc = 0;
    const std::string v1 =
        run(eb_write_pdf, v0, with([](eb_changes &c) { c.title = to<std::string>("One"); }), &rc);
    const std::string v2 =
        run(eb_write_pdf, v1, with([](eb_changes &c) { c.title = to<std::string>("Two"); }), &rc);
    ASSERT_EQ(rc, 0) << ebook_last_error();
    EXPECT_EQ(read(v2).title, "Two");
    EXPECT_EQ(run(eb_undo_pdf_update, v2, {}, &rc), v1);
    EXPECT_EQ(run(eb_undo_pdf_update, v1, {}, &rc), v0);
    // Another tool's update after ours: ours is no longer the last.
    const std::string foreign = v1 + "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    EXPECT_EQ(run(eb_undo_pdf_update, foreign, {}, &rc), "");
    EXPECT_EQ(rc, -1);
}

TEST(PdfWrite, RefusedBeforeAnythingIsWritten) {
    PdfDesc plain;
    plain.info = old_info();
    PdfDesc damaged = plain;
    damaged.damaged_xref = true;
    PdfDesc dtd = plain, broken = plain;
    dtd.xmp = "<!DOCTYPE x [<!ENTITY a 'b'>]>" + kOldXmp.substr(kOldXmp.find("<x:xmpmeta"));
    broken.xmp = kOldXmp.substr(0, kOldXmp.size() - 40);
    const std::string title_only = "T";
    const eb_changes title = with([&](eb_changes &c) { c.title = to(title_only); });
    struct Case {
        const char *name;
        std::string pdf;
        eb_changes changes;
        const char *error;
    } cases[] = {
        {"encrypted", qtest::encrypt_pdf(qtest::build_pdf(plain), "", "owner", 4, false), title,
         "PDF is encrypted; write refused, nothing changed"},
        {"repaired cross-reference", qtest::build_pdf(damaged), title,
         "PDF is damaged; write refused, nothing changed"},
        {"not a PDF", "%PDF-1.4\nnothing here\n", title, "PDF is damaged"},
        {"DTD in XMP", qtest::build_pdf(dtd), title, "PDF XMP packet declares a DTD"},
        {"broken XMP", qtest::build_pdf(broken), title, "PDF XMP packet is not well-formed"},
        {"two series", qtest::build_pdf(plain), with([](eb_changes &c) {
             c.series = to<std::vector<eb_series>>({{"A", "1"}, {"B", "2"}});
         }),
         "series: PDF books hold one series"},
        {"subtitle", qtest::build_pdf(plain),
         with([](eb_changes &c) { c.subtitle = to<std::string>("S"); }),
         "subtitle: not stored by PDF books"},
        {"publication date over a creation date", qtest::build_pdf(plain),
         with([](eb_changes &c) { c.published.given = true; }),
         "published: the PDF's creation date stands in"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int rc = 0;
        eb_source src(c.pdf.data(), c.pdf.size());
        FILE *tmp = std::tmpfile();
        rc = eb_write_pdf(src, eb_record{}, c.changes, fileno(tmp));
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(lseek(fileno(tmp), 0, SEEK_END), 0) << "nothing written";
        std::fclose(tmp);
        EXPECT_EQ(std::string(ebook_last_error()).find(c.error), 0u) << ebook_last_error();
    }
}

// pikepdf, an independent reader, sees the new Info and XMP.
TEST(PdfWrite, PikepdfReadsTheNewInfoAndXmp) {
    if (!have_tool("/usr/bin/python3 -c 'import pikepdf' >/dev/null 2>&1"))
        GTEST_SKIP() << "python3-pikepdf absent";
    qtest::TempDir dir("pdf-pike");
    PdfDesc d;
    d.info = old_info();
    d.xmp = kOldXmp;
    int rc = 0;
    const std::string path = dir.put("w.pdf", run(eb_write_pdf, qtest::build_pdf(d), kAll, &rc));
    ASSERT_EQ(rc, 0);
    const std::string script = dir.put("read.py",
                                       "import sys, pikepdf\n"
                                       "p = pikepdf.open(sys.argv[1])\n"
                                       "m = p.open_metadata()\n"
                                       "print(str(p.docinfo['/Title']))\n"
                                       "print(str(p.docinfo['/Author']))\n"
                                       "print(m['dc:title'])\n"
                                       "print('|'.join(m['dc:creator']))\n"
                                       "print(m['xmp:MetadataDate'])\n"
                                       "print(m['xmp:CreatorTool'])\n");
    const std::string out_path = dir.path + "/out.txt";
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + path + " >" + out_path).c_str()),
              0);
    EXPECT_EQ(qtest::read_file(out_path),
              "Ny titel \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC\nAnn Author; Bo; Second\n"
              "Ny titel \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC\nAnn Author|Bo; Second\n"
              "2030-01-02T03:04:05Z\nTypesetter 9\n");
}

}  // namespace
