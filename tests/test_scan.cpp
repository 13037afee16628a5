// test_scan.cpp - the directory scan: elements for books and errors, odd entries, long paths.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>
#include <yyjson.h>
#include <cstring>
#include <map>
#include <string>

#include "book_builders.h"
#include "fb2_builder.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

std::string epub_with_cover(const std::string &image) {
    qtest::EpubDesc s;
    s.title = "Epub Cover";
    s.cover = image;
    return qtest::build_epub(s);
}

std::string fb2_with_cover(const std::string &image) {
    qtest::Fb2Desc s;
    s.cover_href = "#c.png";
    s.binaries = {{"c.png", "image/png", image}};
    return qtest::build_fb2(s);
}

// The scan's elements keyed by "path": directory order is not defined.
using Element = std::map<std::string, std::string>;
std::map<std::string, Element> scan(const std::string &dir, std::string *raw = nullptr) {
    char *text = ebook_scan_dir(dir.c_str());
    EXPECT_NE(text, nullptr) << ebook_last_error();
    std::map<std::string, Element> out;
    if (!text) return out;
    if (raw) *raw = text;
    yyjson_doc *doc = yyjson_read(text, std::strlen(text), YYJSON_READ_ALLOW_INVALID_UNICODE);
    ebook_free_string(text);
    EXPECT_NE(doc, nullptr);
    yyjson_val *arr = yyjson_doc_get_root(doc);
    std::size_t i, n;
    yyjson_val *obj;
    yyjson_arr_foreach(arr, i, n, obj) {
        Element e;
        std::string order;
        std::size_t j, m;
        yyjson_val *k, *v;
        yyjson_obj_foreach(obj, j, m, k, v) {
            order += std::string(yyjson_get_str(k)) + ",";
            e[yyjson_get_str(k)] = yyjson_is_bool(v)
                                       ? (yyjson_get_bool(v) ? "true" : "false")
                                       : std::string(yyjson_get_str(v), yyjson_get_len(v));
        }
        e["#keys"] = order;
        out[e["path"]] = e;
    }
    yyjson_doc_free(doc);
    return out;
}

}  // namespace

TEST(DirectoryScan, ElementsForBooksAndErrors) {
    qtest::TempDir d("scan");
    qtest::MobiDesc m;
    m.full_name = "Mobi Title";
    m.exth_records = {{100, "Mo Author"}, {113, "B000ASIN00"}};
    d.put("one.mobi", qtest::build_mobi(m));
    d.put("two.EPUB", epub_with_cover(qtest::tiny_jpeg()));
    d.put("three.Fb2", fb2_with_cover(qtest::tiny_png()));
    d.put("short.mobi", "tiny");
    d.put("notfb2.fb2", "just text");
    qtest::MobiDesc locked;
    locked.encryption = 2;
    d.put("locked.azw", qtest::build_mobi(locked));
    // Not books: skipped without an element.
    d.put("readme", "x");
    d.put("name.", "x");
    d.put("copy.epub.bak", "x");
    d.put(".hidden.epub", epub_with_cover(qtest::tiny_jpeg()));

    auto elems = scan(d.path);
    ASSERT_EQ(elems.size(), 6u);
    const std::string book_keys =
        "path,drm,format,title,author,language,series,series_index,has_cover,";

    const Element &one = elems[d.path + "/one.mobi"];
    EXPECT_EQ(one.at("#keys"), book_keys + "asin,");
    EXPECT_EQ(one.at("title"), "Mobi Title");
    EXPECT_EQ(one.at("author"), "Mo Author");
    EXPECT_EQ(one.at("asin"), "B000ASIN00");

    const Element &two = elems[d.path + "/two.EPUB"];
    EXPECT_EQ(two.at("#keys"), book_keys);  // no asin, never cover_mime
    EXPECT_EQ(two.at("format"), "epub");
    EXPECT_EQ(two.at("has_cover"), "true");

    EXPECT_EQ(elems[d.path + "/three.Fb2"].at("format"), "fb2");

    const Element &bad = elems[d.path + "/short.mobi"];
    EXPECT_EQ(bad.at("#keys"), "path,error,");
    EXPECT_EQ(bad.at("error"), "MOBI too short for PalmDB header");

    EXPECT_EQ(elems[d.path + "/notfb2.fb2"].at("format"), "fb2");

    const Element &drm = elems[d.path + "/locked.azw"];
    EXPECT_EQ(drm.at("drm"), "true");
    EXPECT_EQ(drm.at("format"), "mobi");
    EXPECT_EQ(drm.count("error"), 0u);
}

TEST(DirectoryScan, EmptyMissingAndTrailingSlash) {
    qtest::TempDir d("scan");
    std::string raw;
    scan(d.path, &raw);
    EXPECT_EQ(raw, "[]");
    d.put("notes.txt", "x");
    scan(d.path, &raw);
    EXPECT_EQ(raw, "[]");

    d.put("a.mobi", qtest::build_mobi(qtest::MobiDesc{}));
    auto elems = scan(d.path + "/");
    ASSERT_EQ(elems.size(), 1u);
    EXPECT_EQ(elems.begin()->first, d.path + "//a.mobi");

    std::string missing = d.path + "/nope";
    EXPECT_EQ(ebook_scan_dir(missing.c_str()), nullptr);
    EXPECT_EQ(ebook_last_error(), "cannot open dir: " + missing + " (No such file or directory)");
}

TEST(DirectoryScan, NonRegularEntriesNeverBlock) {
    qtest::TempDir d("scan");
    std::string fifo = d.path + "/pipe.epub";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string sub = d.path + "/folder.mobi";
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    auto elems = scan(d.path);
    ASSERT_EQ(elems.size(), 2u);
    EXPECT_EQ(elems[fifo].at("error"), "not a regular file: " + fifo);
    EXPECT_EQ(elems[sub].at("error"), "not a regular file: " + sub);
}

TEST(DirectoryScan, LongPathsAreJoinedWhole) {
    qtest::TempDir d("scan");
    // Nest directories until the joined path passes 1023 bytes.
    std::string dir = d.path;
    while (dir.size() < 1100) {
        dir += "/" + std::string(200, 'd');
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    }
    std::string book = dir + "/deep.mobi";
    qtest::MobiDesc s;
    s.full_name = "Deep";
    qtest::write_file(book, qtest::build_mobi(s));
    auto elems = scan(dir);
    ASSERT_EQ(elems.count(book), 1u);
    EXPECT_EQ(elems[book].at("title"), "Deep");
}

TEST(DirectoryScan, TextsThatAreNotUtf8KeepTheirMetadata) {
    qtest::TempDir d("scan");
    qtest::MobiDesc s;
    s.full_name = "Caf\xE9 \x93Noir\x94";  // cp1252 bytes
    s.exth_records = {{100, "Fran\xE7ois"}};
    d.put("cp1252.mobi", qtest::build_mobi(s));
    std::string raw;
    auto elems = scan(d.path, &raw);
    const Element &e = elems[d.path + "/cp1252.mobi"];
    EXPECT_EQ(e.at("title"), "Caf\xE9 \x93Noir\x94");
    EXPECT_EQ(e.at("author"), "Fran\xE7ois");
}

TEST(DirectoryScan, ErrorTextKeepsWhatTheLastBookLeft) {
    qtest::TempDir d("scan");
    d.put("only.mobi", "short");
    auto elems = scan(d.path);
    EXPECT_EQ(elems.size(), 1u);
    EXPECT_STREQ(ebook_last_error(), "MOBI too short for PalmDB header");
}
