// test_mobi_write.cpp - Mobipocket books written with new metadata, read back by the project's
// readers: the new values, every other record byte for byte, and what is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "book_builders.h"
#include "formats/full_readers.h"
#include "formats/mobi/mobi_record0.h"
#include "formats/mobi/mobi_write.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "write_harness.h"

namespace {

using namespace qwrite;
using qtest::ExthRecord;
using qtest::MobiDesc;

std::string u32be(std::uint32_t v) {
    std::string s;
    qtest::put_u32(s, 0, v);
    return s;
}

std::string write(const std::string &book, const eb_changes &c, int *rc) {
    return run(eb_write_mobi, book, c, rc);
}

eb_record read(const std::string &book) {
    return read_mobi(book);
}

// The PalmDOC and MOBI headers without the full name's offset and length.
std::string masked(std::string r0) {
    r0.resize(16 + 232);
    r0.replace(84, 8, 8, '\0');
    return r0;
}

std::string book_with(std::vector<ExthRecord> exth, std::uint32_t codepage = 65001) {
    MobiDesc d;
    d.exth_records = std::move(exth);
    d.images = {qtest::tiny_jpeg(), qtest::tiny_png()};
    d.cover_image = 0;
    std::vector<std::string> recs{qtest::build_mobi_record0(d), d.text};
    qtest::put_u32(recs[0], 28, codepage);
    recs.insert(recs.end(), d.images.begin(), d.images.end());
    return qtest::build_palmdb(d.palm_name, recs);
}

TEST(MobiWrite, ChangedFieldsReadBackAndTheRestStays) {
    const std::string book = book_with({{100, "Old Author"},
                                        {113, "B000ASIN01"},
                                        {105, "Old subject"},
                                        {101, "Old House"},
                                        {524, "de"}});
    struct Case {
        const char *name;
        eb_changes changes;
        std::function<void(const eb_record &)> check;
    } cases[] = {
        {"title", with([](eb_changes &c) { c.title = to<std::string>("A New Title, Longer"); }),
         [](const eb_record &r) { EXPECT_EQ(r.title, "A New Title, Longer"); }},
        {"short title", with([](eb_changes &c) { c.title = to<std::string>("X"); }),
         [](const eb_record &r) { EXPECT_EQ(r.title, "X"); }},
        {"authors in order", with([](eb_changes &c) {
             c.authors =
                 to<std::vector<eb_person>>({{"Ann One", "", "aut"}, {"Bo Two", "", "aut"}});
         }),
         [](const eb_record &r) {
             ASSERT_EQ(r.authors.size(), 2u);
             EXPECT_EQ(r.authors[0].name, "Ann One");
             EXPECT_EQ(r.authors[1].name, "Bo Two");
         }},
        {"paragraphs and markup characters", with([](eb_changes &c) {
             c.description = to<std::string>("Tom & <Jerry>\n\nSecond   part.");
         }),
         [](const eb_record &r) { EXPECT_EQ(r.description, "Tom & <Jerry>\n\nSecond part."); }},
        {"lists and texts", with([](eb_changes &c) {
             c.subjects = to<std::vector<std::string>>({"Sea", "Lighthouses"});
             c.languages = to<std::vector<std::string>>({"en", "fr"});
             c.isbn = to<std::string>("9780306406157");
             c.published = to<std::string>("2001-02-03");
             c.rights = to<std::string>("CC BY");
             c.title_sort = to<std::string>("Sort, The");
         }),
         [](const eb_record &r) {
             EXPECT_EQ(r.subjects, (std::vector<std::string>{"Sea", "Lighthouses"}));
             EXPECT_EQ(r.languages, (std::vector<std::string>{"en", "fr"}));
             EXPECT_EQ(r.published, "2001-02-03");
             EXPECT_EQ(r.rights, "CC BY");
             EXPECT_EQ(r.title_sort, "Sort, The");
             ASSERT_GE(r.identifiers.size(), 2u);
             EXPECT_EQ(r.identifiers[1].scheme, "isbn");
             EXPECT_EQ(r.identifiers[1].value, "9780306406157");
         }},
        {"cleared",
         with([](eb_changes &c) { c.publisher.given = c.authors.given = c.subjects.given = true; }),
         [](const eb_record &r) {
             EXPECT_EQ(r.publisher, "");
             EXPECT_TRUE(r.authors.empty());
             EXPECT_TRUE(r.subjects.empty());
         }},
    };
    const std::vector<std::string> old = records(book);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int rc = 0;
        const std::string out = write(book, c.changes, &rc);
        ASSERT_EQ(rc, 0) << ebook_last_error();
        const eb_record r = read(out);
        c.check(r);
        // What the request leaves alone reads as before.
        if (!c.changes.languages.given) {
            EXPECT_EQ(r.language, "de");
        }
        EXPECT_EQ(r.identifiers[0].value, "B000ASIN01");
        ASSERT_TRUE(r.cover.has_value());
        const std::vector<std::string> now = records(out);
        ASSERT_EQ(now.size(), old.size());
        for (std::size_t i = 1; i < old.size(); ++i)
            EXPECT_EQ(now[i], old[i]) << "record " << i;
        EXPECT_EQ(masked(now[0]), masked(old[0])) << "headers differ in the name's place alone";
        EXPECT_EQ(u32(out, 40), 1893553445u) << "modification date, Unix epoch like the book";
        const std::uint32_t exth_len = u32(now[0], 16 + 232 + 4);
        EXPECT_EQ((16 + 232 + exth_len + (4 - exth_len % 4) % 4) % 4, 0u);
    }
}

