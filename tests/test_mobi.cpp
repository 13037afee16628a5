// test_mobi.cpp - Mobipocket reader: PalmDB record list, MOBI header, EXTH records, covers, DRM.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "book_builders.h"
#include "error.h"
#include "formats/readers.h"
#include "quenfold_ebook.h"
#include "record.h"

using qtest::build_mobi;
using qtest::MobiDesc;

namespace {

// Runs the reader over bytes held in an exactly sized block followed by the
// NUL the loader adds, so a read past the data is caught by AddressSanitizer.
struct MobiBook {
    int rc = 0;
    eb_meta meta{};
    std::string error;
    MobiBook(const std::string &bytes, int want_cover = 0) {
        char *block = static_cast<char *>(std::malloc(bytes.size() + 1));
        std::memcpy(block, bytes.data(), bytes.size());
        block[bytes.size()] = '\0';
        eb_clear_error();
        rc = eb_parse_mobi(block, bytes.size(), &meta, want_cover);
        error = ebook_last_error();
        std::free(block);
    }
    ~MobiBook() { eb_meta_free(&meta); }
    std::string str(const char *s) const { return s ? s : "<null>"; }
    std::string title() const { return str(meta.title); }
    std::string author() const { return str(meta.author); }
    std::string format() const { return str(meta.format); }
};

std::string with_u32(std::string bytes, std::size_t at, std::uint32_t v) {
    qtest::put_u32(bytes, at, v);
    return bytes;
}

// Offset of record 0 inside a build_mobi image.
std::size_t r0_at(const std::string &book) {
    return static_cast<unsigned char>(book[78]) << 24 | static_cast<unsigned char>(book[79]) << 16 |
           static_cast<unsigned char>(book[80]) << 8 | static_cast<unsigned char>(book[81]);
}

}  // namespace

TEST(MobiReader, OrdinaryBookGivesItsMetadata) {
    MobiDesc s;
    s.full_name = "The Quiet Sea";
    s.exth_records = {{100, "Ann Lee"}, {524, "en"}, {113, "B0EXAMPLE0"}};
    s.images = {qtest::tiny_jpeg()};
    s.cover_image = 0;
    MobiBook p(build_mobi(s));
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.format(), "mobi");
    EXPECT_EQ(p.title(), "The Quiet Sea");
    EXPECT_EQ(p.author(), "Ann Lee");
    EXPECT_EQ(p.str(p.meta.language), "en");
    EXPECT_EQ(p.str(p.meta.asin), "B0EXAMPLE0");
    EXPECT_EQ(p.meta.series, nullptr);
    EXPECT_EQ(p.meta.has_cover, 1);
    EXPECT_EQ(p.meta.cover_data, nullptr);  // not asked for the bytes
    EXPECT_STREQ(p.meta.cover_mime, "");
}

TEST(MobiReader, FailureTable) {
    MobiBook too_short(std::string(77, 'x'));
    EXPECT_EQ(too_short.rc, -1);
    EXPECT_EQ(too_short.error, "MOBI too short for PalmDB header");
    EXPECT_EQ(too_short.meta.format, nullptr);

    MobiBook no_records(std::string(78, '\0'));
    EXPECT_EQ(no_records.rc, -1);
    EXPECT_EQ(no_records.error, "MOBI has no records");
    EXPECT_EQ(no_records.format(), "mobi");

    std::string two(85, '\0');
    qtest::put_u16(two, 76, 2);
    MobiBook truncated(two);
    EXPECT_EQ(truncated.error, "MOBI record list truncated");

    std::string book = build_mobi(MobiDesc{});
    MobiBook bad_offset(with_u32(book, 78, static_cast<std::uint32_t>(book.size())));
    EXPECT_EQ(bad_offset.error, "MOBI record 0 offset invalid");

    // Record 0 of 15 bytes: entry 1 starts 15 bytes after entry 0.
    MobiBook tiny(with_u32(book, 86, static_cast<std::uint32_t>(r0_at(book) + 15)));
    EXPECT_EQ(tiny.error, "MOBI record 0 too small");

    for (std::uint32_t bad_len : {0u, 7u}) {
        MobiBook p(with_u32(book, r0_at(book) + 20, bad_len));
        EXPECT_EQ(p.rc, -1);
        EXPECT_EQ(p.error, "invalid MOBI header length");
    }
}

