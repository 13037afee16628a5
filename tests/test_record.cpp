// test_record.cpp - the book record and its JSON object.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstring>
#include <string>

#include "heap.h"
#include "quenfold_ebook.h"
#include "record.h"

namespace {

std::string render(const eb_meta &m) {
    char *s = eb_meta_to_json(&m);
    EXPECT_NE(s, nullptr);
    std::string out = s ? s : "";
    std::free(s);
    return out;
}

// Strings in a record are owned heap copies; this keeps tests short.
struct Record {
    eb_meta m;
    Record() { eb_meta_init(&m); }
    ~Record() { eb_meta_free(&m); }
};

}  // namespace

TEST(BookJson, WorkedExamples) {
    Record r;
    EXPECT_EQ(
        render(r.m),
        R"({"drm":false,"format":"","title":"","author":"","language":"","series":"","series_index":"","has_cover":false})");

    r.m.title = eb_strdup("Example Title");
    r.m.author = eb_strdup("Example Author");
    r.m.language = eb_strdup("en");
    r.m.asin = eb_strdup("B0EXAMPLE0");
    r.m.format = eb_strdup("mobi");
    r.m.has_cover = 1;
    EXPECT_EQ(
        render(r.m),
        R"({"drm":false,"format":"mobi","title":"Example Title","author":"Example Author","language":"en","series":"","series_index":"","has_cover":true,"asin":"B0EXAMPLE0"})");

    std::strcpy(r.m.cover_mime, "image/jpeg");
    EXPECT_EQ(
        render(r.m),
        R"({"drm":false,"format":"mobi","title":"Example Title","author":"Example Author","language":"en","series":"","series_index":"","has_cover":true,"asin":"B0EXAMPLE0","cover_mime":"image/jpeg"})");
}

TEST(BookJson, PresenceAndFlagRules) {
    Record r;
    r.m.asin = eb_strdup("");
    r.m.drm = 7;
    r.m.series_index = eb_strdup("3");
    std::string s = render(r.m);
    EXPECT_EQ(s.find("asin"), std::string::npos);
    EXPECT_EQ(s.rfind(R"({"drm":true,)", 0), 0u);
    EXPECT_NE(s.find(R"("series_index":"3")"), std::string::npos);

    // Cover bytes without the flag still mean a cover.
    unsigned char byte = 1;
    r.m.cover_data = static_cast<unsigned char *>(std::malloc(1));
    *r.m.cover_data = byte;
    r.m.cover_len = 1;
    EXPECT_NE(render(r.m).find(R"("has_cover":true)"), std::string::npos);
}

TEST(BookJson, EscapingAndInvalidUtf8) {
    Record r;
    r.m.title = eb_strdup("a\"b\\c\nd\te/f \xC3\xA9");
    std::string s = render(r.m);
    EXPECT_NE(s.find(R"("title":"a\"b\\c\nd\te/f )"
                     "\xC3\xA9\""),
              std::string::npos);
    EXPECT_EQ(s.find('\n'), std::string::npos);
    yyjson_doc *doc = yyjson_read(s.data(), s.size(), 0);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(yyjson_doc_get_root(doc), "title")),
                 "a\"b\\c\nd\te/f \xC3\xA9");
    yyjson_doc_free(doc);

    // cp1252 bytes go through unchanged.
    Record w;
    w.m.author = eb_strdup("Fran\xE7ois \x93quoted\x94");
    EXPECT_NE(render(w.m).find("\"author\":\"Fran\xE7ois \x93quoted\x94\""), std::string::npos);
}

TEST(BookRecord, FreeZeroesAndIsRepeatable) {
    eb_meta m;
    eb_meta_init(&m);
    m.title = eb_strdup("t");
    m.cover_data = static_cast<unsigned char *>(std::malloc(4));
    m.cover_len = 4;
    std::strcpy(m.cover_mime, "image/png");
    eb_meta_free(&m);
    EXPECT_EQ(m.title, nullptr);
    EXPECT_EQ(m.cover_data, nullptr);
    EXPECT_EQ(m.cover_len, 0u);
    EXPECT_STREQ(m.cover_mime, "");
    eb_meta_free(&m);

    EXPECT_EQ(eb_strdup(nullptr), nullptr);
    char *e = eb_strdup("");
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e, "");
    std::free(e);
}
