// test_zip_directory.cpp - the archive's end records and central directory in every form the
// format allows, and the damaged and lying ones refused; local headers against the directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/source.h"
#include "io/zip_archive.h"
#include "temp_dir.h"
#include "zip_builder.h"
#include "zip_forms.h"

namespace {

using qtest::zip_file;

const std::string kOpf(3000, 'o');

std::string base_zip() {
    return qtest::build_zip({zip_file("mimetype", "application/epub+zip", false),
                             zip_file("META-INF/container.xml", "<container/>"),
                             zip_file("OEBPS/a.opf", kOpf)});
}

// Every member found and read whole, the same over bytes and over a file.
void expect_members(const eb_zip_archive &za, const std::string &label) {
    ASSERT_TRUE(za.ok()) << label;
    ASSERT_EQ(za.count(), 3u) << label;
    EXPECT_EQ(za.find("meta-inf/CONTAINER.xml"), 1) << label;
    const std::string want[] = {"application/epub+zip", "<container/>", kOpf};
    for (std::uint64_t i = 0; i < 3; ++i) {
        std::string out;
        EXPECT_EQ(za.read(i, 1 << 20, &out), eb_zip_read::ok) << label << " " << i;
        EXPECT_EQ(out, want[i]) << label << " " << i;
    }
    EXPECT_FALSE(za.source_failed()) << label;
}

TEST(ZipDirectory, EveryFormOfTheSameArchive) {
    const std::string zip = base_zip();
    const std::string stub = "#!/bin/sh\nexec unzip \"$0\"\n" + std::string(1000, '\x7f');
    std::string fake_end = "PK\x05\x06" + std::string(18, '\0');  // one entry of 46 bytes at 0
    fake_end[8] = fake_end[10] = 1;
    fake_end[12] = 46;
    const std::string long_comment = std::string(65535 - 22, 'c') + fake_end;
    const std::string other = qtest::build_zip({zip_file("other.txt", "not this one")});
    const struct {
        const char *label;
        std::string bytes, comment;
    } forms[] = {
        {"plain", zip, ""},
        {"zip64", qtest::zip64_form(zip), ""},
        {"stub before", stub + zip, ""},
        {"stub before zip64", stub + qtest::zip64_form(zip), ""},
        {"comment", qtest::zip_with_comment(zip, "made by hand"), "made by hand"},
        {"end record in the comment", qtest::zip_with_comment(zip, "note " + fake_end),
         "note " + fake_end},
        {"longest comment", qtest::zip_with_comment(zip, long_comment), long_comment},
        {"an archive in the comment", qtest::zip_with_comment(zip, other), other},
        {"zip64 with comment", qtest::zip_with_comment(qtest::zip64_form(zip), "z"), "z"},
        {"bytes appended", zip + "trailing bytes", ""},
    };
    qtest::TempDir d("zipdir");
    for (const auto &f : forms) {
        eb_zip_archive mem(f.bytes.data(), f.bytes.size());
        expect_members(mem, f.label);
        EXPECT_EQ(mem.comment(), f.comment) << f.label;
        eb_source src;
        ASSERT_TRUE(src.open(d.put("a.zip", f.bytes).c_str()));
        eb_zip_archive file(src);
        expect_members(file, std::string(f.label) + " (file)");
        EXPECT_EQ(file.comment(), f.comment) << f.label;
    }
}

// Records that are damaged, cut short or lying about counts and places: the
// book is no archive, and nothing is read or reserved outside it.
TEST(ZipDirectory, DamagedAndLyingEndRecordsAreRefused) {
    const std::string zip = base_zip();
    const qtest::ZipEnd end = qtest::zip_end(zip);
    auto patched = [&](std::size_t at, int bytes, std::uint32_t v, std::string z = "") {
        if (z.empty()) z = zip;
        bytes == 2 ? qtest::put16(z, at, static_cast<std::uint16_t>(v)) : qtest::put32(z, at, v);
        return z;
    };
    std::string cut = zip;
    cut.erase(end.dir_offset + 60, 10);
    const std::string z64 = qtest::zip64_form(zip);
    const std::size_t rec = z64.size() - 22 - 20 - 56;
    const struct {
        const char *label;
        std::string bytes;
    } bad[] = {
        {"end record alone", zip.substr(end.at)},
        {"count above the entries", patched(end.at + 10, 2, 4, patched(end.at + 8, 2, 4))},
        {"unknown count, few entries", qtest::zip_repeat_entries(zip, 1, 0xFFFF)},
        {"count beyond the directory's size",
         patched(end.at + 10, 2, 1000, patched(end.at + 8, 2, 1000))},
        {"directory offset past the end", patched(end.at + 16, 4, 0x7FFFFFFF)},
        {"directory larger than the book", patched(end.at + 12, 4, 0x7FFFFFF0)},
        {"another disk", patched(end.at + 4, 2, 1)},
        {"directory cut short", cut},
        {"zip64 record damaged", patched(rec, 4, 0x12345678, z64)},
        {"zip64 record on another disk", patched(rec + 16, 4, 1, z64)},
        {"zip64 count above the entries", patched(rec + 32, 4, 4, patched(rec + 24, 4, 4, z64))},
    };
    for (const auto &b : bad) {
        eb_zip_archive za(b.bytes.data(), b.bytes.size());
        EXPECT_FALSE(za.ok()) << b.label;
        EXPECT_EQ(za.count(), 0u) << b.label;
        EXPECT_EQ(za.comment(), "") << b.label;
    }
}

// A count below the entries stops the walk there; the count 0xFFFF of old
// writers means "walk to the end" and holds at least that many.
TEST(ZipDirectory, CountsOfEntries) {
    const std::string zip = base_zip();
    const qtest::ZipEnd end = qtest::zip_end(zip);
    std::string two = zip;
    qtest::put16(two, end.at + 8, 2);
    qtest::put16(two, end.at + 10, 2);
    eb_zip_archive za(two.data(), two.size());
    ASSERT_TRUE(za.ok());
    EXPECT_EQ(za.count(), 2u);
    EXPECT_EQ(za.find("OEBPS/a.opf"), -1);

    const std::string many = qtest::zip_repeat_entries(zip, 21846, 0xFFFF);
    eb_zip_archive big(many.data(), many.size());
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big.count(), 3u * 21846);
    EXPECT_EQ(big.find("OEBPS/a.opf"), 2);  // the first of the repeats
    std::string out;
    EXPECT_EQ(big.read(big.count() - 1, 1 << 20, &out), eb_zip_read::ok);
    EXPECT_EQ(out, kOpf);
}