TEST(MobiWrite, TextsTakeTheBooksEncoding) {
    const std::string book = book_with({{100, "Ren\xe9"}}, 1252);
    int rc = 0;
    std::string out =
        write(book, with([](eb_changes &c) {
                  c.authors = to<std::vector<eb_person>>({{"Zo\u00eb \u20ac", "", "aut"}});
                  c.description = to<std::string>("\u65e5\u672c & more");
              }),
              &rc);
    ASSERT_EQ(rc, 0) << ebook_last_error();
    eb_record r = read(out);
    EXPECT_EQ(r.authors[0].name, "Zo\u00eb \u20ac");
    EXPECT_EQ(r.description, "\u65e5\u672c & more") << "references where the encoding lacks them";
    EXPECT_NE(out.find("Zo\xeb \x80"), std::string::npos) << "written in windows-1252";

    out = write(book, with([](eb_changes &c) { c.title = to<std::string>("\u65e5\u672c"); }), &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(std::string(ebook_last_error()).find("windows-1252"), std::string::npos);
}

// A combined book: a MOBI 6 part, then after the boundary record a KF8 part
// whose record 0 states the same metadata.
TEST(MobiWrite, BothPartsOfACombinedBookChange) {
    MobiDesc m6, k8;
    m6.exth_records = {{100, "Old"}, {121, u32be(4)}};
    m6.images = {qtest::tiny_jpeg()};
    m6.cover_image = 0;
    k8.mobi_type = 248;
    k8.file_version = 8;
    k8.exth_records = {{100, "Old"}, {201, u32be(0)}};
    std::string book =
        qtest::build_palmdb("combined", {qtest::build_mobi_record0(m6), m6.text, qtest::tiny_jpeg(),
                                         "BOUNDARY", qtest::build_mobi_record0(k8), "<p>kf8</p>"});
    qtest::put_u32(book, 36, 0xD0000000u);  // a creation date counted from 1904
    int rc = 0;
    const std::string out =
        write(book, with([](eb_changes &c) {
                  c.authors = to<std::vector<eb_person>>({{"New Name", "", "aut"}});
                  c.title = to<std::string>("New Title");
                  c.cover = to(eb_cover_image{qtest::tiny_gif(), "image/gif", "gif"});
              }),
              &rc);
    ASSERT_EQ(rc, 0) << ebook_last_error();
    EXPECT_EQ(u32(out, 40), 1893553445u + 2082844800u) << "PalmOS epoch, as the creation date";
    const std::vector<std::string> recs = records(out);
    EXPECT_EQ(recs[2], qtest::tiny_gif());
    EXPECT_EQ(recs[5], "<p>kf8</p>");
    for (int part : {0, 4}) {
        eb_mobi_record0 r0;
        ASSERT_TRUE(eb_mobi_parse_record0(recs[part], r0)) << ebook_last_error();
        ASSERT_EQ(r0.exth[0].type, 100u);
        EXPECT_EQ(r0.exth[0].data, "New Name") << "part at record " << part;
        EXPECT_EQ(recs[part].substr(r0.name_off, r0.name_len), "New Title");
    }
    EXPECT_EQ(read(out).cover->mime, "image/gif");
}

TEST(MobiWrite, NewCoverIsTheExtractedImage) {
    qtest::TempDir dir("mobi-cover");
    int rc = 0;
    const std::string out =
        write(book_with({}), with([](eb_changes &c) {
                  c.cover = to(eb_cover_image{qtest::tiny_gif(), "image/gif", "gif"});
              }),
              &rc);
    ASSERT_EQ(rc, 0) << ebook_last_error();
    const std::string path = dir.put("book.mobi", out);
    ASSERT_EQ(ebook_extract_cover(path.c_str(), (dir.path + "/cover.gif").c_str()), 0)
        << ebook_last_error();
    EXPECT_EQ(qtest::read_file(dir.path + "/cover.gif"), qtest::tiny_gif());
    EXPECT_EQ(records(out)[3], qtest::tiny_png()) << "the record after the cover, shifted";
}

TEST(MobiWrite, RefusedBeforeAnythingIsWritten) {
    std::string drm = book_with({});
    drm[u32(drm, 78) + 13] = 2;  // record 0's encryption type
    std::string list = book_with({});
    qtest::put_u32(list, 78 + 8, 5);  // record 1 before record 0
    std::string exth = book_with({{100, "A"}});
    qtest::put_u32(exth, u32(exth, 78) + 16 + 232 + 12 + 4, 400);  // a record past its block
    MobiDesc bare;
    const std::string no_cover = qtest::build_mobi(bare);
    const eb_changes title = with([](eb_changes &c) { c.title = to<std::string>("T"); });
    const eb_changes gif = with([](eb_changes &c) {
        c.cover = to(eb_cover_image{qtest::tiny_gif(), "image/gif", "gif"});
    });
    struct Case {
        const char *name;
        std::string book;
        eb_changes changes;
        const char *error;
    } cases[] = {
        {"protected", drm, title, "will not modify a DRM-protected book"},
        {"record list", list, title, "MOBI record list is damaged"},
        {"EXTH block", exth, title, "MOBI EXTH block is damaged"},
        {"series", book_with({}), with([](eb_changes &c) {
             c.series = to<std::vector<eb_series>>({{"S", "1"}});
         }),
         "series: not stored by MOBI books"},
        {"title removed", book_with({}), with([](eb_changes &c) { c.title.given = true; }),
         "title: a MOBI book always has one"},
        {"no cover to replace", no_cover, gif, "cover: this MOBI book names no cover image"},
        {"WebP cover", book_with({}), with([](eb_changes &c) {
             c.cover = to(eb_cover_image{"RIFF\0\0\0\0WEBPVP8 ", "image/webp", "webp"});
         }),
         "cover: MOBI books hold JPEG, PNG or GIF"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int rc = 0;
        EXPECT_EQ(write(c.book, c.changes, &rc), "");
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(std::string(ebook_last_error()).find(c.error), 0u) << ebook_last_error();
    }
}

}  // namespace
