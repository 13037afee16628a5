// test_record_fb2.cpp - the full record of FictionBook documents, field by field.
#include <gtest/gtest.h>

#include <string>

#include "book_builders.h"
#include "error.h"
#include "fb2_builder.h"
#include "fb2_full_builder.h"
#include "formats/full_readers.h"
#include "formats/readers.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "text/encoding.h"

namespace {

using qtest::build_fb2_full;
using qtest::fb2_person;
using qtest::Fb2FullDesc;

eb_record record(const std::string &doc) {
    eb_record r;
    EXPECT_EQ(eb_record_fb2(doc, r), 0);
    return r;
}

// Every text of the record is valid UTF-8.
void expect_utf8(const eb_record &r) {
    std::vector<std::string> all = {r.format,   r.title,      r.title_sort, r.subtitle,
                                    r.language, r.publisher,  r.published,  r.modified,
                                    r.rights,   r.description};
    for (const auto &p : r.authors)
        all.insert(all.end(), {p.name, p.sort, p.role});
    for (const auto &p : r.contributors)
        all.insert(all.end(), {p.name, p.sort, p.role});
    for (const auto &s : r.series)
        all.insert(all.end(), {s.name, s.index});
    for (const auto &i : r.identifiers)
        all.insert(all.end(), {i.scheme, i.value});
    all.insert(all.end(), r.subjects.begin(), r.subjects.end());
    all.insert(all.end(), r.warnings.begin(), r.warnings.end());
    all.insert(all.end(), r.languages.begin(), r.languages.end());
    if (r.cover) all.push_back(r.cover->mime);
    for (const auto &s : all)
        EXPECT_TRUE(eb_utf8_valid(s)) << testing::PrintToString(s);
}

Fb2FullDesc full_book() {
    Fb2FullDesc s;
    s.title_info = {
        "<genre>sf</genre>",
        "<genre>prose_classic</genre>",
        fb2_person("author", "Lev", "Nikolayevich", "Tolstoy"),
        fb2_person("author", "", "", "", "Anon"),
        "<book-title>War &amp; <emphasis>Peace</emphasis></book-title>",
        "<annotation><p>First  paragraph\n  goes on.</p><empty-line/><p>Second "
        "<emphasis>one</emphasis>.</p></annotation>",
        "<keywords>war, peace ,, history</keywords>",
        "<date value=\"1869-01-01\">1869</date>",
        "<lang>ru</lang>",
        "<src-lang>fr</src-lang>",
        fb2_person("translator", "Louise", "", "Maude"),
        "<sequence name=\"Epics\" number=\"2\"><sequence name=\"Inner\" number=\"1\"/></sequence>",
    };
    s.document_info = {fb2_person("author", "", "", "", "maker"), "<id>doc-123</id>"};
    s.publish_info = {"<publisher>Pub &amp; Co</publisher>", "<year>2001</year>",
                      "<isbn>0-306-40615-2</isbn>", "<sequence name=\"Classics\" number=\"7\"/>"};
    return s;
}

TEST(RecordFb2, EverySectionIsRead) {
    const eb_record r = record(build_fb2_full(full_book()));
    EXPECT_EQ(r.format, "fb2");
    EXPECT_EQ(r.title, "War & Peace");
    ASSERT_EQ(r.authors.size(), 2u);
    EXPECT_EQ(r.authors[0].name, "Lev Nikolayevich Tolstoy");
    EXPECT_EQ(r.authors[0].sort, "Tolstoy, Lev Nikolayevich");
    EXPECT_EQ(r.authors[0].role, "aut");
    EXPECT_EQ(r.authors[1].name, "Anon");
    EXPECT_EQ(r.authors[1].sort, "");
    ASSERT_EQ(r.contributors.size(), 1u);
    EXPECT_EQ(r.contributors[0].name, "Louise Maude");
    EXPECT_EQ(r.contributors[0].sort, "Maude, Louise");
    EXPECT_EQ(r.contributors[0].role, "trl");
    EXPECT_EQ(r.subjects,
              (std::vector<std::string>{"sf", "prose_classic", "war", "peace", "history"}));
    EXPECT_EQ(r.description, "First paragraph goes on.\n\nSecond one.");
    EXPECT_EQ(r.language, "ru");
    EXPECT_EQ(r.languages, std::vector<std::string>{"ru"});
    ASSERT_EQ(r.series.size(), 3u);
    EXPECT_EQ(r.series[0].name, "Epics");
    EXPECT_EQ(r.series[0].index, "2");
    EXPECT_EQ(r.series[1].name, "Inner");
    EXPECT_EQ(r.series[2].name, "Classics");
    EXPECT_EQ(r.series[2].index, "7");
    EXPECT_EQ(r.publisher, "Pub & Co");
    EXPECT_EQ(r.published, "2001");
    ASSERT_EQ(r.identifiers.size(), 2u);
    EXPECT_EQ(r.identifiers[0].scheme, "fb2-id");
    EXPECT_EQ(r.identifiers[0].value, "doc-123");
    EXPECT_EQ(r.identifiers[1].scheme, "isbn");
    EXPECT_EQ(r.identifiers[1].value, "9780306406157");
    EXPECT_FALSE(r.drm);
    EXPECT_FALSE(r.encoding.has_value());
    EXPECT_FALSE(r.cover.has_value());
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    expect_utf8(r);
}

TEST(RecordFb2, PublishedFallsBackToTheTitleDate) {
    const struct {
        std::string date, year, published;
    } cases[] = {
        {"<date value=\"1869-05-01\">1869</date>", "", "1869-05-01"},
        {"<date>spring 1869</date>", "", "spring 1869"},
        {"<date>1869</date>", "<year>1999</year>", "1999"},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        Fb2FullDesc s;
        s.title_info = {"<book-title>T</book-title>"};
        if (!c.date.empty()) s.title_info.push_back(c.date);
        if (!c.year.empty()) s.publish_info = {c.year};
        EXPECT_EQ(record(build_fb2_full(s)).published, c.published) << c.date << c.year;
    }
}

TEST(RecordFb2, IsbnWithBadCheckDigitIsNotAnIsbn) {
    Fb2FullDesc s;
    s.publish_info = {"<isbn>978-0-306-40615-8</isbn>"};
    const eb_record r = record(build_fb2_full(s));
    ASSERT_EQ(r.identifiers.size(), 1u);
    EXPECT_NE(r.identifiers[0].scheme, "isbn");
    EXPECT_EQ(r.identifiers[0].value, "978-0-306-40615-8");
}

TEST(RecordFb2, DeclaredEncodingsAreDecoded) {
    Fb2FullDesc s;
    s.encoding = "windows-1251";
    s.title_info = {"<book-title>\xC0\xED\xED\xE0 \xCA\xE0\xF0\xE5\xED\xE8\xED\xE0</book-title>",
                    fb2_person("author", "\xCB\xE5\xE2", "", "\xD2\xEE\xEB\xF1\xF2\xEE\xE9")};
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title, "Анна Каренина");
    ASSERT_EQ(r.authors.size(), 1u);
    EXPECT_EQ(r.authors[0].name, "Лев Толстой");
    EXPECT_EQ(r.encoding, "windows-1251");
    expect_utf8(r);
}

