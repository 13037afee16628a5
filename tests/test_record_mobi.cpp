// test_record_mobi.cpp - the full record of MOBI/AZW3 books and PalmDOC databases, rule by rule.
#include <gtest/gtest.h>

#include <string>

#include "book_builders.h"
#include "error.h"
#include "formats/full_readers.h"
#include "formats/readers.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "text/encoding.h"

namespace {

using qtest::ExthRecord;
using qtest::MobiDesc;

std::string u32be(std::uint32_t v) {
    std::string s;
    qtest::put_u32(s, 0, v);
    return s;
}

// A book as build_mobi makes it, with record 0's text encoding set and any
// records appended after the images.
std::string mobi(const MobiDesc &desc, std::uint32_t codepage = 65001,
                 const std::vector<std::string> &more = {}) {
    std::vector<std::string> records;
    std::string r0 = qtest::build_mobi_record0(desc);
    if (desc.mobi_header && r0.size() >= 32) qtest::put_u32(r0, 28, codepage);
    records.push_back(r0);
    records.push_back(desc.text);
    records.insert(records.end(), desc.images.begin(), desc.images.end());
    records.insert(records.end(), more.begin(), more.end());
    return qtest::build_palmdb(desc.palm_name, records);
}

eb_record read(const std::string &book) {
    eb_record r;
    EXPECT_EQ(eb_record_mobi(book.data(), book.size(), r), 0) << ebook_last_error();
    return r;
}

TEST(RecordMobi, ExthFieldsFillTheRecord) {
    MobiDesc s;
    s.exth_records = {
        {100, "First Author"},
        {101, "Publisher One"},
        {100, "Second Author"},
        {103, "<p>One &amp; <b>two</b></p><p>Three&nbsp;four</p>"},
        {104, "0-306-40615-2"},
        {104, "123"},
        {105, "Fiction"},
        {105, "History"},
        {106, "2008-05-20"},
        {109, "Public domain"},
        {113, "B000ASIN01"},
        {504, "B000ASIN02"},
        {508, "Sample Book, The"},
        {524, "en"},
        {524, "fr"},
    };
    const eb_record r = read(mobi(s));
    EXPECT_EQ(r.format, "mobi");
    EXPECT_EQ(r.version, "6");
    EXPECT_EQ(r.title, "Sample Book");
    ASSERT_EQ(r.authors.size(), 2u);
    EXPECT_EQ(r.authors[0].name, "First Author");
    EXPECT_EQ(r.authors[0].role, "aut");
    EXPECT_EQ(r.authors[1].name, "Second Author");
    EXPECT_EQ(r.publisher, "Publisher One");
    EXPECT_EQ(r.description, "One & two\n\nThree four");
    EXPECT_EQ(r.subjects, (std::vector<std::string>{"Fiction", "History"}));
    EXPECT_EQ(r.published, "2008-05-20");
    EXPECT_EQ(r.rights, "Public domain");
    EXPECT_EQ(r.title_sort, "Sample Book, The");
    EXPECT_EQ(r.language, "en");
    EXPECT_EQ(r.languages, (std::vector<std::string>{"en", "fr"}));
    ASSERT_EQ(r.identifiers.size(), 4u);
    EXPECT_EQ(r.identifiers[0].scheme, "isbn");
    EXPECT_EQ(r.identifiers[0].value, "9780306406157");
    EXPECT_EQ(r.identifiers[1].scheme, "isbn-invalid");
    EXPECT_EQ(r.identifiers[2].scheme, "asin");
    EXPECT_EQ(r.identifiers[2].value, "B000ASIN01");
    EXPECT_EQ(r.identifiers[3].value, "B000ASIN02");
    EXPECT_FALSE(r.drm);
    EXPECT_FALSE(r.encoding.has_value());
    EXPECT_TRUE(r.warnings.empty());
}

TEST(RecordMobi, TitleChoice) {
    const struct {
        std::string full_name, updated, title;
    } cases[] = {
        {"Full Name", "Updated", "Full Name"},
        {"", "Updated", "Updated"},
        {"", "", "Sample_Book"},  // the database name, underscores kept
        {"   ", "", "Sample_Book"},
    };
    for (const auto &c : cases) {
        MobiDesc s;
        s.full_name = c.full_name;
        if (!c.updated.empty()) s.exth_records = {{503, c.updated}};
        EXPECT_EQ(read(mobi(s)).title, c.title) << c.full_name << "/" << c.updated;
    }
}

TEST(RecordMobi, TextEncodings) {
    MobiDesc s;
    s.full_name = "Caf\xE9 \x93Noir\x94";
    s.exth_records = {{100, "Ren\xE9"}};
    eb_record r = read(mobi(s, 1252));
    EXPECT_EQ(r.title, "Café “Noir”");
    EXPECT_EQ(r.authors.at(0).name, "René");
    EXPECT_EQ(r.encoding, "windows-1252");

    s.full_name = "Bad\xFF";
    r = read(mobi(s, 65001));
    EXPECT_EQ(r.title, "Bad\xEF\xBF\xBD");
    EXPECT_FALSE(r.encoding.has_value());
    EXPECT_FALSE(r.warnings.empty());
    EXPECT_TRUE(eb_utf8_valid(r.authors.at(0).name));
}

TEST(RecordMobi, FormatAndVersion) {
    MobiDesc kf8;
    kf8.mobi_type = 248;
    EXPECT_EQ(read(mobi(kf8)).format, "azw3");
    MobiDesc v8;
    v8.file_version = 8;
    const eb_record r8 = read(mobi(v8));
    EXPECT_EQ(r8.format, "azw3");
    EXPECT_EQ(r8.version, "8");

    // A hybrid book: EXTH 121 names the KF8 part's record 0 (record 2 here).
    MobiDesc part = v8;
    part.exth_records = {};
    MobiDesc hybrid;
    hybrid.exth_records = {{121, u32be(2)}};
    const eb_record h = read(mobi(hybrid, 65001, {qtest::build_mobi_record0(part)}));
    EXPECT_EQ(h.format, "mobi");
    EXPECT_EQ(h.version, "8");
    // A boundary past the record list leaves the header's own version.
    hybrid.exth_records = {{121, u32be(9)}};
    EXPECT_EQ(read(mobi(hybrid)).version, "6");
}

TEST(RecordMobi, CoverFromExth201) {
    const std::string jpeg = qtest::tiny_jpeg(), png = qtest::tiny_png(), gif = qtest::tiny_gif();
    const struct {
        const char *name;
        std::vector<std::string> images;
        std::vector<ExthRecord> exth;
        std::string mime;
        std::uint64_t size;
    } cases[] = {
        {"jpeg", {jpeg, png}, {{201, u32be(0)}}, "image/jpeg", jpeg.size()},
        {"png", {jpeg, png}, {{201, u32be(1)}}, "image/png", png.size()},
        {"gif", {gif}, {{201, u32be(0)}}, "image/gif", gif.size()},
        {"last 201 wins", {jpeg, png}, {{201, u32be(0)}, {201, u32be(1)}}, "image/png", png.size()},
        {"one past the list", {jpeg}, {{201, u32be(1)}}, "", 0},
        {"no cover value", {jpeg}, {{201, u32be(0xFFFFFFFFu)}}, "", 0},
        // 2 + 0xFFFFFFFE wraps to record 0 in 32 bits: never taken as the cover
        {"no wrap-around", {jpeg}, {{201, u32be(0xFFFFFFFEu)}}, "", 0},
        {"no images", {}, {{201, u32be(0)}}, "", 0},
    };
    for (const auto &c : cases) {
        MobiDesc s;
        s.images = c.images;
        s.exth_records = c.exth;
        const eb_record r = read(mobi(s));
        if (c.size == 0) {
            EXPECT_FALSE(r.cover.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(r.cover.has_value()) << c.name;
        EXPECT_EQ(r.cover->mime, c.mime) << c.name;
        EXPECT_EQ(r.cover->size, c.size) << c.name;
        EXPECT_EQ(r.cover->from, "exth-201") << c.name;
    }
}

TEST(RecordMobi, ProtectedBooksKeepTheirMetadata) {
    MobiDesc s;
    s.encryption = 2;
    s.exth_records = {{100, "Author"}, {524, "de"}};
    const eb_record r = read(mobi(s));
    EXPECT_TRUE(r.drm);
    EXPECT_EQ(r.drm_scheme, "mobipocket");
    EXPECT_EQ(r.title, "Sample Book");
    EXPECT_EQ(r.authors.at(0).name, "Author");
    EXPECT_EQ(r.language, "de");
}

TEST(RecordMobi, PlainPalmDoc) {
    std::string r0(16, '\0');
    qtest::put_u16(r0, 0, 1);
    const eb_record r = read(qtest::build_palmdb("Caf\xE9_Book", {r0, "text"}, "TEXtREAd"));
    EXPECT_EQ(r.format, "palmdoc");
    EXPECT_EQ(r.title, "Café_Book");
    EXPECT_TRUE(r.authors.empty());
    EXPECT_FALSE(r.version.has_value());
    EXPECT_FALSE(r.encoding.has_value());
    EXPECT_FALSE(r.drm);
    EXPECT_TRUE(r.warnings.empty());

    qtest::put_u16(r0, 12, 1);  // the old Mobipocket encryption
    const eb_record locked = read(qtest::build_palmdb("Locked", {r0, "text"}, "TEXtREAd"));
    EXPECT_EQ(locked.format, "palmdoc");
    EXPECT_TRUE(locked.drm);
    EXPECT_EQ(locked.title, "Locked");
}

TEST(RecordMobi, UnreadableBytesFail) {
    const struct {
        std::string bytes, error;
    } cases[] = {
        {std::string(77, '\0'), "MOBI too short for PalmDB header"},
        {std::string(78, '\0'), "MOBI has no records"},
        {qtest::build_palmdb("x", {std::string(8, '\0')}), "MOBI record 0 too small"},
    };
    for (const auto &c : cases) {
        eb_record r;
        EXPECT_EQ(eb_record_mobi(c.bytes.data(), c.bytes.size(), r), -1) << c.error;
        EXPECT_STREQ(ebook_last_error(), c.error.c_str());
    }
}

// Title, first author and language agree with the book info.
TEST(RecordMobi, AgreesWithBookInfo) {
    std::vector<MobiDesc> descs(6);
    descs[1].exth_records = {
        {101, "Publisher"}, {503, "Updated"}, {100, "A1"}, {100, "A2"}, {524, "en"}};
    descs[2].full_name = "";
    descs[3].header_len = 24;  // record 0 too short for the full name
    descs[4].exth = false;
    descs[5].mobi_header = false;
    for (std::size_t i = 0; i < descs.size(); ++i) {
        const std::string book = qtest::build_mobi(descs[i]);
        eb_meta m;
        eb_meta_init(&m);
        eb_parse_mobi(book.c_str(), book.size(), &m, 0);
        const eb_record r = read(book);
        EXPECT_EQ(r.title, m.title ? m.title : "") << i;
        EXPECT_EQ(r.authors.empty() ? "" : r.authors[0].name, m.author ? m.author : "") << i;
        EXPECT_EQ(r.language, m.language ? m.language : "") << i;
        eb_meta_free(&m);
    }
}

}  // namespace