TEST(MobiReader, RecordZeroBoundaries) {
    MobiDesc s;
    s.full_name = "Bounded";
    std::string book = build_mobi(s);
    // Entry 1 before entry 0, or past the end: record 0 runs to the end of the file.
    for (std::uint32_t end1 : {0u, static_cast<std::uint32_t>(book.size() + 100)}) {
        MobiBook p(with_u32(book, 86, end1));
        EXPECT_EQ(p.rc, 0);
        EXPECT_EQ(p.title(), "Bounded");
    }
    // A single-record database.
    std::string r0 = qtest::build_mobi_record0(s);
    MobiBook one(qtest::build_palmdb("Solo", {r0}));
    EXPECT_EQ(one.rc, 0);
    EXPECT_EQ(one.title(), "Bounded");
}

TEST(MobiReader, HeaderLengthFieldPastTheRecordIsRefused) {
    // "MOBI" at offset 16 in a record 0 of 20..23 bytes, as the last record:
    // the header length would lie past the end of the file.
    for (std::size_t size0 : {20u, 23u}) {
        MobiDesc s;
        s.record0_size = size0;
        std::string r0 = qtest::build_mobi_record0(s);
        MobiBook p(qtest::build_palmdb("Short", {r0}));
        EXPECT_EQ(p.rc, -1);
        EXPECT_EQ(p.error, "invalid MOBI header length");
    }
}

TEST(MobiReader, DrmIsReportedBeforeTheHeaderIsRead) {
    MobiDesc s;
    s.encryption = 2;
    s.full_name = "Locked";
    s.mobi_type = 248;
    MobiBook p(build_mobi(s));
    EXPECT_EQ(p.rc, -1);
    EXPECT_EQ(p.meta.drm, 1);
    EXPECT_EQ(p.error, "DRM protected MOBI (encryption type 2); will not decrypt");
    EXPECT_EQ(p.format(), "mobi");  // the format test comes later
    EXPECT_EQ(p.meta.title, nullptr);

    MobiDesc palmdoc;
    palmdoc.encryption = 1;
    palmdoc.mobi_header = false;
    MobiBook q(build_mobi(palmdoc));
    EXPECT_EQ(q.meta.drm, 1);
}

TEST(MobiReader, PalmDocOnlyIsAWarning) {
    MobiDesc s;
    s.mobi_header = false;
    s.palm_name = "Plain_Text";
    MobiBook p(build_mobi(s));
    EXPECT_EQ(p.rc, 0);
    EXPECT_EQ(p.error, "no MOBI header (PalmDOC-only); limited support");
    EXPECT_EQ(p.title(), "Plain_Text");

    MobiDesc s2;
    s2.record0_size = 18;  // too small to say "MOBI"
    MobiBook q(build_mobi(s2));
    EXPECT_EQ(q.rc, 0);
    EXPECT_EQ(q.error, "no MOBI header (PalmDOC-only); limited support");
}

TEST(MobiReader, FormatTest) {
    struct Case {
        std::uint32_t type, version;
        std::size_t size0;
        const char *want;
    } cases[] = {
        {248, 6, 0, "azw3"},  {2, 8, 0, "azw3"},
        {2, 7, 0, "mobi"},    {248, 8, 39, "mobi"},  // too short for the type and version fields
        {248, 8, 40, "azw3"},
    };
    for (const auto &c : cases) {
        MobiDesc s;
        s.mobi_type = c.type;
        s.file_version = c.version;
        s.record0_size = c.size0;
        MobiBook p(build_mobi(s));
        EXPECT_EQ(p.format(), c.want) << c.type << "/" << c.version << "/" << c.size0;
    }
}

TEST(MobiReader, TitleFallsBackToThePalmName) {
    MobiDesc s;
    s.palm_name = "Palm_Name";
    std::string book = build_mobi(s);
    std::size_t r0 = r0_at(book);
    std::size_t r0_size = qtest::build_mobi_record0(s).size();

    MobiBook zero_offset(with_u32(book, r0 + 84, 0));
    EXPECT_EQ(zero_offset.title(), "Palm_Name");

    // Offset + length one byte past record 0.
    std::uint32_t off = static_cast<std::uint32_t>(r0_size - 3);
    MobiBook past(with_u32(with_u32(book, r0 + 84, off), r0 + 88, 4));
    EXPECT_EQ(past.title(), "Palm_Name");
    MobiBook fits(with_u32(with_u32(book, r0 + 84, off), r0 + 88, 3));
    EXPECT_EQ(fits.rc, 0);

    MobiDesc spaces;
    spaces.palm_name = "Palm_Name";
    spaces.full_name = "    ";
    MobiBook blank(build_mobi(spaces));
    EXPECT_EQ(blank.title(), "Palm_Name");

    MobiDesc trailing;
    trailing.full_name = "  Lead kept  ";
    MobiBook trimmed(build_mobi(trailing));
    EXPECT_EQ(trimmed.title(), "  Lead kept");

    // Record 0 below 100 bytes has no full-name fields.
    MobiDesc small;
    small.palm_name = "Small";
    small.record0_size = 99;
    MobiBook p(build_mobi(small));
    EXPECT_EQ(p.title(), "Small");
}

