// The PDF full record from builder-made documents: each metadata source alone and both with their
// precedence, every text-string encoding, the file structures, every protection case, bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata_probe.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"
#include "record_expect.h"
#include "temp_dir.h"

namespace {

using qtest::MetaProbe;
using qtest::pdf_literal;
using qtest::pdf_utf16;
using qtest::PdfDesc;
using qtest::xmp_packet;

// One document and what its record must hold.
struct Case {
    const char *what;
    PdfDesc desc;
    qtest::RecordWant want;
};

void check(const Case &c, const std::string &bytes, const char *name = "book.pdf") {
    qtest::expect_record(c.what, bytes, name, c.want);
}

std::vector<std::pair<std::string, std::string>> jane_info() {
    return {{"Title", pdf_literal("Info Title")},
            {"Author", pdf_literal("Austen, Jane; Bront\xEB, Charlotte & Eliot, George")},
            {"Subject", pdf_literal("What Info says")},
            {"Keywords", pdf_literal("sea, ships; storms")},
            {"CreationDate", pdf_literal("D:20120919121451+01'00'")},
            {"ModDate", pdf_literal("D:20130101000000Z")}};
}

const std::string kFullXmp = xmp_packet(
    "<dc:title><rdf:Alt><rdf:li xml:lang='fr'>Titre</rdf:li>"
    "<rdf:li xml:lang='x-default'>XMP Title</rdf:li></rdf:Alt></dc:title>"
    "<dc:creator><rdf:Seq><rdf:li>Mara Quinn</rdf:li><rdf:li>Tom "
    "Bell</rdf:li></rdf:Seq></dc:creator>"
    "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>&lt;p&gt;A keeper &amp;amp; a "
    "storm.&lt;/p&gt;</rdf:li></rdf:Alt></dc:description>"
    "<dc:subject><rdf:Bag><rdf:li>Sea</rdf:li><rdf:li>Sea</rdf:li><rdf:li>Light</rdf:li></rdf:Bag>"
    "</dc:subject>"
    "<dc:publisher><rdf:Bag><rdf:li>Harbour Press</rdf:li><rdf:li>Other</rdf:li></rdf:Bag>"
    "</dc:publisher>"
    "<dc:rights><rdf:Alt><rdf:li xml:lang='x-default'>CC BY</rdf:li></rdf:Alt></dc:rights>"
    "<dc:language><rdf:Bag><rdf:li>en-GB</rdf:li><rdf:li>fr</rdf:li></rdf:Bag></dc:language>"
    "<dc:date><rdf:Seq><rdf:li>2019-05-02</rdf:li></rdf:Seq></dc:date>"
    "<dc:identifier>urn:isbn:0-306-40615-2</dc:identifier>"
    "<xmp:Identifier><rdf:Bag><rdf:li rdf:parseType='Resource'><xmpidq:Scheme>uuid</xmpidq:Scheme>"
    "<rdf:value>123e4567-e89b-12d3-a456-426614174000</rdf:value></rdf:li></rdf:Bag>"
    "</xmp:Identifier>"
    "<prism:doi>10.1000/182</prism:doi>"
    "<calibre:series rdf:parseType='Resource'><rdf:value>Lights</rdf:value>"
    "<calibreSI:series_index>2.00</calibreSI:series_index></calibre:series>"
    "<calibre:title_sort>XMP Title, The</calibre:title_sort>",
    "xmp:CreateDate='2012-01-02T03:04:05Z' xmp:ModifyDate='2014-06-07T08:09:10+02:00' "
    "xmp:MetadataDate='2014-06-07T08:09:10+02:00'");

TEST(PdfRecord, EachSourceAloneAndBothByPrecedence) {
    std::vector<Case> cases;
    PdfDesc info;
    info.info = jane_info();
    cases.push_back({"Info alone",
                     info,
                     {{"/format", "pdf"},
                      {"/version", "1.4"},
                      {"/pages", "1"},
                      {"/title", "Info Title"},
                      {"/authors/0/name", "Austen, Jane"},
                      {"/authors/1/name", "Bront\xC3\xAB, Charlotte"},
                      {"/authors/2/name", "Eliot, George"},
                      {"/authors/2/role", "aut"},
                      {"/description", "What Info says"},
                      {"/subjects/2", "storms"},
                      {"/published", "2012-09-19T12:14:51+01:00"},
                      {"/modified", "2013-01-01T00:00:00Z"},
                      {"/cover", "<null>"},
                      {"/encoding", "<null>"},
                      {"/drm", "false"}}});
    PdfDesc xmp;
    xmp.xmp = kFullXmp;
    xmp.xmp_flate = true;
    xmp.catalog_extra = "/Lang (de)";
    cases.push_back({"XMP alone",
                     xmp,
                     {{"/title", "XMP Title"},
                      {"/title_sort", "XMP Title, The"},
                      {"/authors/1/name", "Tom Bell"},
                      {"/description", "A keeper & a storm."},
                      {"/subjects", "<other>"},
                      {"/subjects/1", "Light"},
                      {"/subjects/2", "<missing>"},
                      {"/publisher", "Harbour Press"},
                      {"/rights", "CC BY"},
                      {"/language", "en-GB"},
                      {"/languages/1", "fr"},
                      {"/published", "2019-05-02"},
                      {"/modified", "2014-06-07T08:09:10+02:00"},
                      {"/isbn", "9780306406157"},
                      {"/identifiers/1/scheme", "uuid"},
                      {"/identifiers/2/scheme", "doi"},
                      {"/identifiers/2/value", "10.1000/182"},
                      {"/series/0/name", "Lights"},
                      {"/series/0/index", "2.00"}}});
    // XMP's metadata date (2014) is later than Info's ModDate (2013).
    PdfDesc both = xmp;
    both.info = jane_info();
    cases.push_back({"both, XMP newer",
                     both,
                     {{"/title", "XMP Title"},
                      {"/authors/0/name", "Mara Quinn"},
                      {"/subjects/0", "Sea"},
                      {"/published", "2019-05-02"},
                      {"/modified", "2014-06-07T08:09:10+02:00"},
                      {"/language", "en-GB"},
                      {"/warnings~",
                       "title differs between the Info dictionary ('Info Title') and "
                       "XMP ('XMP Title'); XMP's is used"},
                      {"/warnings~~", "first author differs"}}});
    // A tool that changed only Info wrote a later ModDate: Info wins where it
    // states the field, XMP fills the rest.
    PdfDesc info_newer = both;
    info_newer.info.back() = {"ModDate", pdf_literal("D:20150101120000")};
    cases.push_back({"both, Info newer",
                     info_newer,
                     {{"/title", "Info Title"},
                      {"/authors/0/name", "Austen, Jane"},
                      {"/description", "What Info says"},
                      {"/subjects/0", "sea"},
                      {"/publisher", "Harbour Press"},
                      {"/series/0/name", "Lights"},
                      {"/published", "2019-05-02"},
                      {"/modified", "2015-01-01T12:00:00"},
                      {"/warnings~", "the Info dictionary's is used: it was changed later"}}});
    // Without a MetadataDate, ModifyDate is the XMP's date; a date without a
    // zone counts as UTC: 06:30 UTC is later than 08:00+02:00.
    PdfDesc by_modify;
    by_modify.info = {{"Title", pdf_literal("Info")}, {"ModDate", pdf_literal("D:201406070630")}};
    by_modify.xmp = xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>XMP</rdf:li></rdf:Alt></dc:title>",
        "xmp:ModifyDate='2014-06-07T08:00+02:00'");
    cases.push_back({"Info newer than ModifyDate",
                     by_modify,
                     {{"/title", "Info"}, {"/modified", "2014-06-07T06:30"}}});
    PdfDesc same_time = by_modify;
    same_time.info.back() = {"ModDate", pdf_literal("D:20140607060000Z")};
    cases.push_back({"equal dates: XMP", same_time, {{"/title", "XMP"}}});
    // Missing fields fall back to the other source; /Lang when XMP has none.
    PdfDesc fallback;
    fallback.info = {{"Author", pdf_literal("Kim Ray")}, {"Keywords", pdf_literal("a;b,,c")}};
    fallback.xmp = xmp_packet("<pdf:Keywords>x, y</pdf:Keywords>", "xmp:CreateDate='2001-02-03'");
    fallback.catalog_extra = "/Lang (pt-BR) /Version /1.7";
    fallback.version = "1.3";
    cases.push_back({"fallbacks",
                     fallback,
                     {{"/title", ""},
                      {"/authors/0/name", "Kim Ray"},
                      {"/subjects/0", "x"},
                      {"/subjects/1", "y"},
                      {"/language", "pt-BR"},
                      {"/published", "2001-02-03"},
                      {"/version", "1.7"}}});
    for (const Case &c : cases)
        check(c, qtest::build_pdf(c.desc));
}

