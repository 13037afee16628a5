// test_api.cpp - the exported functions: argument checks, a fresh thread's error text, a DRM book.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "book_builders.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

// ebook_info's text, or "ERR:" and the error text.
std::string info(const std::string &path) {
    char *s = ebook_info(path.c_str());
    if (!s) return "ERR:" + std::string(ebook_last_error());
    std::string out = s;
    ebook_free_string(s);
    return out;
}

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