TEST(MobiReader, PalmNameTrimming) {
    auto title_of = [](const std::string &name32) {
        std::string book = build_mobi(MobiDesc{});
        book.replace(0, 32, name32);
        std::size_t r0 = r0_at(book);
        MobiBook p(with_u32(book, r0 + 84, 0));
        return p.title();
    };
    EXPECT_EQ(title_of("TenLetters" + std::string(22, '\0')), "TenLetters");
    EXPECT_EQ(title_of(std::string(32, ' ')), "");
    std::string mixed = "ab   " + std::string(1, '\0') + std::string(25, ' ') + "z";
    ASSERT_EQ(mixed.size(), 32u);
    EXPECT_EQ(title_of(mixed), "ab   ");
}

TEST(MobiReader, ExthRules) {
    MobiDesc s;
    // 503 (updated title) and 101 (publisher) never fill author or language.
    s.exth_records = {{503, "Updated Title"}, {101, "Publisher Inc"}, {100, ""},
                      {100, "First Author"},  {100, "Second"},        {524, "de"},
                      {504, "ASIN504"},       {113, "ASIN113"}};
    MobiBook p(build_mobi(s));
    EXPECT_EQ(p.author(), "First Author");  // an empty record is passed over
    EXPECT_EQ(p.str(p.meta.language), "de");
    EXPECT_EQ(p.str(p.meta.asin), "ASIN504");

    MobiDesc only_others;
    only_others.exth_records = {{503, "Updated"}, {101, "Pub"}};
    MobiBook q(build_mobi(only_others));
    EXPECT_EQ(q.meta.author, nullptr);
    EXPECT_EQ(q.meta.language, nullptr);

    // A text trimmed to nothing still counts as set.
    MobiDesc blank;
    blank.exth_records = {{100, "  "}, {100, "Later"}};
    MobiBook r(build_mobi(blank));
    EXPECT_EQ(r.author(), "");
}

TEST(MobiReader, ExthBlockLimits) {
    MobiDesc s;
    s.exth_records = {{100, "Kept"}, {524, "fr"}};
    std::string book = build_mobi(s);
    std::size_t exth = r0_at(book) + 16 + 232;
    // Count 0: nothing is read.
    MobiBook none(with_u32(book, exth + 8, 0));
    EXPECT_EQ(none.meta.author, nullptr);
    // Count 1: only the first record.
    MobiBook one(with_u32(book, exth + 8, 1));
    EXPECT_EQ(one.author(), "Kept");
    EXPECT_EQ(one.meta.language, nullptr);
    // Block length covering only the first record: the second does not fit.
    MobiBook cut(with_u32(book, exth + 4, 12 + 12));
    EXPECT_EQ(cut.author(), "Kept");
    EXPECT_EQ(cut.meta.language, nullptr);
    // A record length below 8 stops the walk.
    MobiBook bad(with_u32(book, exth + 12 + 4, 7));
    EXPECT_EQ(bad.meta.author, nullptr);
    // Without the EXTH flag the block is ignored.
    MobiDesc noflag = s;
    noflag.exth = false;
    MobiBook nf(build_mobi(noflag));
    EXPECT_EQ(nf.meta.author, nullptr);
    // Record 0 of 128..143 bytes: the flag is not read.
    MobiDesc shortr0 = s;
    shortr0.header_len = 116;
    shortr0.record0_size = 143;
    MobiBook sr(build_mobi(shortr0));
    EXPECT_EQ(sr.meta.author, nullptr);
}