// Every text-string encoding, as the Info dictionary's title.
TEST(PdfRecord, TextStringsInEachEncoding) {
    struct Text {
        const char *what;
        std::string written;  // the PDF string as it stands in the file
        std::string want;
    };
    const std::vector<Text> texts = {
        {"PDFDocEncoding, literal", pdf_literal("Plain (text) \\ here"), "Plain (text) \\ here"},
        {"PDFDocEncoding's own codes",
         qtest::pdf_hex("\x8DQ\x8E \x84 \x93x \x80 \xA0 caf\xE9 \x18\x1F"),
         "\u201CQ\u201D \u2014 \uFB01x \u2022 \u20AC caf\u00E9 \u02D8\u02DC"},
        {"PDFDocEncoding, undefined code and trailing NULs",
         qtest::pdf_hex(std::string("A\x9F\0\0", 4)), "A\uFFFD"},
        {"UTF-16BE with a surrogate pair", pdf_utf16("\u0414\u043E\u043C \U0001F600"),
         "\u0414\u043E\u043C \U0001F600"},
        {"UTF-16BE with a language escape",
         qtest::pdf_hex(std::string("\xFE\xFF\0\x1B\0e\0n\0\x1B\0H\0i", 14)), "Hi"},
        {"UTF-16BE, unpaired surrogate", qtest::pdf_hex(std::string("\xFE\xFF\xD8\0\0A", 6)),
         "\uFFFDA"},
        {"UTF-16LE after FF FE", qtest::pdf_hex(std::string("\xFF\xFEH\0i\0", 6)), "Hi"},
        {"UTF-8 with its mark", qtest::pdf_utf8("\u0395\u03BB\u03BB\u03AC\u03B4\u03B1"),
         "\u0395\u03BB\u03BB\u03AC\u03B4\u03B1"},
        {"UTF-8 with a bad byte",
         qtest::pdf_utf8("a\xFF"
                         "b"),
         "a\uFFFDb"},
        {"cut at 64 KiB", pdf_literal(std::string(70000, 'x')), std::string(65536, 'x')},
        {"cut at 64 KiB on a character", pdf_utf16(std::string(65535, 'x') + "\u00E9"),
         std::string(65535, 'x')},
    };
    for (const Text &t : texts) {
        PdfDesc d;
        d.info = {{"Title", t.written}};
        check({t.what, d, {{"/title", t.want}}}, qtest::build_pdf(d));
    }
}

