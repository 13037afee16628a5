// test_cover.cpp - cover extraction: the book's bytes for each family, failures leave the
// destination alone.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>

#include "book_builders.h"
#include "fb2_builder.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

bool exists(const std::string &p) {
    return ::access(p.c_str(), F_OK) == 0;
}

std::string mobi_with_cover(const std::string &image) {
    qtest::MobiDesc s;
    s.full_name = "Mobi Cover";
    s.images = {image};
    s.cover_image = 0;
    return qtest::build_mobi(s);
}

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

}  // namespace

TEST(CoverExtraction, WritesTheBookBytesForEachFamily) {
    qtest::TempDir d("cover");
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
    qtest::TempDir d("cover");
    std::string out = d.path + "/cover.jpg";
    EXPECT_EQ(ebook_extract_cover(nullptr, out.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "NULL argument");

    // No cover: nothing is created, an existing file keeps its content.
    std::string plain = d.put("plain.mobi", qtest::build_mobi(qtest::MobiDesc{}));
    EXPECT_EQ(ebook_extract_cover(plain.c_str(), out.c_str()), -1);
    EXPECT_STREQ(ebook_last_error(), "no cover image found");
    EXPECT_FALSE(exists(out));
    qtest::write_file(out, "keep");
    EXPECT_EQ(ebook_extract_cover(plain.c_str(), out.c_str()), -1);
    EXPECT_EQ(qtest::read_file(out), "keep");

    // DRM: the reader's message, nothing written.
    qtest::MobiDesc locked;
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
    qtest::TempDir d("cover");
    std::string book = d.put("c.mobi", mobi_with_cover(qtest::tiny_jpeg()));
    EXPECT_EQ(ebook_extract_cover(book.c_str(), "/dev/full"), -1);
    EXPECT_STREQ(ebook_last_error(), "short write cover");
}

TEST(CoverExtraction, RefusesToWriteOverTheBookItself) {
    qtest::TempDir d("cover");
    const std::string bytes = mobi_with_cover(qtest::tiny_jpeg());
    std::string book = d.put("c.mobi", bytes);
    std::string sym = d.path + "/link.jpg";
    std::string hard = d.path + "/hard.jpg";
    std::string dotted = d.path + "/./c.mobi";
    ASSERT_EQ(::symlink("c.mobi", sym.c_str()), 0);
    ASSERT_EQ(::link(book.c_str(), hard.c_str()), 0);
    // The same file reached by its own name, another spelling, a symbolic
    // link and a hard link: refused, and the book keeps every byte.
    for (const std::string &out : {book, dotted, sym, hard}) {
        EXPECT_EQ(ebook_extract_cover(book.c_str(), out.c_str()), -1) << out;
        EXPECT_EQ(ebook_last_error(), "cover path is the book itself: " + out);
        EXPECT_EQ(qtest::read_file(book), bytes) << out;
    }
    // Reading the book through the link and writing to its real name too.
    EXPECT_EQ(ebook_extract_cover(sym.c_str(), book.c_str()), -1);
    EXPECT_EQ(qtest::read_file(book), bytes);
    // A copy of the book is another file: written.
    std::string copy = d.put("copy.mobi", bytes);
    EXPECT_EQ(ebook_extract_cover(book.c_str(), copy.c_str()), 0) << ebook_last_error();
    EXPECT_EQ(qtest::read_file(copy), qtest::tiny_jpeg());
}