TEST(MobiReader, CoverRules) {
    MobiDesc s;
    s.images = {qtest::tiny_gif(), qtest::tiny_jpeg(), qtest::tiny_png()};
    s.cover_image = 1;
    MobiBook jpeg(build_mobi(s), 1);
    ASSERT_EQ(jpeg.meta.cover_len, qtest::tiny_jpeg().size());
    EXPECT_EQ(std::string(reinterpret_cast<char *>(jpeg.meta.cover_data), jpeg.meta.cover_len),
              qtest::tiny_jpeg());
    EXPECT_STREQ(jpeg.meta.cover_mime, "image/jpeg");

    // The last record runs to the end of the file.
    s.cover_image = 2;
    MobiBook png(build_mobi(s), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(png.meta.cover_data), png.meta.cover_len),
              qtest::tiny_png());
    EXPECT_STREQ(png.meta.cover_mime, "image/png");

    s.cover_image = 0;
    MobiBook gif(build_mobi(s), 1);
    EXPECT_STREQ(gif.meta.cover_mime, "application/octet-stream");

    // Seven bytes starting 0x89 are no PNG.
    MobiDesc seven;
    seven.images = {std::string("\x89PNG\r\n\x1A", 7)};
    seven.cover_image = 0;
    MobiBook p7(build_mobi(seven), 1);
    EXPECT_STREQ(p7.meta.cover_mime, "application/octet-stream");

    // A later 201 record replaces an earlier one.
    MobiDesc twice;
    twice.images = {qtest::tiny_gif(), qtest::tiny_jpeg()};
    twice.exth_records = {{201, std::string("\0\0\0\0", 4)}};
    twice.cover_image = 1;
    MobiBook t(build_mobi(twice), 1);
    EXPECT_STREQ(t.meta.cover_mime, "image/jpeg");
}

TEST(MobiReader, CoverAbsentOrOutOfRange) {
    MobiDesc s;
    s.images = {qtest::tiny_jpeg()};
    s.cover_image = 0;
    std::string book = build_mobi(s);
    std::size_t r0 = r0_at(book);

    // 201 of all ones means none.
    MobiDesc none = s;
    none.cover_image = -1;
    none.exth_records = {{201, std::string("\xFF\xFF\xFF\xFF", 4)}};
    MobiBook p(build_mobi(none), 1);
    EXPECT_EQ(p.meta.has_cover, 0);

    // First image index 0.
    MobiBook f0(with_u32(book, r0 + 108, 0), 1);
    EXPECT_EQ(f0.meta.has_cover, 0);

    // Low 16 bits only: 0xFFFF + 0 is past the record list: named, not loaded.
    MobiBook big(with_u32(book, r0 + 108, 0xFFFFFFFFu), 1);
    EXPECT_EQ(big.rc, 0);
    EXPECT_EQ(big.meta.has_cover, 1);
    EXPECT_EQ(big.meta.cover_data, nullptr);

    // A cover record whose offset lies past the end of the file.
    MobiBook outside(with_u32(book, 78 + 8 * 2, static_cast<std::uint32_t>(book.size() + 5)), 1);
    EXPECT_EQ(outside.meta.has_cover, 1);
    EXPECT_EQ(outside.meta.cover_data, nullptr);
}

TEST(MobiReader, CoverIndexNeverWrapsAroundToTheHeader) {
    // Records: 0 the header, 1 the text, 2 the only image (first image 2).
    struct Case {
        std::uint32_t offset;  // EXTH 201
        bool loaded;
    } cases[] = {
        {0, true},             // record 2
        {1, false},            // record 3: one past the record list
        {0xFFFFFFFEu, false},  // 2 + offset is record 0 in 32-bit arithmetic
        {0xFFFFFFFDu, false},  // ... and record 1
    };
    for (const Case &c : cases) {
        MobiDesc s;
        s.images = {qtest::tiny_jpeg()};
        std::string v(4, '\0');
        qtest::put_u32(v, 0, c.offset);
        s.exth_records = {{201, v}};
        MobiBook p(build_mobi(s), 1);
        EXPECT_EQ(p.rc, 0) << c.offset;
        EXPECT_EQ(p.meta.has_cover, 1) << c.offset;  // named by the book
        if (c.loaded) {
            ASSERT_NE(p.meta.cover_data, nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<char *>(p.meta.cover_data), p.meta.cover_len),
                      qtest::tiny_jpeg());
        } else {
            EXPECT_EQ(p.meta.cover_data, nullptr) << c.offset;
            EXPECT_EQ(p.meta.cover_len, 0u) << c.offset;
        }
    }
}
