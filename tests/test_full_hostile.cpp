// test_full_hostile.cpp - the full record on hostile books, one case per shape: long lists
// keep each value once and in order, unclosed and deeply nested markup leaves the rest
// readable, and broken or odd packages give what they state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "book_builders.h"
#include "hostile_books.h"
#include "metadata_probe.h"
#include "zip_builder.h"

namespace {

using qtest::MetaProbe;

struct Case {
    const char *row;
    std::string bytes;
    const char *name;
    std::vector<std::pair<std::string, std::string>> at;  // JSON pointer, value
    std::vector<std::pair<std::string, std::size_t>> count;
    std::string warning = "";  // a warning holds this ("" for none asked)
    std::string error = "";    // the call fails with this text ("" for success)
};

std::string epub(const std::string &opf) {
    return qtest::epub_around_opf(opf);
}

std::string package(const std::string &metadata, const std::string &decl = "UTF-8") {
    return "<?xml version=\"1.0\" encoding=\"" + decl +
           "\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
           "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
           metadata + "</metadata><manifest/></package>";
}

std::string exth_book(const std::vector<qtest::ExthRecord> &records) {
    qtest::MobiDesc d;
    d.exth_records = records;
    return qtest::build_mobi(d);
}

std::string repeat(const std::string &piece, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += piece;
    return s;
}

std::vector<Case> cases() {
    const std::string many_genres = qtest::many_genres_fb2(20000);
    std::vector<Case> v = {
        {"1 genres", many_genres, "g.fb2", {{"/subjects/19999", "g19999"}}, {{"/subjects", 20000}}},
        {"1 repeats keep the first, in order",
         qtest::fb2_title_info("<genre>b</genre><genre>a</genre><genre>b</genre>"
                               "<keywords>a, c, b</keywords><sequence name=\"S\" number=\"1\"/>"
                               "<sequence name=\"S\" number=\"1\"/><sequence name=\"S\"/>"),
         "r.fb2",
         {{"/subjects/0", "b"}, {"/subjects/1", "a"}, {"/subjects/2", "c"}, {"/series/1/index", ""}},
         {{"/subjects", 3}, {"/series", 2}}},
        {"2 subjects", qtest::many_exth_mobi(105, 20000), "s.mobi", {{"/subjects/19999", "v19999"}},
         {{"/subjects", 20000}}},
        {"2 repeats",
         exth_book({{105, "x"}, {105, "y"}, {105, "x"}, {524, "fr"}, {524, "en"}, {524, "fr"},
                    {113, "B1"}, {504, "B1"}, {113, "B2"}, {100, "Ann"}, {100, "Ann"}}),
         "r.mobi",
         {{"/subjects/1", "y"}, {"/language", "fr"}, {"/languages/1", "en"}, {"/asin", "B1"}},
         {{"/subjects", 2}, {"/languages", 2}, {"/identifiers", 2}, {"/authors", 1}}},
        // More unclosed instructions than the reader restarts after errors.
        {"3 unclosed instructions", epub(qtest::unclosed_pis_opf(2000, 64 * 1024)), "p.epub",
         {{"/authors/0/name", "After"}}, {}, "never ends"},
        {"3 the same in a FictionBook", qtest::unclosed_pis_fb2(2000, 64 * 1024), "p.fb2",
         {{"/authors/0/name", "After"}}, {}, "never ends"},
        {"4 nesting", epub(qtest::repeated_opf("<a>", 300000)), "n.epub",
         {{"/title", "Hostile"}}, {}, "1024 deep"},
        {"4 nesting in a FictionBook", qtest::nested_fb2(300000), "n.fb2", {{"/title", "Hostile"}},
         {}, "1024 deep"},
        {"4 empty metas", epub(qtest::repeated_opf("<meta/>", 300000) + "</metadata></package>"),
         "m.epub", {{"/title", "Hostile"}}, {}},
        {"9 cover larger than its data", "", "c.epub", {{"/cover", "<null>"}}, {},
         "cover image size larger than its data can hold: OEBPS/c.jpg"},
        {"10 entity after an error", epub(qtest::entity_after_error_opf()), "e.epub",
         {{"/authors/0/name", "X"}}, {}, "mismatched"},
        {"10 the same in a FictionBook", qtest::entity_after_error_fb2(), "e.fb2",
         {{"/authors/0/name", "X"}}, {}, "mismatched"},
        {"11 UCS-2 legible as ASCII", epub(package("<dc:title>Wide</dc:title>", "UCS-2")),
         "w.epub", {{"/title", "Wide"}}, {}, "declares ucs-2 but is not"},
        {"11 UTF-32 legible as ASCII", qtest::fb2_title_info("", "UTF-32"), "w.fb2",
         {{"/title", "Hostile"}}, {}, "declares utf-32 but is not"},
        {"13 manifest first",
         epub("<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\"><manifest><item "
              "id=\"i\" href=\"c.png\" media-type=\"image/png\"/></manifest><metadata "
              "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Late</dc:title>"
              "<dc:language>fr</dc:language><meta name=\"cover\" content=\"i\"/></metadata>"
              "<spine/></package>"),
         "l.epub", {{"/title", "Late"}, {"/language", "fr"}}, {},
         "cover image not in the archive: OEBPS/c.png"},
        {"14 OEB 1.2",
         epub("<package unique-identifier=\"id\"><metadata><dc-metadata "
              "xmlns:dc=\"http://purl.org/dc/elements/1.0/\"><dc:Title>Old Style</dc:Title>"
              "<dc:Creator role=\"aut\" file-as=\"Lee, Ann\">Ann Lee</dc:Creator>"
              "<dc:Language>en</dc:Language><dc:Identifier id=\"id\" scheme=\"ISBN\">"
              "0-306-40615-2</dc:Identifier></dc-metadata></metadata><manifest/></package>"),
         "o.epub",
         {{"/title", "Old Style"},
          {"/authors/0/sort", "Lee, Ann"},
          {"/language", "en"},
          {"/isbn", "9780306406157"}},
         {}},
        {"15 fbz without a FictionBook",
         qtest::build_zip({qtest::zip_file("readme.txt", "<p>just text</p>")}), "b.fbz", {}, {}, "",
         "no single FB2 document in ZIP: b.fbz"},
        {"16 a 16 MB title", epub(package("<dc:title>" + std::string(16000000, 'T') + "</dc:title>")),
         "t.epub", {}, {}},
        {"16 an FB2 title past the limit",
         qtest::fb2_title_info("").replace(
             qtest::fb2_title_info("").find("Hostile"), 7,
             repeat("\xD0\xAF", 40000)),  // 80,000 bytes of two-byte letters
         "t.fb2", {}, {}},
    };
    // Row 9's book: a 3-byte cover whose directory entry claims 4 GiB.
    qtest::EpubDesc d;
    d.cover = "abc";
    d.cover_href = "c.jpg";
    for (Case &c : v)
        if (c.bytes.empty())
            c.bytes = qtest::patch_member_header(qtest::build_epub(d), "OEBPS/c.jpg", 0xFFFFFFFFu,
                                                 qtest::crc32_of("abc"));
    return v;
}

TEST(FullHostile, EachShapeGivesWhatTheBookStates) {
    for (const Case &c : cases()) {
        const MetaProbe p = MetaProbe::from_memory(c.bytes, c.name);
        if (!c.error.empty()) {
            EXPECT_FALSE(p.ok()) << c.row;
            EXPECT_EQ(p.error(), c.error) << c.row;
            continue;
        }
        ASSERT_TRUE(p.ok()) << c.row << ": " << p.error();
        EXPECT_EQ(p.schema_error(), "") << c.row;
        for (const auto &[pointer, value] : c.at)
            EXPECT_EQ(p.at(pointer), value) << c.row << " " << pointer;
        for (const auto &[pointer, n] : c.count)
            EXPECT_EQ(p.count(pointer), n) << c.row << " " << pointer;
        bool warned = c.warning.empty();
        for (std::size_t i = 0; i < p.count("/warnings"); ++i)
            warned = warned || p.at("/warnings/" + std::to_string(i)).find(c.warning) !=
                                   std::string::npos;
        EXPECT_TRUE(warned) << c.row << ": " << p.json().substr(p.json().find("\"warnings\""));
        // Row 16: every text of every format is cut at the same limit, on a
        // character boundary.
        if (std::string(c.row).rfind("16", 0) == 0) {
            EXPECT_LE(p.at("/title").size(), 65536u) << c.row;
            EXPECT_GE(p.at("/title").size(), 65535u) << c.row;
        }
    }
}

// An end tag that names no open element closes the one it stands for: the
// same name in other letter case, or a typo of the innermost element's name;
// any other stray end tag is passed over, and each costs a warning.
TEST(FullHostile, EndTagsThatNameNoOpenElement) {
    const std::string rest = "<dc:language>en</dc:language><dc:publisher>P</dc:publisher>";
    const struct {
        const char *what;
        std::string metadata;
        std::vector<std::pair<std::string, std::string>> at;
    } cases[] = {
        {"letter case",
         "<dc:title>T</dc:title><dc:creator>A</dc:Creator>" + rest,
         {{"/authors/0/name", "A"}, {"/language", "en"}, {"/publisher", "P"}}},
        {"letter case, further out",
         "<dc:title>T</dc:title><dc:description>one <b>two</dc:DESCRIPTION>" + rest,
         {{"/description", "one two"}, {"/language", "en"}}},
        {"a swapped pair",
         "<dc:title>T</dc:tilte><dc:creator>A</dc:creator>" + rest,
         {{"/title", "T"}, {"/authors/0/name", "A"}, {"/publisher", "P"}}},
        {"a letter dropped",
         "<dc:title>T</dc:title><dc:publisher>P</dc:publsher>"
         "<dc:language>en</dc:language>",
         {{"/publisher", "P"}, {"/language", "en"}}},
        {"a stray end tag inside text",
         "<dc:title>T</dc:title><dc:description>one</b> two</dc:description>" + rest,
         {{"/description", "one two"}, {"/language", "en"}}},
        {"another element's name is no typo",
         "<dc:title>T</dc:date> more</dc:title>" + rest,
         {{"/title", "T more"}}},
        {"short names are no typos",
         "<dc:title>T <em>x</en> y</dc:title>" + rest,
         {{"/title", "T x y"}, {"/publisher", "P"}}},
    };
    for (const auto &c : cases) {
        const MetaProbe p = MetaProbe::from_memory(epub(package(c.metadata)), "e.epub");
        ASSERT_TRUE(p.ok()) << c.what << ": " << p.error();
        for (const auto &[pointer, value] : c.at)
            EXPECT_EQ(p.at(pointer), value) << c.what << " " << pointer << "\n" << p.json();
        EXPECT_NE(p.json().find("mismatched tag"), std::string::npos) << c.what;
    }
}

}  // namespace
