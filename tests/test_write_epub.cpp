// test_write_epub.cpp - EPUB 2 and 3 books written through the export: records read back, package
// markup as each version expects, untouched members byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/zip_archive.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::EpubDesc;

std::string package_of(const std::string &book) {
    eb_zip_archive za(book.data(), book.size());
    std::string opf;
    const std::int64_t i = za.find("OEBPS/content.opf");
    if (i >= 0) za.read(static_cast<std::uint64_t>(i), 1 << 24, &opf);
    return opf;
}

EpubDesc epub3() {
    EpubDesc d;
    d.collection = "Old Saga";
    d.group_position = "1";
    return d;
}

struct Case {
    const char *name;
    EpubDesc desc;
    const char *changes;
    std::vector<std::pair<const char *, const char *>> record;  // pointer, value
    std::vector<const char *> markup;                           // in the new package document
    std::vector<const char *> gone;                             // no longer in it
};

TEST(WriteEpub, FieldsAsEachVersionWritesThem) {
    const std::string everything =
        R"({"title":"New & Title","title_sort":"Title, New","authors":[{"name":"Jane Doe",
        "sort":"Doe, Jane"},"Bob Roe"],"contributors":[{"name":"Ed Itor","role":"edt"}],
        "language":"fr","publisher":"P<ub>","published":"2001-02-03","rights":"CC BY",
        "description":"One &amp; one.\n\nTwo <b>.","subjects":["A","B"],
        "identifiers":[{"scheme":"doi","value":"10.1000/182"}],"isbn":"0-306-40615-2"})";
    EpubDesc unique_isbn;
    unique_isbn.opf = qtest::build_opf(EpubDesc{});
    unique_isbn.opf.replace(unique_isbn.opf.find("urn:uuid:"), 45, "9780306406157");
    EpubDesc unbound;  // dc: elements whose prefix the document never declares
    unbound.opf =
        "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
        "unique-identifier=\"id\"><metadata><dc:title>T</dc:title><dc:identifier id=\"id\">x"
        "</dc:identifier><dc:language>en</dc:language></metadata><manifest><item id=\"c\" "
        "href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\"/></manifest><spine><itemref "
        "idref=\"c\"/></spine></package>";
    EpubDesc bad_prefix = unbound;  // Dublin Core also bound to a prefix no element can carry
    bad_prefix.opf.replace(bad_prefix.opf.find("<metadata>"), 10,
                           "<metadata xmlns:1c=\"http://purl.org/dc/elements/1.1/\">");
    EpubDesc prefixed = unbound;  // the package's own elements under a prefix
    prefixed.opf =
        "<opf:package xmlns:opf=\"http://www.idpf.org/2007/opf\" xmlns:dc=\"http://purl.org/dc/"
        "elements/1.1/\" version=\"3.0\" unique-identifier=\"id\"><opf:metadata><dc:title>T"
        "</dc:title><dc:identifier id=\"id\">x</dc:identifier><dc:language>en</dc:language>"
        "</opf:metadata><opf:manifest/><opf:spine/></opf:package>";
    const Case cases[] = {
        {"epub2",
         EpubDesc{},
         everything.c_str(),
         {{"/title", "New & Title"},
          {"/title_sort", "Title, New"},
          {"/authors/0/sort", "Doe, Jane"},
          {"/authors/1/name", "Bob Roe"},
          {"/contributors/0/role", "edt"},
          {"/description", "One &amp; one.\n\nTwo <b>."},
          {"/isbn", "9780306406157"},
          {"/published", "2001-02-03"},
          {"/publisher", "P<ub>"}},
         {"opf:role=\"aut\" opf:file-as=\"Doe, Jane\">Jane Doe", "<dc:contributor opf:role=\"edt\"",
          "name=\"calibre:title_sort\" content=\"Title, New\"", "opf:event=\"publication\"",
          "opf:scheme=\"ISBN\">9780306406157", "opf:scheme=\"doi\">10.1000/182",
          "urn:uuid:00000000-0000-4000-8000-000000000000", "<dc:title>New &amp; Title</dc:title>"},
         {"refines", "Sample Author"}},
        {"epub3",
         epub3(),
         R"({"subtitle":"Sub","series":[{"name":"Saga","index":"2"},{"name":"Other"}],
             "authors":[{"name":"Jane Doe","sort":"Doe, Jane"}],"title_sort":"Book, Sample",
             "identifiers":[{"scheme":"doi","value":"10.1/x"}]})",
         {{"/subtitle", "Sub"},
          {"/series/0/name", "Saga"},
          {"/series/0/index", "2"},
          {"/series/1/name", "Other"},
          {"/title_sort", "Book, Sample"},
          {"/identifiers/1/scheme", "doi"}},
         {"property=\"title-type\">subtitle", "property=\"collection-type\">series",
          "property=\"group-position\">2", "property=\"dcterms:modified\">",
          "scheme=\"marc:relators\">aut", "property=\"file-as\">Doe, Jane",
          "property=\"identifier-type\">doi"},
         {"Old Saga", "c01", "opf:role"}},
        {"unique ISBN kept, the new one first",
         unique_isbn,
         R"({"isbn":"0-306-40615-2"})",
         {{"/isbn", "9780306406157"}},
         {"id=\"bookid\""},
         {}},
        {"unique ISBN other",
         unique_isbn,
         R"({"isbn":"9781861972712"})",
         {{"/isbn", "9781861972712"}, {"/identifiers/1/value", "9780306406157"}},
         {},
         {}},
        {"unbound dc prefix bound",
         unbound,
         R"({"publisher":"P"})",
         {{"/publisher", "P"}},
         {"<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"},
         {}},
        {"prefix that cannot name an element passed over",
         bad_prefix,
         R"({"publisher":"P"})",
         {{"/publisher", "P"}},
         {"xmlns:dc=\"http://purl.org/dc/elements/1.1/\"", "<dc:publisher>P</dc:publisher>"},
         {"<1c:"}},
        {"prefixed package",
         prefixed,
         R"({"series":[{"name":"S"}]})",
         {{"/series/0/name", "S"}},
         {"<opf:meta property=\"belongs-to-collection\""},
         {}},
    };
    for (const Case &c : cases) {
        qtest::TempDir dir("write-epub");
        const std::string path = dir.put("b.epub", qtest::build_epub(c.desc));
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, c.changes);
        ASSERT_TRUE(p.ok()) << c.name << ": " << p.error();
        EXPECT_EQ(p.schema_error(), "") << c.name;
        for (const auto &[ptr, want] : c.record)
            EXPECT_EQ(p.at(ptr), want) << c.name << " " << ptr;
        const std::string opf = package_of(qtest::read_file(path));
        for (const char *m : c.markup)
            EXPECT_NE(opf.find(m), std::string::npos) << c.name << ": " << m << "\n" << opf;
        for (const char *m : c.gone)
            EXPECT_EQ(opf.find(m), std::string::npos) << c.name << ": " << m;
        EXPECT_EQ(dir.names(), std::set<std::string>{"b.epub"}) << c.name;
    }
}

