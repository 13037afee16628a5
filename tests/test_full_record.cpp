// Full record building blocks: its JSON form against the schema, identifier
// rules, and the ZIP archive handle.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "full_record.h"
#include "io/zip_archive.h"
#include "record/identifiers.h"
#include "schema_check.h"
#include "zip_builder.h"

namespace {

std::string to_json(const eb_record &r) {
    char *s = eb_record_to_json(r);
    if (!s) return "<null>";
    std::string out(s);
    std::free(s);
    return out;
}

qtest::SchemaChecker &schema() {
    static qtest::SchemaChecker checker(qtest::metadata_schema_path());
    return checker;
}

TEST(RecordJson, EmptyRecordHasEveryKeyInOrder) {
    eb_record r;
    r.format = "epub";
    const std::string json = to_json(r);
    EXPECT_EQ(json,
              "{\"format\":\"epub\",\"container\":null,\"version\":null,\"title\":\"\","
              "\"title_sort\":\"\",\"subtitle\":\"\",\"authors\":[],\"contributors\":[],"
              "\"language\":\"\",\"languages\":[],\"series\":[],\"identifiers\":[],\"isbn\":null,"
              "\"asin\":null,\"publisher\":\"\",\"published\":\"\",\"modified\":\"\","
              "\"rights\":\"\",\"description\":\"\",\"subjects\":[],\"pages\":null,\"cover\":null,"
              "\"drm\":false,"
              "\"drm_scheme\":null,\"obfuscated_fonts\":false,\"encoding\":null,\"warnings\":[]}");
    EXPECT_EQ(schema().check(json), "");
}

TEST(RecordJson, FullRecordMatchesSchemaAndTakesFirstIsbnAndAsin) {
    eb_record r;
    r.format = "fb2";
    r.container = "fb2.zip";
    r.version = "3.0";
    r.title = "Анна \"К\"\n";
    r.authors = {{"Лев Толстой", "Толстой, Лев", "aut"}};
    r.contributors = {{"Constance Garnett", "", "trl"}};
    r.series = {{"Classics", "2"}};
    r.identifiers = {{"uuid", "urn:uuid:1"},
                     {"isbn", "9780306406157"},
                     {"asin", "B000000001"},
                     {"isbn", "9781861972712"},
                     {"asin", "B000000002"}};
    r.cover = eb_cover_info{"image/jpeg", 1234, "coverpage"};
    r.drm = true;
    r.drm_scheme = "fb2-encrypted";
    r.encoding = "windows-1251";
    r.warnings = {"w"};
    const std::string json = to_json(r);
    EXPECT_EQ(schema().check(json), "") << json;
    EXPECT_NE(json.find("\"isbn\":\"9780306406157\",\"asin\":\"B000000001\""), std::string::npos);
    EXPECT_NE(json.find("\"cover\":{\"mime\":\"image/jpeg\",\"size\":1234,\"from\":\"coverpage\"}"),
              std::string::npos);
    EXPECT_NE(json.find("\"title\":\"Анна \\\"К\\\"\\n\""), std::string::npos);
}

TEST(RecordJson, InvalidUtf8IsRefusedNotWritten) {
    eb_record r;
    r.format = "mobi";
    r.title = "Caf\xe9";
    EXPECT_EQ(to_json(r), "<null>");
}

TEST(Schema, RejectsWrongShapes) {
    eb_record r;
    r.format = "epub";
    std::string good = to_json(r);
    struct Case {
        std::string from, to;
    };
    const Case cases[] = {
        {"\"format\":\"epub\"", "\"format\":\"docx\""},
        {"\"pages\":null", "\"pages\":-1"},
        {"\"container\":null,", ""},
        {"\"isbn\":null", "\"isbn\":\"123\""},
        {"\"authors\":[]", "\"authors\":[{\"name\":\"A\",\"sort\":\"\"}]"},
        {"\"drm\":false", "\"drm\":0"},
        {"\"warnings\":[]", "\"warnings\":[],\"extra\":1"},
        {"\"cover\":null", "\"cover\":{\"mime\":\"\",\"size\":-1,\"from\":\"x\"}"},
    };
    for (const Case &c : cases) {
        std::string bad = good;
        bad.replace(bad.find(c.from), c.from.size(), c.to);
        EXPECT_NE(schema().check(bad), "") << bad;
    }
}

TEST(Identifiers, SchemesAndIsbnForms) {
    struct Case {
        const char *scheme, *value, *want_scheme, *want_value;
    };
    const Case cases[] = {
        {"ISBN", "0-306-40615-2", "isbn", "9780306406157"},
        {"", "urn:isbn:978-0-306-40615-7", "isbn", "9780306406157"},
        {"", "isbn:0 8044 2957 X", "isbn", "9780804429573"},
        {"", "9780306406157", "isbn", "9780306406157"},  // checksum alone
        {"ISBN", "978-0-306-40615-8", "isbn-invalid", "978-0-306-40615-8"},
        {"", "urn:isbn:12345", "isbn-invalid", "urn:isbn:12345"},
        {"", "9770306406156", "", "9770306406156"},          // an EAN that is no ISBN
        {"calibre", "0306406153", "calibre", "0306406153"},  // bad checksum, kept as found
        {"AMAZON", "0306406152", "asin", "0306406152"},      // an ASIN that is an ISBN-10
        {"", "urn:uuid:0a1b2c3d-0000-4000-8000-000000000000", "uuid",
         "urn:uuid:0a1b2c3d-0000-4000-8000-000000000000"},
        {"", "doi:10.1000/182", "doi", "doi:10.1000/182"},
        {"Goodreads", " 123 ", "goodreads", "123"},
    };
    for (const Case &c : cases) {
        eb_identifier id = eb_classify_identifier(c.scheme, c.value);
        EXPECT_EQ(id.scheme, c.want_scheme) << c.value;
        EXPECT_EQ(id.value, c.want_value) << c.value;
    }
}

// One-line texts lose the markup's wrapping and indentation, entries that
// differ only by it are one, and entries it leaves empty are gone; prose
// keeps its line breaks.
TEST(RecordSettle, OneLineTextsFoldWhiteSpace) {
    const struct {
        const char *in, *out;
    } cases[] = {{"  War\n     and   Peace ", "War and Peace"},
                 {"\t\t\tDave    Cramer\r\n", "Dave Cramer"},
                 {"Plain title", "Plain title"},
                 {" \n\t ", ""},
                 {"A\xC2\xA0 B", "A\xC2\xA0 B"}};  // a no-break space is the book's choice
    for (const auto &c : cases) {
        eb_record r;
        r.format = "mobi";
        r.title = c.in;
        r.authors = {{c.in, c.in, "aut"}, {c.out, c.out, "aut"}};
        r.contributors = {{"Ann", "", c.in}};
        r.series = {{c.in, "1"}};
        r.subjects = r.languages = {c.in, c.out};
        r.identifiers = {{"isbn-invalid", c.in}};
        r.description = r.rights = c.in;
        eb_record_settle(r);
        EXPECT_EQ(r.title, c.out) << c.in;
        EXPECT_EQ(r.description, c.in);
        EXPECT_EQ(r.rights, c.in);
        EXPECT_EQ(r.contributors[0].role, *c.out ? c.out : "ctb");
        if (!*c.out) {  // nothing but white space: no entry is left to name nothing
            EXPECT_TRUE(r.authors.empty() && r.series.empty() && r.subjects.empty() &&
                        r.languages.empty() && r.identifiers.empty());
            EXPECT_EQ(schema().check(to_json(r)), "");
            continue;
        }
        ASSERT_EQ(r.authors.size(), 1u) << c.in;
        EXPECT_EQ(r.authors[0].sort, c.out) << c.in;
        EXPECT_EQ(r.series[0].name, c.out) << c.in;
        EXPECT_EQ(r.subjects.size(), 1u) << c.in;
        EXPECT_EQ(r.identifiers[0].value, c.out);
    }
}

// Every text of the record is made valid UTF-8 (one warning says so), and
// only the texts of the book's content are settled: a label stays as written.
TEST(RecordSettle, EveryTextMadeValidLabelsKept) {
    const std::string bad = " x\xFF\n y ", fixed = " x\xEF\xBF\xBD\n y ";
    eb_record r;
    std::string *texts[] = {&r.format,    &r.title,     &r.title_sort, &r.subtitle, &r.language,
                            &r.publisher, &r.published, &r.modified,   &r.rights,   &r.description};
    for (std::string *s : texts)
        *s = bad;
    r.container = r.version = r.drm_scheme = r.encoding = bad;
    r.authors = r.contributors = {{bad, bad, bad}};
    r.languages = r.subjects = {bad};
    r.series = {{bad, bad}};
    r.identifiers = {{bad, bad}};
    r.cover = eb_cover_info{bad, 1, bad};
    r.warnings = {bad};
    eb_record_ensure_utf8(r);
    eb_record_settle(r);
    EXPECT_NE(to_json(r), "<null>");  // the writer refuses any text that is not UTF-8
    for (const std::string &label : {r.format, *r.container, *r.version, *r.drm_scheme, *r.encoding,
                                     r.cover->mime, r.cover->from, r.warnings[0]})
        EXPECT_EQ(label, fixed);
    for (const std::string &prose : {r.rights, r.description})
        EXPECT_EQ(prose, fixed);
    for (const std::string &line :
         {r.title, r.title_sort, r.subtitle, r.language, r.publisher, r.published, r.modified,
          r.authors[0].name, r.authors[0].sort, r.authors[0].role, r.contributors[0].role,
          r.languages[0], r.subjects[0], r.series[0].name, r.series[0].index,
          r.identifiers[0].scheme, r.identifiers[0].value})
        EXPECT_EQ(line, "x\xEF\xBF\xBD y");
    EXPECT_EQ(r.warnings.back(), "invalid UTF-8 replaced");
    EXPECT_EQ(r.warnings.size(), 2u);
}

TEST(ZipArchive, FindReadAndRefusals) {
    std::string zip = qtest::build_zip({qtest::zip_file("Dir/A.txt", "first"),
                                        qtest::zip_file("dir/a.TXT", "second"),
                                        qtest::zip_file("big.bin", std::string(5000, 'x')),
                                        qtest::zip_file("stored.bin", "abc", false)});
    eb_zip_archive za(zip.data(), zip.size());
    ASSERT_TRUE(za.ok());
    EXPECT_EQ(za.count(), 4u);
    EXPECT_EQ(za.find("DIR/a.txt"), 0);  // first match in central-directory order
    EXPECT_EQ(za.find("dir/a.txt/"), -1);
    std::string out;
    EXPECT_EQ(za.read(0, 100, &out), eb_zip_read::ok);
    EXPECT_EQ(out, "first");
    std::uint64_t size = 0;
    ASSERT_TRUE(za.size(2, &size));
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(za.read(2, 4999, &out), eb_zip_read::too_large);
    EXPECT_EQ(za.read(2, 5000, &out), eb_zip_read::ok);
    EXPECT_EQ(za.read(9, 100, &out), eb_zip_read::missing);

    // A stored member claiming more than its data, and one whose CRC lies.
    std::string lying = qtest::patch_member_header(zip, "stored.bin", 4, qtest::crc32_of("abcd"));
    eb_zip_archive lz(lying.data(), lying.size());
    EXPECT_EQ(lz.read(3, 100, &out), eb_zip_read::too_large);
    std::string bad_crc = qtest::patch_member_header(zip, "stored.bin", 3, 0x12345678);
    eb_zip_archive bz(bad_crc.data(), bad_crc.size());
    EXPECT_EQ(bz.read(3, 100, &out), eb_zip_read::damaged);
    EXPECT_TRUE(out.empty());

    eb_zip_archive none("PK\x03\x04", 4);
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.find("x"), -1);
}

}  // namespace