TEST(RecordFb2, AnyPrefixOfTheFictionBookNamespace) {
    Fb2FullDesc s;
    s.prefix = "fb";
    s.title_info = {"<fb:book-title>Prefixed</fb:book-title>",
                    "<fb:author><fb:last-name>Doe</fb:last-name></fb:author>",
                    "<fb:lang>en</fb:lang>", "<other:x xmlns:other='urn:o'>skip</other:x>",
                    "<fb:coverpage><fb:image l:href='#c'/></fb:coverpage>"};
    s.binaries = {{"c", "image/png", qtest::tiny_png()}};
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title, "Prefixed");
    ASSERT_EQ(r.authors.size(), 1u);
    EXPECT_EQ(r.authors[0].name, "Doe");
    EXPECT_EQ(r.language, "en");
    ASSERT_TRUE(r.cover.has_value());
    EXPECT_EQ(r.cover->size, qtest::tiny_png().size());
}

TEST(RecordFb2, BrokenDescriptionIsReadToItsEnd) {
    Fb2FullDesc s;
    s.title_info = {"<book-title>Tom & Jerry&nbsp;Go</book-title>",
                    "<annotation><p>Bad <b>nesting</p></annotation>", "<lang>en</lang>"};
    s.publish_info = {"<publisher>After the break</publisher>"};
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title, "Tom & Jerry\xC2\xA0Go");
    EXPECT_EQ(r.language, "en");
    EXPECT_EQ(r.publisher, "After the break");
    EXPECT_GE(r.warnings.size(), 2u);
    expect_utf8(r);
}

TEST(RecordFb2, BodyAfterTheDescriptionIsNeverParsed) {
    Fb2FullDesc s;
    s.title_info = {"<book-title>T</book-title>"};
    s.body = "<p>&bogus; \x01 << </wrong>";
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title, "T");
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
}