// Each member's local header must agree with its directory entry, and its
// data lie inside the book; a data descriptor excuses CRC and sizes.
TEST(ZipDirectory, LocalHeadersAgainstTheDirectory) {
    const std::string zip = base_zip();
    const qtest::ZipHeaders h = qtest::locate_member_headers(zip, "OEBPS/a.opf");
    auto member = [&](auto patch) {
        std::string z = zip;
        patch(z);
        std::string out;
        return eb_zip_archive(z.data(), z.size()).read(2, 1 << 20, &out);
    };
    using qtest::put16;
    using qtest::put32;
    const struct {
        const char *label;
        eb_zip_read want;
        void (*patch)(std::string &, const qtest::ZipHeaders &);
    } cases[] = {
        {"as built", eb_zip_read::ok, [](std::string &, const qtest::ZipHeaders &) {}},
        {"data descriptor", eb_zip_read::ok,
         [](std::string &z, const qtest::ZipHeaders &h) {
             z[h.local + 6] |= 8;
             for (int f : {14, 18, 22})
                 put32(z, h.local + f, 0);
         }},
        {"name length", eb_zip_read::damaged,
         [](std::string &z, const qtest::ZipHeaders &h) { put16(z, h.local + 26, 10); }},
        {"method", eb_zip_read::damaged,
         [](std::string &z, const qtest::ZipHeaders &h) { put16(z, h.local + 8, 0); }},
        {"signature", eb_zip_read::damaged,
         [](std::string &z, const qtest::ZipHeaders &h) { z[h.local + 3] = 9; }},
        {"local header past the end", eb_zip_read::damaged,
         [](std::string &z, const qtest::ZipHeaders &h) { put32(z, h.central + 42, 0x7FFFFFF0); }},
        {"data past the end", eb_zip_read::damaged,
         [](std::string &z, const qtest::ZipHeaders &h) {
             put32(z, h.central + 20, 0x7FFFFFF0);
             put32(z, h.local + 18, 0x7FFFFFF0);
         }},
    };
    for (const auto &c : cases)
        EXPECT_EQ(member([&](std::string &z) { c.patch(z, h); }), c.want) << c.label;
    // bzip2, LZMA and Zstandard members are not read: missing to callers.
    for (std::uint16_t method : {12, 14, 93})
        EXPECT_EQ(member([&](std::string &z) {
                      put16(z, h.local + 8, method);
                      put16(z, h.central + 10, method);
                  }),
                  eb_zip_read::damaged)
            << method;
}

// A directory of 1,500 members is larger than the tail read first: the part
// before the tail is read once more and joined to it.
TEST(ZipDirectory, DirectoryStartingBeforeTheTail) {
    std::vector<qtest::ZipEntry> entries;
    for (int i = 0; i < 1500; ++i)
        entries.push_back(
            zip_file("OEBPS/text/chapter-with-a-long-name-" + std::to_string(i) + ".xhtml",
                     "<p>" + std::to_string(i) + "</p>"));
    const std::string zip = qtest::build_zip(entries);
    ASSERT_GT(qtest::zip_end(zip).dir_size, 70000u);
    qtest::TempDir d("zipdir");
    eb_source src;
    ASSERT_TRUE(src.open(d.put("big.zip", zip).c_str()));
    auto check = [](const eb_zip_archive &za) {
        ASSERT_TRUE(za.ok());
        EXPECT_EQ(za.count(), 1500u);
        for (int i : {0, 700, 1499}) {
            std::string out;
            const std::int64_t at =
                za.find("oebps/TEXT/chapter-with-a-long-name-" + std::to_string(i) + ".xhtml");
            ASSERT_EQ(at, i);
            EXPECT_EQ(za.read(static_cast<std::uint64_t>(at), 100, &out), eb_zip_read::ok);
            EXPECT_EQ(out, "<p>" + std::to_string(i) + "</p>");
        }
    };
    check(eb_zip_archive(zip.data(), zip.size()));
    check(eb_zip_archive(src));
}

}  // namespace