// Info dates become ISO 8601 to the precision they give, read leniently.
TEST(PdfRecord, InfoDatesAsIso8601) {
    const std::vector<std::pair<const char *, const char *>> dates = {
        {"D:20120919121451+01'00'", "2012-09-19T12:14:51+01:00"},
        {"D:20100310154427Z'", "2010-03-10T15:44:27Z"},
        {"D:20100310154427Z00'00'", "2010-03-10T15:44:27Z"},
        {"D:20020111121224-08'00", "2002-01-11T12:12:24-08:00"},
        {"D:199908311059+0530", "1999-08-31T10:59+05:30"},
        {"20020111090519", "2002-01-11T09:05:19"},
        {"D:2012", "2012"},
        {"D:201209", "2012-09"},
        {"D:20121399", "2012"},
        {"D:2012091912", "2012-09-19T12"},
        {"D:20120919+01'00'", "2012-09-19"},
        {" D:20040212104653-05'00' ", "2004-02-12T10:46:53-05:00"},
        {"2004-02-12T10:46:53.25-05:00", "2004-02-12T10:46:53-05:00"},
        {"Tuesday", "Tuesday"},
    };
    for (const auto &[written, want] : dates) {
        PdfDesc d;
        d.info = {{"CreationDate", pdf_literal(written)}};
        check({written, d, {{"/published", want}}}, qtest::build_pdf(d));
    }
}

