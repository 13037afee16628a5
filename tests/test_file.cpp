// test_file.cpp - loading a book file: open failures, non-regular files, exact bytes, the size
// ceiling.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "book_info.h"
#include "io/file.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

using qtest::info;

}  // namespace

TEST(LoadFile, LoadErrors) {
    qtest::TempDir d("file");
    std::string missing = d.path + "/missing.mobi";
    EXPECT_EQ(info(missing), "ERR:cannot open file: " + missing + " (No such file or directory)");

    // Directories and FIFOs are refused without blocking.
    std::string dir = d.path + "/folder.mobi";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    EXPECT_EQ(info(dir), "ERR:not a regular file: " + dir);
    std::string fifo = d.path + "/pipe.epub";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(info(fifo), "ERR:not a regular file: " + fifo);

    // A message longer than the error text loses the middle of its path,
    // never the reason.
    std::string long_path = d.path + "/" + std::string(600, 'x') + ".mobi";
    char *s = ebook_info(long_path.c_str());
    EXPECT_EQ(s, nullptr);
    std::string err = ebook_last_error();
    EXPECT_LE(err.size(), 511u);
    EXPECT_EQ(err.rfind("cannot open file: " + d.path, 0), 0u) << err;
    EXPECT_TRUE(err.ends_with("xxx.mobi (File name too long)")) << err;
}

TEST(LoadFile, LoaderKeepsExactBytesAndEmptyFiles) {
    qtest::TempDir d("file");
    std::string bytes("a\0b\xff", 4);
    std::string p = d.put("x.bin", bytes);
    char *block = nullptr;
    std::uint64_t len = 99;
    ASSERT_EQ(eb_read_file(p.c_str(), &block, &len), 0);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(std::string(block, 4), bytes);
    EXPECT_EQ(block[4], '\0');
    std::free(block);

    std::string empty = d.put("empty.bin", "");
    ASSERT_EQ(eb_read_file(empty.c_str(), &block, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(block[0], '\0');
    std::free(block);

    ASSERT_EQ(eb_read_file((d.path + "/nope").c_str(), &block, &len), -1);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(len, 0u);
}

// Sparse files past 512 MiB: a book read whole (FB2) is refused before
// anything is allocated; books read in parts (EPUB, MOBI) reach their reader,
// which reads only what it needs.
TEST(LoadFile, SizeCeilingOnlyForBooksReadWhole) {
    qtest::TempDir d("file");
    const struct {
        const char *name;
        const char *want;  // after the path for "file too large", else alone
    } cases[] = {
        {"over.fb2", nullptr},
        {"over.mobi", "ERR:MOBI has no records"},
        {"over.epub", "ERR:bad zip / not a valid EPUB archive"},
    };
    std::string palm_head(68, '\0');  // a Mobipocket database with no records
    palm_head.replace(60, 8, "BOOKMOBI");
    for (const auto &c : cases) {
        std::string over =
            d.put(c.name, std::string_view(c.name).ends_with(".mobi") ? palm_head : "");
        ASSERT_EQ(::truncate(over.c_str(), 536870913), 0);
        EXPECT_EQ(info(over), c.want ? std::string(c.want) : "ERR:file too large: " + over)
            << c.name;
    }
}
