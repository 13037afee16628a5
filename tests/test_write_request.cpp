// test_write_request.cpp - write requests: what is refused with which words, and the forms kept.
#include <gtest/gtest.h>

#include "book_builders.h"
#include "error.h"
#include "ops/write/changes.h"
#include "temp_dir.h"

namespace {

struct Refused {
    const char *json;
    const char *error;  // the start of the message
};

TEST(WriteRequest, RefusedWithTheirOwnWords) {
    const Refused rows[] = {
        {"{\"title\":", "malformed changes JSON: "},
        {"[1]", "changes must be a JSON object"},
        {"{\"colour\":\"red\"}", "unknown field: colour"},
        {"{\"modified\":\"2020\"}", "field is not writable: modified"},
        {"{\"title\":\"a\",\"title\":\"b\"}", "duplicate field: title"},
        {"{\"title\":3}", "title: expected a string"},
        {"{\"authors\":\"Ann\"}", "authors: expected an array"},
        {"{\"authors\":[{\"sort\":\"x\"}]}", "authors: "},
        {"{\"authors\":[{\"name\":\"A\",\"role\":\"edt\"}]}", "authors: only the role aut"},
        {"{\"contributors\":[{\"name\":\"A\",\"role\":\"aut\"}]}", "contributors: the role aut"},
        {"{\"contributors\":[{\"name\":\"A\",\"role\":\"e-d\"}]}", "contributors: not a relator"},
        {"{\"title\":\"a\\u0007b\"}", "title: control characters"},
        {"{\"description\":\"a\\u0085b\"}", "description: control characters"},
        {"{\"rights\":\"\\uffff\"}", "rights: control characters"},
        {"{\"language\":\"english language\"}", "language: not a BCP 47 language tag"},
        {"{\"languages\":[\"en\",\"x\"]}", "language: not a BCP 47"},
        {"{\"language\":\"en\",\"languages\":[\"fr\"]}", "language and languages name"},
        {"{\"published\":\"2020-02-30\"}", "published: not an ISO 8601 date: 2020-02-30"},
        {"{\"published\":\"yesterday\"}", "published: not an ISO 8601 date"},
        {"{\"isbn\":\"978-0-306-40615-8\"}", "isbn: not a valid ISBN-10 or ISBN-13"},
        {"{\"identifiers\":[{\"scheme\":\"isbn\",\"value\":\"123\"}]}", "identifiers: not a valid"},
        {"{\"identifiers\":[\"doi:1\"]}", "identifiers: expected an array of {"},
        {"{\"series\":[{\"index\":2}]}", "series: "},
        {"{\"cover\":\"/nonexistent/cover.jpg\"}", "cover: cannot open: /nonexistent/cover.jpg"},
        {"{\"cover\":7}", "cover: expected the path of an image"},
    };
    for (const Refused &r : rows) {
        eb_changes c;
        EXPECT_FALSE(eb_changes_read(r.json, &c)) << r.json;
        EXPECT_EQ(std::string(eb_error_text()).rfind(r.error, 0), 0u)
            << r.json << " -> " << eb_error_text();
    }
    eb_changes c;
    EXPECT_FALSE(eb_changes_read(std::string("{\"title\":\"\xff\"}"), &c));
    EXPECT_STREQ(eb_error_text(), "changes are not valid UTF-8");
}

TEST(WriteRequest, ValuesTakeTheFormsTheReaderGives) {
    eb_changes c;
    ASSERT_TRUE(eb_changes_read(
        R"({"title":"  The\tLong\n Title ","isbn":"0-306-40615-2","authors":["Ann",{"name":"Ann"},
            {"name":"Bo","sort":"B"}],"language":"pt-BR","subjects":["x"," x ",""],
            "series":[{"name":"S","index":2.5},"T"],"publisher":null,"subtitle":"",
            "identifiers":[{"scheme":"ISBN","value":"978-0-306-40615-7"},{"value":"urn:uuid:1"}],
            "description":"one\r\nline\n\n\n  two  \n","published":"2001-02-03T04:05:06+01:00"})",
        &c))
        << eb_error_text();
    EXPECT_EQ(*c.title.value, "The Long Title");
    EXPECT_EQ(*c.isbn.value, "9780306406157");
    ASSERT_EQ(c.authors.value->size(), 2u);  // repeats dropped
    EXPECT_EQ((*c.authors.value)[0].role, "aut");
    EXPECT_EQ((*c.languages.value), std::vector<std::string>{"pt-BR"});
    EXPECT_EQ(*c.subjects.value, std::vector<std::string>{"x"});
    EXPECT_EQ((*c.series.value)[0].index, "2.5");
    EXPECT_EQ((*c.series.value)[1].name, "T");
    EXPECT_TRUE(c.publisher.clears());
    EXPECT_TRUE(c.subtitle.clears());
    EXPECT_EQ(*c.description.value, "one line\n\ntwo");
    // With isbn given, the identifiers hold none: the isbn is the one.
    ASSERT_EQ(c.identifiers.value->size(), 1u);
    EXPECT_EQ((*c.identifiers.value)[0].scheme, "uuid");
    EXPECT_EQ(c.given(), unsigned{EB_W_TITLE | EB_W_ISBN | EB_W_AUTHORS | EB_W_LANGUAGES |
                                  EB_W_SUBJECTS | EB_W_SERIES | EB_W_PUBLISHER | EB_W_SUBTITLE |
                                  EB_W_IDENTIFIERS | EB_W_DESCRIPTION | EB_W_PUBLISHED});
}

TEST(WriteRequest, CoverImagesKnownByTheirFirstBytes) {
    qtest::TempDir dir("write-cover");
    const struct {
        std::string bytes;
        const char *mime;
    } rows[] = {{qtest::tiny_jpeg(), "image/jpeg"},
                {qtest::tiny_png(), "image/png"},
                {qtest::tiny_gif(), "image/gif"},
                {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "image/webp"},
                {"<svg/>", nullptr},
                {"", nullptr}};
    for (const auto &r : rows) {
        const std::string p = dir.put("img", r.bytes);
        eb_changes c;
        const bool ok = eb_changes_read("{\"cover\":\"" + p + "\"}", &c);
        EXPECT_EQ(ok, r.mime != nullptr) << eb_error_text();
        if (ok) {
            EXPECT_EQ(c.cover.value->mime, r.mime);
        }
        if (!ok) {
            EXPECT_EQ(std::string(eb_error_text()).rfind("cover: not a JPEG", 0), 0u);
        }
    }
}

}  // namespace
