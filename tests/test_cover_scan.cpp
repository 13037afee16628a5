// Cover extraction to a file, and the directory scan's array.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <cstring>
#include <map>
#include <string>

#include "book_builders.h"
#include "eb_internal.h"
#include "fb2_builder.h"
#include "zip_builder.h"

namespace {

struct TempDir {
    std::string path = qtest::make_temp_dir("cover-scan");
    ~TempDir() { qtest::remove_tree(path); }
    std::string put(const std::string &name, const std::string &bytes) const {
        std::string p = path + "/" + name;
        qtest::write_file(p, bytes);
        return p;
    }
};

bool exists(const std::string &p) {
    return ::access(p.c_str(), F_OK) == 0;
}

std::string mobi_with_cover(const std::string &image) {
    qtest::MobiSpec s;
    s.full_name = "Mobi Cover";
    s.images = {image};
    s.cover_image = 0;
    return qtest::build_mobi(s);
}

std::string epub_with_cover(const std::string &image) {
    qtest::EpubSpec s;
    s.title = "Epub Cover";
    s.cover = image;
    return qtest::build_epub(s);
}

std::string fb2_with_cover(const std::string &image) {
    qtest::Fb2Spec s;
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

TEST(CoverExtraction, WritesTheBookBytesForEachFamily) {
    TempDir d;
    struct Case {
        std::string name, bytes, image;
    } cases[] = {
        {"a.mobi", mobi_with_cover(qtest::tiny_jpeg()), qtest::tiny_jpeg()},
        {"b.azw3", mobi_with_cover(qtest::tiny_png()), qtest::tiny_png()},
        {"c.epub", epub_with_cover(qtest::tiny_jpeg()), qtest::tiny_jpeg()},
        {"d.fb2", fb2_with_cover(qtest::tiny_png()), qtest::tiny_png()},
    };
    for (const auto &c : cases) {
        std::string book = d.put(c.name, c.bytes);
        std::string out = d.path + "/" + c.name + ".gif";  // the name's type does not matter
        qtest::write_file(out, std::string(5000, 'o'));    // replaced completely
        ASSERT_EQ(ebook_extract_cover(book.c_str(), out.c_str()), 0)
            << c.name << ": " << ebook_last_error();
        EXPECT_EQ(qtest::read_file(out), c.image) << c.name;
        EXPECT_STREQ(ebook_last_error(), "");
    }
}

TEST(CoverExtraction, FailuresLeaveTheDestinationAlone) {
    TempDir d;
    std::string out = d.path + "/cover.jpg";
    EXPECT_EQ(ebook_extract_cover(nullptr, out.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "NULL argument");

    // No cover: nothing is created, an existing file keeps its content.
    std::string plain = d.put("plain.mobi", qtest::build_mobi(qtest::MobiSpec{}));
    EXPECT_EQ(ebook_extract_cover(plain.c_str(), out.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "no cover image found");
    EXPECT_FALSE(exists(out));
    qtest::write_file(out, "keep");
    EXPECT_EQ(ebook_extract_cover(plain.c_str(), out.c_str()), -1);
    EXPECT_EQ(qtest::read_file(out), "keep");

    // DRM: the reader's message, nothing written.
    qtest::MobiSpec locked;
    locked.encryption = 1;
    locked.images = {qtest::tiny_jpeg()};
    locked.cover_image = 0;
    std::string drm = d.put("locked.mobi", qtest::build_mobi(locked));
    EXPECT_EQ(ebook_extract_cover(drm.c_str(), out.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "DRM protected MOBI (encryption type 1); will not decrypt");
    EXPECT_EQ(qtest::read_file(out), "keep");

    std::string unsupported = d.put("x.txt", "hello world");
    EXPECT_EQ(ebook_extract_cover(unsupported.c_str(), out.c_str()), -1);
    EXPECT_EQ(ebook_last_error(), "unsupported ebook format: " + unsupported);

    std::string book = d.put("c.mobi", mobi_with_cover(qtest::tiny_jpeg()));
    std::string nowhere = d.path + "/no/such/dir/c.jpg";
    EXPECT_EQ(ebook_extract_cover(book.c_str(), nowhere.c_str()), -1);
    EXPECT_EQ(ebook_last_error(),
              "cannot write cover: " + nowhere + " (No such file or directory)");
}

TEST(CoverExtraction, FailedFlushIsAShortWrite) {
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir d;
    std::string book = d.put("c.mobi", mobi_with_cover(qtest::tiny_jpeg()));
    EXPECT_EQ(ebook_extract_cover(book.c_str(), "/dev/full"), -1);
    EXPECT_STREQ(ebook_last_error(), "short write cover");
}

TEST(DirectoryScan, ElementsForBooksAndErrors) {
    TempDir d;
    qtest::MobiSpec m;
    m.full_name = "Mobi Title";
    m.exth_records = {{100, "Mo Author"}, {113, "B000ASIN00"}};
    d.put("one.mobi", qtest::build_mobi(m));
    d.put("two.EPUB", epub_with_cover(qtest::tiny_jpeg()));
    d.put("three.Fb2", fb2_with_cover(qtest::tiny_png()));
    d.put("short.mobi", "tiny");
    d.put("notfb2.fb2", "just text");
    qtest::MobiSpec locked;
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
    TempDir d;
    std::string raw;
    scan(d.path, &raw);
    EXPECT_EQ(raw, "[]");
    d.put("notes.txt", "x");
    scan(d.path, &raw);
    EXPECT_EQ(raw, "[]");

    d.put("a.mobi", qtest::build_mobi(qtest::MobiSpec{}));
    auto elems = scan(d.path + "/");
    ASSERT_EQ(elems.size(), 1u);
    EXPECT_EQ(elems.begin()->first, d.path + "//a.mobi");

    std::string missing = d.path + "/nope";
    EXPECT_EQ(ebook_scan_dir(missing.c_str()), nullptr);
    EXPECT_EQ(ebook_last_error(), "cannot open dir: " + missing + " (No such file or directory)");
}

TEST(DirectoryScan, NonRegularEntriesNeverBlock) {
    TempDir d;
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
    TempDir d;
    // Nest directories until the joined path passes 1023 bytes.
    std::string dir = d.path;
    while (dir.size() < 1100) {
        dir += "/" + std::string(200, 'd');
        ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    }
    std::string book = dir + "/deep.mobi";
    qtest::MobiSpec s;
    s.full_name = "Deep";
    qtest::write_file(book, qtest::build_mobi(s));
    auto elems = scan(dir);
    ASSERT_EQ(elems.count(book), 1u);
    EXPECT_EQ(elems[book].at("title"), "Deep");
}

TEST(DirectoryScan, TextsThatAreNotUtf8KeepTheirMetadata) {
    TempDir d;
    qtest::MobiSpec s;
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
    TempDir d;
    d.put("only.mobi", "short");
    auto elems = scan(d.path);
    EXPECT_EQ(elems.size(), 1u);
    EXPECT_STREQ(ebook_last_error(), "MOBI too short for PalmDB header");
}
