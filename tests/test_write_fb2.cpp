// test_write_fb2.cpp - FictionBooks written in their declared encodings, in the schema's order,
// parsed again by expat; the document inside a ZIP; covers; refusals.
#include <gtest/gtest.h>

#include "fb2_full_builder.h"
#include "io/zip_archive.h"
#include "metadata_probe.h"
#include "temp_dir.h"
#include "text/encoding.h"
#include "text/xml_tree.h"
#include "zip_builder.h"

namespace {

using qtest::Fb2FullDesc;

Fb2FullDesc plain() {
    Fb2FullDesc d;
    d.title_info = {
        "<genre>prose_classic</genre>", qtest::fb2_person("author", "Leo", "", "Tolstoy"),
        "<book-title>Old</book-title>", "<lang>ru</lang>", "<sequence name=\"Old\" number=\"1\"/>"};
    d.publish_info = {"<publisher>Old Pub</publisher>", "<year>1999</year>"};
    return d;
}

// Strictly well-formed in the encoding it declares, as expat reads it.
bool well_formed(const std::string &doc) {
    eb_xml_tree t;
    std::string why;
    return eb_xml_tree_read(
        doc, [](const eb_xml_tree &, int, int, std::string_view) { return eb_xml_keep::skip; }, &t,
        &why);
}

TEST(WriteFb2, EncodingsPrefixesAndTheSchemasOrder) {
    const std::string all = R"({"title":"Война ≠ мир 𝄞","authors":[{"name":"Gabriel García Márquez",
        "sort":"García Márquez, Gabriel"},"Anon"],"contributors":[{"name":"Ann Roe","role":"trl"}],
        "series":[{"name":"Saga","index":"3"}],"subjects":["sf_fantasy","Magic"],
        "description":"One.\n\nTwo & <three>.","published":"2001-02-03","publisher":"P & Q",
        "isbn":"0-306-40615-2","language":"fr"})";
    Fb2FullDesc cp1251 = plain();
    cp1251.encoding = "windows-1251";
    Fb2FullDesc prefixed = plain();
    prefixed.prefix = "fb";
    for (std::string &s : prefixed.title_info)
        for (std::size_t at = s.find('<'); at != std::string::npos; at = s.find('<', at + 1))
            s.insert(at + (s[at + 1] == '/' ? 2 : 1), "fb:");
    prefixed.publish_info.clear();
    const struct {
        const char *name;
        Fb2FullDesc desc;
        const char *encoding;               // to turn the built UTF-8 text into
        std::vector<std::string> in_order;  // substrings of the new document, in this order
    } rows[] = {
        {"utf-8",
         plain(),
         "",
         {"<genre>sf_fantasy</genre>", "<last-name>García Márquez</last-name>", "<book-title>",
          "<annotation><p>One.</p>", "<keywords>Magic</keywords>", "<date value=\"2001-02-03\">",
          "<lang>fr</lang>", "<translator>", "<sequence name=\"Saga\" number=\"3\"/>",
          "<publisher>P &amp; Q</publisher>", "<isbn>9780306406157</isbn>"}},
        {"windows-1251", cp1251, "windows-1251", {"<nickname>Anon", "&#8800;", "&#119070;"}},
        {"prefixed", prefixed, "", {"<fb:genre>", "<fb:book-title>", "<fb:publish-info>"}},
    };
    for (const auto &r : rows) {
        qtest::TempDir dir("write-fb2");
        std::string text = qtest::build_fb2_full(r.desc);
        if (*r.encoding) {
            std::string narrow;
            for (std::size_t i = 0; i < text.size();) {  // Cyrillic and ASCII only here
                const auto b = static_cast<unsigned char>(text[i]);
                if (b < 0x80) {
                    narrow += text[i++];
                    continue;
                }
                const unsigned cp =
                    (b & 0x1F) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
                narrow += static_cast<char>(cp == 0x401 ? 0xA8 : cp - 0x410 + 0xC0);
                i += 2;
            }
            text = narrow;
        }
        const std::string path = dir.put("b.fb2", text);
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, all);
        ASSERT_TRUE(p.ok()) << r.name << ": " << p.error();
        EXPECT_EQ(p.at("/title"), "Война ≠ мир 𝄞") << r.name;
        EXPECT_EQ(p.at("/authors/0/sort"), "García Márquez, Gabriel") << r.name;
        EXPECT_EQ(p.at("/description"), "One.\n\nTwo & <three>.") << r.name;
        EXPECT_EQ(p.at("/isbn"), "9780306406157") << r.name;
        EXPECT_EQ(p.at("/published"), "2001-02-03") << r.name;
        const std::string now = qtest::read_file(path);
        EXPECT_TRUE(well_formed(now)) << r.name;
        std::size_t at = 0;
        for (const std::string &s : r.in_order) {
            const std::size_t found = now.find(s, at);
            EXPECT_NE(found, std::string::npos) << r.name << ": " << s << "\n" << now;
            at = found == std::string::npos ? at : found;
        }
        // The body and everything after the description are as they were.
        EXPECT_EQ(now.substr(now.find("body>")), text.substr(text.find("body>")));
    }
}

