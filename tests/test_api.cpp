// test_api.cpp - the exported functions: argument checks, a fresh thread's error text, a DRM book,
// an EPUB through ebook_info.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "book_builders.h"
#include "book_info.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::info;

}  // namespace

TEST(Api, NullArgumentsAndFreshThread) {
    std::string fresh;
    std::thread([&] { fresh = ebook_last_error(); }).join();
    EXPECT_EQ(fresh, "");

    EXPECT_EQ(ebook_info(nullptr), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL path");
    EXPECT_EQ(ebook_extract_cover(nullptr, "x"), -1);
    EXPECT_STREQ(ebook_last_error(), "NULL argument");
    EXPECT_EQ(ebook_scan_dir(nullptr), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL dir");
    EXPECT_EQ(ebook_rename_plan(nullptr, nullptr), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL files_json");
    ebook_free_string(nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL files_json");  // left alone
}

TEST(Api, DrmBookIsDescribedWithItsNotice) {
    qtest::TempDir d("api");
    qtest::MobiDesc s;
    s.encryption = 2;
    std::string p = d.put("locked.azw", qtest::build_mobi(s));
    EXPECT_EQ(
        info(p),
        R"({"drm":true,"format":"mobi","title":"","author":"","language":"","series":"","series_index":"","has_cover":false})");
    EXPECT_STREQ(ebook_last_error(), "DRM protected MOBI (encryption type 2); will not decrypt");
}

TEST(EpubReader, ThroughEbookInfo) {
    const qtest::TempDir dir_tmp("epub-info");
    const std::string &dir = dir_tmp.path;
    qtest::EpubDesc s;
    s.title = "Un &amp; Deux";
    s.creator = "Jane \"J\" Doe";
    s.collection = "Cycle";
    s.group_position = "4";
    s.cover = qtest::tiny_png();
    s.cover_by_properties = true;
    qtest::write_file(dir + "/book.EPUB", qtest::build_epub(s));
    qtest::write_file(dir + "/book.zip", qtest::build_epub(s));
    const std::string expected =
        "{\"drm\":false,\"format\":\"epub\",\"title\":\"Un & Deux\",\"author\":\"Jane \\\"J\\\" "
        "Doe\",\"language\":\"en\",\"series\":\"Cycle\",\"series_index\":\"4\",\"has_cover\":"
        "true}";
    EXPECT_EQ(info(dir + "/book.EPUB"), expected);
    EXPECT_EQ(ebook_last_error(), std::string());
    EXPECT_EQ(info(dir + "/book.zip"), expected);

    s.encryption = true;
    qtest::write_file(dir + "/drm.epub", qtest::build_epub(s));
    EXPECT_EQ(info(dir + "/drm.epub"),
              "{\"drm\":true,\"format\":\"epub\",\"title\":\"\",\"author\":\"\",\"language\":\"\","
              "\"series\":\"\",\"series_index\":\"\",\"has_cover\":false}");
    EXPECT_STREQ(ebook_last_error(),
                 "DRM protected EPUB (encryption.xml present); will not decrypt");
}
