// test_source.cpp - reading books in parts: positioned reads, books that change while read,
// and how many bytes a book costs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "book_builders.h"
#include "book_info.h"
#include "error.h"
#include "fb2_builder.h"
#include "formats/detect.h"
#include "io/source.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

std::string epub_book(std::size_t padding) {
    qtest::EpubDesc desc;
    desc.cover = qtest::tiny_jpeg();
    desc.members.push_back(qtest::zip_file("OEBPS/big.bin", qtest::incompressible(padding), false));
    return qtest::build_epub(desc);
}

std::string mobi_book(std::size_t padding) {
    qtest::MobiDesc desc;
    desc.exth_records = {{100, "An Author"}};
    desc.images = {qtest::tiny_jpeg(), qtest::incompressible(padding)};
    desc.cover_image = 0;
    return qtest::build_mobi(desc);
}

std::string fb2_book() {
    qtest::Fb2Desc desc;
    return qtest::build_fb2(desc);
}

// The book through its reader over an open source, as JSON, or "ERR:" and
// the error text.
std::string describe(const std::string &path, const eb_source &src, int want_cover = 0) {
    eb_meta meta;
    eb_meta_init(&meta);
    eb_clear_error();
    int rc = parse_source(path.c_str(), src, &meta, want_cover);
    std::string out = "ERR:" + std::string(ebook_last_error());
    if (rc == 0) {
        char *json = eb_meta_to_json(&meta);
        out = json;
        std::free(json);
    }
    eb_meta_free(&meta);
    return out;
}

using qtest::info;

TEST(Source, ReadsOnlyInsideTheBook) {
    qtest::TempDir d("source");
    const std::string bytes = "0123456789";
    const std::string path = d.put("ten.bin", bytes);
    eb_source file;
    ASSERT_TRUE(file.open(path.c_str()));
    eb_source mem(bytes.data(), bytes.size());
    for (const eb_source *src : {&file, &mem}) {
        EXPECT_EQ(src->size(), 10u);
        char buf[11] = {};
        EXPECT_TRUE(src->read(3, buf, 4));
        EXPECT_EQ(std::string(buf), "3456");
        EXPECT_TRUE(src->read(10, buf, 0));
        EXPECT_FALSE(src->failed());
        EXPECT_FALSE(src->read(8, buf, 3));  // past the end
        EXPECT_TRUE(src->failed());
    }
}

// A book truncated after it was opened fails with a short read naming it;
// one that grows is read as it was when opened; one replaced by another file
// is still the one opened.
TEST(Source, BooksThatChangeWhileRead) {
    qtest::TempDir d("source");
    const std::string books[][2] = {
        {"a.epub", epub_book(100000)}, {"a.mobi", mobi_book(100000)}, {"a.fb2", fb2_book()}};
    for (const auto &b : books) {
        const std::string path = d.put(b[0], b[1]);
        const std::string whole = info(path);
        ASSERT_EQ(whole.rfind("{", 0), 0u) << whole;

        eb_source shrunk;
        ASSERT_TRUE(shrunk.open(path.c_str()));
        ASSERT_EQ(::truncate(path.c_str(), 40), 0);
        EXPECT_EQ(describe(path, shrunk), "ERR:short read: " + path) << b[0];

        qtest::write_file(path, b[1]);
        eb_source grown;
        ASSERT_TRUE(grown.open(path.c_str()));
        std::ofstream(path, std::ios::app) << qtest::incompressible(5000);
        EXPECT_EQ(describe(path, grown), whole) << b[0];

        qtest::write_file(path, b[1]);
        eb_source replaced;
        ASSERT_TRUE(replaced.open(path.c_str()));
        const std::string other = d.put("other.bin", "not a book at all");
        ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
        EXPECT_EQ(describe(path, replaced), whole) << b[0];
    }
}

// A book read in parts is described beyond the 512 MiB that bound books read
// whole: a MOBI whose last record runs on into a sparse tail of 600 MiB.
TEST(Source, MobiBeyond512MiBIsDescribed) {
    qtest::TempDir d("source");
    const std::string path = d.put("huge.mobi", mobi_book(1000));
    ASSERT_EQ(::truncate(path.c_str(), 600ll << 20), 0);
    const std::string json = info(path);
    EXPECT_NE(json.find("\"author\":\"An Author\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"has_cover\":true"), std::string::npos) << json;
}

// rchar of this process: every byte read() and pread() returned.
long long bytes_read_so_far() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

// EPUB and MOBI cost the same few dozen kilobytes whatever the book weighs;
// only FB2 is read whole. Cover extraction adds the cover's own bytes.
TEST(Source, BytesReadDoNotGrowWithTheBook) {
    if (bytes_read_so_far() < 0) GTEST_SKIP() << "no /proc/self/io";
    qtest::TempDir d("source");
    for (const char *ext : {"epub", "mobi"}) {
        long long cost[2] = {};
        const std::size_t sizes[2] = {60000, 12000000};
        for (int i = 0; i < 2; ++i) {
            const std::string book = ext[0] == 'e' ? epub_book(sizes[i]) : mobi_book(sizes[i]);
            const std::string path = d.put(std::string("b.") + ext, book);
            long long before = bytes_read_so_far();
            EXPECT_EQ(info(path).rfind("{", 0), 0u);
            cost[i] = bytes_read_so_far() - before;
            const std::string out = d.path + "/cover.jpg";
            EXPECT_EQ(ebook_extract_cover(path.c_str(), out.c_str()), 0) << ebook_last_error();
            EXPECT_EQ(qtest::read_file(out), qtest::tiny_jpeg());
        }
        EXPECT_LT(cost[1], 160 * 1024) << ext;
        EXPECT_LE(cost[1], cost[0] + 64 * 1024) << ext;
    }
    const std::string fb2 = d.put("c.fb2", fb2_book());
    long long before = bytes_read_so_far();
    EXPECT_EQ(info(fb2).rfind("{", 0), 0u);
    EXPECT_GE(bytes_read_so_far() - before, static_cast<long long>(fb2_book().size()));
}

}  // namespace