// The same statements in each file structure qpdf reads, and a file whose
// cross-reference table must be rebuilt by scanning it.
TEST(PdfRecord, FileStructures) {
    PdfDesc base;
    base.info = {{"Title", pdf_literal("Old")}, {"Author", pdf_literal("Kim Ray")}};
    base.xmp = xmp_packet("<dc:language><rdf:Bag><rdf:li>nl</rdf:li></rdf:Bag></dc:language>");
    std::vector<Case> cases;
    cases.push_back({"cross-reference table", base, {{"/title", "Old"}, {"/language", "nl"}}});
    PdfDesc stream = base;
    stream.xref_stream = true;
    cases.push_back({"cross-reference stream", stream, {{"/title", "Old"}, {"/pages", "1"}}});
    PdfDesc packed = base;
    packed.object_stream = true;
    packed.version = "1.5";
    cases.push_back({"object stream", packed, {{"/title", "Old"}, {"/version", "1.5"}}});
    for (PdfDesc d : {base, packed}) {
        d.updates = {
            {{{"Title", pdf_literal("New")}}, "", {}},
            {{}, "", {{1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R /Lang (fy) >>"}}}};
        cases.push_back({d.object_stream ? "updates over an object stream" : "updates",
                         d,
                         {{"/title", "New"}, {"/authors", "<other>"}, {"/language", "nl"}}});
    }
    PdfDesc damaged = base;
    damaged.damaged_xref = true;
    cases.push_back({"damaged cross-reference table",
                     damaged,
                     {{"/title", "Old"},
                      {"/pages", "1"},
                      {"/warnings~", "PDF: file is damaged"},
                      {"/warnings~~", "reconstruct"}}});
    PdfDesc damaged_update = cases[3].desc;
    damaged_update.damaged_xref = true;
    cases.push_back({"damaged last section", damaged_update, {{"/title", "New"}}});
    for (const Case &c : cases)
        check(c, qtest::build_pdf(c.desc));
}

// The reader is chosen by extension or by a header within 1,024 bytes; the
// contract exports still call a PDF unsupported.
TEST(PdfRecord, ChosenByNameOrContentOnlyForTheFullRecord) {
    PdfDesc d;
    d.info = {{"Title", pdf_literal("Found")}};
    const std::string pdf = qtest::build_pdf(d);
    const std::string prefixed = std::string(900, '\n') + pdf;
    for (const auto &[bytes, name] :
         std::vector<std::pair<std::string, const char *>>{{pdf, "A.PDF"},
                                                           {pdf, nullptr},
                                                           {pdf, "upload.bin"},
                                                           {prefixed, nullptr},
                                                           {prefixed, "x.pdf"}})
        check({"by name or content", {}, {{"/title", "Found"}}}, bytes, name);
    MetaProbe late = MetaProbe::from_memory(std::string(1100, '\n') + pdf, nullptr);
    EXPECT_EQ(late.error().rfind("unsupported ebook format", 0), 0u) << late.error();
    qtest::TempDir dir("pdf-contract");
    const std::string path = dir.put("book.pdf", pdf);
    char *info = ebook_info(path.c_str());
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(std::string(ebook_last_error()), "unsupported ebook format: " + path);
    ebook_free_string(info);
    check({"file", {}, {{"/title", "Found"}}}, qtest::read_file(path));
}

}  // namespace