TEST(WriteFb2, CoversAndTheZippedDocument) {
    const std::string png = qtest::tiny_png();
    for (const bool shared : {false, true}) {
        qtest::TempDir dir("write-fb2-cover");
        Fb2FullDesc d = plain();
        d.title_info.push_back("<coverpage><image l:href=\"#old.jpg\"/></coverpage>");
        if (shared) d.body = "<section><image l:href=\"#old.jpg\"/></section>";
        d.binaries = {{"old.jpg", "image/jpeg", qtest::tiny_jpeg()}};
        const std::string zip =
            qtest::build_zip({qtest::zip_file("book.fb2", qtest::build_fb2_full(d)),
                              qtest::zip_file("notes.txt", "kept", false)});
        const std::string path = dir.put("b.fb2.zip", zip);
        const std::string img = dir.put("c.png", png);
        const qtest::MetaProbe p =
            qtest::MetaProbe::from_write(path, "{\"cover\":\"" + img + "\"}");
        ASSERT_TRUE(p.ok()) << p.error();
        EXPECT_EQ(p.at("/container"), "fb2.zip");
        EXPECT_EQ(p.at("/cover/mime"), "image/png");
        EXPECT_EQ(p.at("/cover/size"), std::to_string(png.size()));
        const std::string now = qtest::read_file(path);
        eb_zip_archive za(now.data(), now.size());
        std::string doc;
        ASSERT_EQ(za.read(static_cast<std::uint64_t>(za.find("book.fb2")), 1 << 20, &doc),
                  eb_zip_read::ok);
        EXPECT_EQ(doc.find("<binary id=\"old.jpg\"") != std::string::npos, shared) << doc;
        EXPECT_NE(doc.find("<coverpage><image l:href=\"#cover.png\"/></coverpage>"),
                  std::string::npos);
        ASSERT_EQ(za.read(static_cast<std::uint64_t>(za.find("notes.txt")), 16, &doc),
                  eb_zip_read::ok);
        EXPECT_EQ(doc, "kept");
    }
}

TEST(WriteFb2, Refusals) {
    const struct {
        const char *changes, *error;
    } rows[] = {
        {R"({"title":""})", "cannot clear title: FictionBook books require one"},
        {R"({"authors":null})", "cannot clear authors: FictionBook books require one"},
        {R"({"languages":["en","fr"]})", "language: FictionBook books store one language"},
        {R"({"contributors":[{"name":"E","role":"edt"}]})",
         "contributors: FictionBook books store translators (trl) only"},
        {R"({"subjects":["a, b"]})", "subjects: a FictionBook keyword cannot hold a comma: a, b"},
        {R"({"authors":[{"name":"Ann Bee","sort":"Cee, Ann"}]})",
         "authors: the sort form \"Cee, Ann\" does not fit the name \"Ann Bee\""},
        {R"({"subtitle":"S"})", "subtitle: not stored by FictionBook books"},
    };
    qtest::TempDir dir("write-fb2-refused");
    const std::string text = qtest::build_fb2_full(plain());
    const std::string path = dir.put("b.fb2", text);
    for (const auto &r : rows) {
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, r.changes);
        EXPECT_EQ(p.error(), r.error);
        EXPECT_EQ(qtest::read_file(path), text);
    }
    std::string gb = text;
    gb.replace(gb.find("utf-8"), 5, "gb2312");
    const std::string multibyte = dir.put("d.fb2", gb);
    EXPECT_EQ(qtest::MetaProbe::from_write(multibyte, R"({"title":"T"})").error(),
              "the FictionBook document is in an encoding the writer cannot write (unsupported "
              "encoding gb2312); write refused, nothing changed");
    const std::string broken = dir.put("c.fb2", text.substr(0, text.size() - 10));
    EXPECT_EQ(qtest::MetaProbe::from_write(broken, R"({"title":"T"})")
                  .error()
                  .rfind("the FictionBook document is not well-formed XML; write refused, nothing "
                         "changed (line ",
                         0),
              0u);
}

}  // namespace