// Deep nesting inside the annotation leaves the other fields readable (the
// time it takes is measured by the hostile-book benchmark, not here).
TEST(RecordFb2, DeepNestingKeepsTheOtherFields) {
    Fb2FullDesc s;
    std::string deep;
    for (int i = 0; i < 50000; ++i)
        deep += "<p>";
    s.title_info = {"<book-title>T</book-title>", "<annotation>" + deep + "x</annotation>"};
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title, "T");
}

TEST(RecordFb2, EncryptedDocumentsKeepTheirMetadata) {
    Fb2FullDesc s;
    s.title_info = {"<book-title>Locked</book-title>", "<lang>en</lang>"};
    s.body = "<encrypted-data/>";
    const eb_record r = record(build_fb2_full(s));
    EXPECT_TRUE(r.drm);
    EXPECT_EQ(r.drm_scheme, "fb2-encrypted");
    EXPECT_EQ(r.title, "Locked");
}

TEST(RecordFb2, CoverIsSizedFromItsBinary) {
    const std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string(1000, 'j');
    const std::string png = "\x89PNG\r\n\x1A\n" + std::string(17, 'p');
    const std::string gif = "GIF89a" + std::string(5, 'g');
    const struct {
        const char *name;
        std::string href;
        std::vector<qtest::Fb2Binary> binaries;
        std::string mime;
        std::uint64_t size;
    } cases[] = {
        {"typed",
         "#c.jpg",
         {{"other", "image/png", png}, {"c.jpg", "image/jpeg", jpeg}},
         "image/jpeg",
         jpeg.size()},
        {"href without #", "c.png", {{"c.png", "", png}}, "image/png", png.size()},
        {"sniffed gif", "#g", {{"g", "", gif}}, "image/gif", gif.size()},
        {"no such binary", "#missing", {{"c.jpg", "image/jpeg", jpeg}}, "", 0},
        {"empty binary", "#e", {{"e", "image/jpeg", ""}}, "", 0},
        {"empty href", "", {{"c.jpg", "image/jpeg", jpeg}}, "", 0},
    };
    for (const auto &c : cases) {
        Fb2FullDesc s;
        s.title_info = {"<book-title>T</book-title>",
                        "<coverpage><image l:href=\"" + c.href + "\"/></coverpage>"};
        s.binaries = c.binaries;
        const eb_record r = record(build_fb2_full(s));
        if (c.size == 0) {
            EXPECT_FALSE(r.cover.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(r.cover.has_value()) << c.name;
        EXPECT_EQ(r.cover->mime, c.mime) << c.name;
        EXPECT_EQ(r.cover->size, c.size) << c.name;
        EXPECT_EQ(r.cover->from, "coverpage") << c.name;
    }
}

TEST(RecordFb2, InvalidBytesAreReplacedWithAWarning) {
    Fb2FullDesc s;
    s.title_info = {
        "<book-title>Bad\xFF\xFE"
        "byte</book-title>"};
    const eb_record r = record(build_fb2_full(s));
    EXPECT_EQ(r.title,
              "Bad\xEF\xBF\xBD\xEF\xBF\xBD"
              "byte");
    EXPECT_FALSE(r.warnings.empty());
    expect_utf8(r);
}

// Title, first author, language and primary series agree with the book info.
TEST(RecordFb2, AgreesWithBookInfo) {
    std::vector<qtest::Fb2Desc> descs(6);
    descs[1].authors = {{"A", "B", "C", ""}, {"D", "", "E", ""}};
    descs[1].series = "Saga";
    descs[1].series_number = "3";
    descs[2].section = "Title-info";
    descs[3].authors = {{"", "", "", "Nick"}};
    descs[3].lang = "";
    descs[4].title = "  Spaced  ";
    descs[5].encoding = "";
    for (std::size_t i = 0; i < descs.size(); ++i) {
        const std::string doc = qtest::build_fb2(descs[i]);
        eb_meta m;
        eb_meta_init(&m);
        ASSERT_EQ(eb_parse_fb2(doc.c_str(), doc.size(), &m, 0), 0);
        const eb_record r = record(doc);
        EXPECT_EQ(r.title, m.title ? m.title : "") << i;
        EXPECT_EQ(r.authors.empty() ? "" : r.authors[0].name, m.author ? m.author : "") << i;
        EXPECT_EQ(r.language, m.language ? m.language : "") << i;
        EXPECT_EQ(r.series.empty() ? "" : r.series[0].name, m.series ? m.series : "") << i;
        EXPECT_EQ(r.series.empty() ? "" : r.series[0].index, m.series_index ? m.series_index : "")
            << i;
        eb_meta_free(&m);
    }
}

}  // namespace
