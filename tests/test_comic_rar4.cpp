// RAR 4 listed from its own block headers: every archive libarchive lists whole gives the same
// members (names as libarchive decodes them, sizes, positions, encryption), and a solid one is
// listed whole where libarchive stops at its first member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/comic/comic_archive.h"
#include "rar_builder.h"

namespace {

std::vector<std::string> members(const eb_comic_listing &l) {
    std::vector<std::string> out;
    for (const auto &e : l.files)
        out.push_back(l.names.substr(e.name_at, e.name_len) + " " + std::to_string(e.size) + " #" +
                      std::to_string(e.ordinal) + (e.encrypted ? " encrypted" : ""));
    return out;
}

TEST(ComicRar4, ListedAsLibarchiveListsIt) {
    const std::vector<qtest::RarEntry> mixed = {
        {"ComicInfo.xml", "<ComicInfo/>"}, {"chapter 1", "", false, true},
        {"chapter 1/p01.jpg", "one"},      {"Ünïcødé/漫画 2.png", "two two"},
        {"secret.jpg", "hidden", true},    {"a\\b.gif", "x"},
    };
    const struct {
        const char *what;
        bool encoded_unicode;
    } forms[] = {{"names beyond ASCII in the compact form", true},
                 {"names beyond ASCII as UTF-8", false}};
    for (const auto &f : forms) {
        qtest::RarDesc d;
        d.version = 4;
        d.encoded_unicode = f.encoded_unicode;
        d.entries = mixed;
        const std::string bytes = qtest::build_rar(d);
        const eb_source src(bytes.data(), bytes.size());
        bool solid = true;
        const eb_comic_listing ours = eb_rar4_list(src, &solid);
        const eb_comic_listing theirs = eb_la_list(src, eb_comic_kind::rar4);
        EXPECT_TRUE(ours.complete && theirs.complete) << f.what;
        EXPECT_FALSE(solid) << f.what;
        EXPECT_EQ(members(ours), members(theirs)) << f.what;
        EXPECT_EQ(ours.files.size(), 5u) << f.what;

        // Solid: libarchive stops at the first member, the headers do not.
        d.solid = true;
        const std::string solid_bytes = qtest::build_rar(d);
        const eb_source solid_src(solid_bytes.data(), solid_bytes.size());
        const eb_comic_listing whole = eb_rar4_list(solid_src, &solid);
        EXPECT_TRUE(solid && whole.complete) << f.what;
        EXPECT_EQ(members(whole), members(ours)) << f.what;
    }
}

// Damage stops the listing where it is, keeping what came before.
TEST(ComicRar4, DamageStopsTheListing) {
    qtest::RarDesc d;
    d.version = 4;
    d.entries = {{"p1.jpg", "1"}, {"p2.jpg", "22"}};
    const std::string good = qtest::build_rar(d);
    const std::size_t second = good.find("p2.jpg") - 32;  // its block's start
    std::string bad_crc = good, cut = good.substr(0, second + 10);
    bad_crc[second] ^= 1;
    const struct {
        const char *what;
        std::string bytes;
        const char *warning;
    } cases[] = {
        {"a header CRC mismatch", bad_crc, "stopped after 1 entries: header CRC mismatch"},
        {"a header cut short", cut, "stopped after 1 entries: damaged header"},
    };
    for (const auto &c : cases) {
        const eb_source src(c.bytes.data(), c.bytes.size());
        bool solid = false;
        const eb_comic_listing l = eb_rar4_list(src, &solid);
        EXPECT_FALSE(l.complete) << c.what;
        ASSERT_EQ(l.files.size(), 1u) << c.what;
        ASSERT_EQ(l.warnings.size(), 1u) << c.what;
        EXPECT_NE(l.warnings[0].find(c.warning), std::string::npos) << c.what << l.warnings[0];
    }
}

}  // namespace
