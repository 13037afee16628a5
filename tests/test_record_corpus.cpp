// test_record_corpus.cpp - the full record of the real FB2 and MOBI books (../shared/corpus)
// against the decoded texts of expected.json.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <filesystem>
#include <string>

#include "book_builders.h"
#include "formats/full_readers.h"
#include "text/encoding.h"

namespace {

const std::string kCorpus = QEM_CORPUS_DIR;

struct doc_free {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
};

std::string str(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    return yyjson_is_str(v) ? yyjson_get_str(v) : "";
}

void expect_field(const std::string &book, const char *field, const std::string &got,
                  const std::string &want) {
    EXPECT_EQ(got, want) << book << " " << field;
}

// expected.json holds what the books state, decoded to UTF-8; the full
// record agrees on every FB2 and MOBI book, the protected ones included
// (their metadata is not encrypted).
TEST(RecordCorpus, Fb2AndMobiBooks) {
    const std::string expected = kCorpus + "/expected.json";
    if (!std::filesystem::exists(expected)) GTEST_SKIP() << "skipped: no corpus";
    const std::string text = qtest::read_file(expected);
    std::unique_ptr<yyjson_doc, doc_free> doc(yyjson_read(text.data(), text.size(), 0));
    ASSERT_TRUE(doc);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    std::size_t idx, max, seen = 0;
    yyjson_val *key, *val;
    yyjson_obj_foreach(root, idx, max, key, val) {
        const std::string book = yyjson_get_str(key);
        const bool fb2 = book.rfind("fb2/", 0) == 0, mobi = book.rfind("mobi/", 0) == 0;
        if (!fb2 && !mobi) continue;
        ++seen;
        const std::string bytes = qtest::read_file(kCorpus + "/" + book);
        eb_record r;
        const int rc =
            fb2 ? eb_record_fb2(bytes, r) : eb_record_mobi(bytes.data(), bytes.size(), r);
        ASSERT_EQ(rc, 0) << book;

        expect_field(book, "title", r.title, str(val, "title"));
        expect_field(book, "author", r.authors.empty() ? "" : r.authors[0].name,
                     str(val, "author"));
        expect_field(book, "language", r.language, str(val, "language"));
        expect_field(book, "series", r.series.empty() ? "" : r.series[0].name, str(val, "series"));
        expect_field(book, "series_index", r.series.empty() ? "" : r.series[0].index,
                     str(val, "series_index"));
        std::string asin;
        for (const auto &id : r.identifiers)
            if (id.scheme == "asin" && asin.empty()) asin = id.value;
        expect_field(book, "asin", asin, str(val, "asin"));
        EXPECT_EQ(r.drm, yyjson_get_bool(yyjson_obj_get(val, "drm"))) << book;

        // The cover's size is that of the bytes the book holds for it.
        yyjson_val *cover = yyjson_obj_get(val, "cover");
        yyjson_val *len = yyjson_obj_get(cover, "len");
        if (yyjson_is_uint(len)) {
            ASSERT_TRUE(r.cover.has_value()) << book;
            EXPECT_EQ(r.cover->size, yyjson_get_uint(len)) << book;
            EXPECT_EQ(r.cover->mime, "image/jpeg") << book;  // all of them are JPEG
        } else {
            EXPECT_FALSE(r.cover.has_value()) << book;
        }

        // Declared encodings are reported; every text is UTF-8.
        yyjson_val *details = yyjson_obj_get(val, "details");
        std::string declared = str(details, "xml_encoding");
        for (char &c : declared)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (fb2) {
            if (declared == "utf-8")
                EXPECT_FALSE(r.encoding.has_value()) << book;
            else
                EXPECT_EQ(r.encoding.value_or(""), declared) << book;
        }
        if (mobi) {
            if (yyjson_get_uint(yyjson_obj_get(details, "text_encoding")) == 1252) {
                EXPECT_EQ(r.encoding.value_or(""), "windows-1252") << book;
            }
            if (str(details, "palmdb_type_creator") == "TEXtREAd") {
                EXPECT_EQ(r.format, "palmdoc") << book;
            }
        }
        for (const std::string *s : {&r.title, &r.language, &r.description, &r.publisher})
            EXPECT_TRUE(eb_utf8_valid(*s)) << book;
        for (const auto &a : r.authors)
            EXPECT_TRUE(eb_utf8_valid(a.name)) << book;
    }
    EXPECT_EQ(seen, 25u);
}

}  // namespace