TEST(WriteEpub, RefusalsLeaveTheBookAsItWas) {
    EpubDesc broken;
    broken.opf = qtest::build_opf(EpubDesc{});
    broken.opf.replace(broken.opf.find("</dc:title>"), 11, "</dc:titel>");
    EpubDesc drm;
    drm.members.push_back(
        qtest::zip_file("META-INF/rights.xml", "<rights xmlns=\"http://ns.adobe.com/adept\"/>"));
    const struct {
        EpubDesc desc;
        const char *changes, *error;
    } rows[] = {
        {EpubDesc{}, R"({"subtitle":"S"})", "subtitle: not stored by EPUB 2 books"},
        {EpubDesc{}, R"({"series":[{"name":"A"},{"name":"B"}]})", "series: EPUB 2 books store"},
        {EpubDesc{}, R"({"title":null})", "cannot clear title: EPUB books require one"},
        {epub3(), R"({"language":[]})", "cannot clear language: EPUB books require one"},
        {broken, R"({"title":"T"})",
         "OEBPS/content.opf is not well-formed XML; write refused, nothing changed (line "},
        {drm, R"({"title":"T"})", "will not modify a DRM-protected book: "},
    };
    for (const auto &r : rows) {
        qtest::TempDir dir("write-epub-refused");
        const std::string book = qtest::build_epub(r.desc);
        const std::string path = dir.put("b.epub", book);
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, r.changes);
        EXPECT_FALSE(p.ok()) << r.changes;
        EXPECT_EQ(p.error().rfind(r.error, 0), 0u) << p.error();
        EXPECT_EQ(qtest::read_file(path), book);
        EXPECT_EQ(dir.names(), std::set<std::string>{"b.epub"});
    }
}

// Every member but the package document lies in the new book exactly as
// it lay in the old one (local header, data, descriptor), mimetype first.
TEST(WriteEpub, UntouchedMembersAndCover) {
    const std::string png = qtest::tiny_png();
    const struct {
        bool by_properties, referenced;
    } rows[] = {{false, false}, {true, false}, {true, true}};
    for (const auto &r : rows) {
        qtest::TempDir dir("write-epub-cover");
        EpubDesc d;
        d.cover = qtest::tiny_jpeg();
        d.cover_by_properties = r.by_properties;
        if (r.by_properties) d.collection = "S";
        if (r.referenced)
            d.members.push_back(qtest::zip_file(
                "OEBPS/cover.xhtml", "<html><body><img src=\"images/cover.jpg\"/></body></html>"));
        const std::string old = qtest::build_epub(d);
        const std::string path = dir.put("b.epub", old);
        const std::string img = dir.put("new.png", png);
        const qtest::MetaProbe p =
            qtest::MetaProbe::from_write(path, "{\"cover\":\"" + img + "\"}");
        ASSERT_TRUE(p.ok()) << p.error();
        EXPECT_EQ(p.at("/cover/mime"), "image/png");
        EXPECT_EQ(p.at("/cover/size"), std::to_string(png.size()));
        const std::string now = qtest::read_file(path);
        EXPECT_EQ(now.rfind("PK\x03\x04", 0), 0u);
        EXPECT_EQ(now.substr(30, 8), "mimetype");
        eb_zip_archive before(old.data(), old.size()), after(now.data(), now.size());
        for (std::uint64_t i = 0; i < before.count(); ++i) {
            const std::string name(before.name(i));
            const eb_zip_entry &m = before.index().members[i];
            if (name == "OEBPS/content.opf" || name == "OEBPS/images/cover.jpg") continue;
            const std::string raw = old.substr(m.local, 30 + m.stored_name_len + m.comp_size);
            EXPECT_NE(now.find(raw), std::string::npos) << name;
        }
        // The old cover leaves with its item unless a page shows it.
        EXPECT_EQ(after.find("OEBPS/images/cover.jpg") >= 0, r.referenced);
        const std::string opf = package_of(now);
        EXPECT_EQ(opf.find("properties=\"cover-image\"") != std::string::npos, r.by_properties);
        EXPECT_NE(opf.find("href=\"images/cover.png\""), std::string::npos) << opf;
        EXPECT_EQ(opf.find("href=\"images/cover.jpg\"") != std::string::npos, r.referenced);
    }
}

}  // namespace
