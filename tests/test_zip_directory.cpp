// test_zip_directory.cpp - the archive's end records and central directory in every form the
// format allows, the damaged and lying ones refused, local headers against the directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/source.h"
#include "io/zip_archive.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::zip_file;
using qtest::zip_put;

const std::string kOpf(3000, 'o');
const std::string kZip = qtest::build_zip({zip_file("mimetype", "application/epub+zip", false),
                                           zip_file("META-INF/container.xml", "<container/>"),
                                           zip_file("OEBPS/a.opf", kOpf)});

std::string patched(std::string z, std::size_t at, int bytes, std::uint64_t v) {
    zip_put(z, at, bytes, v);
    return z;
}

// Every member found and read whole, over bytes and over a file alike.
TEST(ZipDirectory, EveryFormOfTheSameArchive) {
    std::string fake_end = "PK\x05\x06" + std::string(18, '\0');  // one entry of 46 bytes
    fake_end = patched(patched(patched(fake_end, 8, 2, 1), 10, 2, 1), 12, 4, 46);
    const std::string longest = std::string(65535 - 22, 'c') + fake_end;
    const std::string inner = qtest::build_zip({zip_file("other.txt", "not this one")});
    const std::string stub = "#!/bin/sh\n" + std::string(1000, '\x7f');
    const struct {
        const char *label;
        std::string bytes, comment;
    } forms[] = {
        {"plain", kZip, ""},
        {"zip64", qtest::zip64_form(kZip), ""},
        {"stub before", stub + kZip, ""},
        {"stub before zip64", stub + qtest::zip64_form(kZip), ""},
        {"end record in the comment", qtest::zip_with_comment(kZip, "x" + fake_end),
         "x" + fake_end},
        {"longest comment", qtest::zip_with_comment(kZip, longest), longest},
        {"an archive in the comment", qtest::zip_with_comment(kZip, inner), inner},
        {"zip64 with comment", qtest::zip_with_comment(qtest::zip64_form(kZip), "z"), "z"},
        {"bytes appended, a signature in them", kZip + "trailing " + fake_end + " bytes", ""},
    };
    const std::string want[] = {"application/epub+zip", "<container/>", kOpf};
    qtest::TempDir d("zipdir");
    for (const auto &f : forms) {
        eb_source file;
        ASSERT_TRUE(file.open(d.put("a.zip", f.bytes).c_str()));
        const eb_source mem(f.bytes.data(), f.bytes.size());
        for (const eb_source *src : {&mem, static_cast<const eb_source *>(&file)}) {
            const eb_zip_archive za(*src);
            ASSERT_EQ(za.count(), 3u) << f.label;
            EXPECT_EQ(za.comment(), f.comment) << f.label;
            EXPECT_EQ(za.find("meta-inf/CONTAINER.xml"), 1) << f.label;
            for (std::uint64_t i = 0; i < 3; ++i) {
                std::string out;
                EXPECT_EQ(za.read(i, 1 << 20, &out), eb_zip_read::ok) << f.label << i;
                EXPECT_EQ(out, want[i]) << f.label << i;
            }
        }
    }
}

// Damaged, cut or lying records: no archive, nothing read or reserved
// outside the book. A count below the entries stops there; the old count
// 0xFFFF means "walk to the end" and needs at least that many entries.
TEST(ZipDirectory, EndRecordsAndCounts) {
    const std::size_t end = qtest::zip_end_at(kZip), rec = end + 3 * 28;
    const std::string z64 = qtest::zip64_form(kZip);
    std::string cut = kZip;
    cut.erase(cut.size() - 100, 10);
    const struct {
        const char *label;
        std::string bytes;
        std::uint64_t count;
    } cases[] = {
        {"end record alone", kZip.substr(end), 0},
        {"count above the entries", patched(patched(kZip, end + 8, 2, 4), end + 10, 2, 4), 0},
        {"count below the entries", patched(patched(kZip, end + 8, 2, 2), end + 10, 2, 2), 2},
        {"unknown count, few entries", qtest::zip_repeat_entries(kZip, 1, 0xFFFF), 0},
        {"unknown count, many entries", qtest::zip_repeat_entries(kZip, 21846, 0xFFFF), 65538},
        {"count beyond the directory's size", qtest::zip_repeat_entries(kZip, 1, 1000), 0},
        {"directory offset past the end", patched(kZip, end + 16, 4, 0x7FFFFFFF), 0},
        {"directory larger than the book", patched(kZip, end + 12, 4, 0x7FFFFFF0), 0},
        {"another disk", patched(kZip, end + 4, 2, 1), 0},
        {"directory cut short", cut, 0},
        {"zip64 record damaged", patched(z64, rec, 4, 0x12345678), 0},
        {"zip64 record on another disk", patched(z64, rec + 16, 4, 1), 0},
        {"zip64 count above", patched(patched(z64, rec + 24, 8, 4), rec + 32, 8, 4), 0},
    };
    for (const auto &c : cases) {
        const eb_zip_archive za(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(za.ok(), c.count > 0) << c.label;
        EXPECT_EQ(za.count(), c.count) << c.label;
        if (c.count > 0) {
            EXPECT_EQ(za.find("OEBPS/a.opf"), c.count > 2 ? 2 : -1) << c.label;
        }
    }
}

// Each local header must agree with its entry and its data lie inside the
// book; a data descriptor excuses CRC and sizes; bzip2, LZMA and Zstandard
// members are not read (missing to callers).
TEST(ZipDirectory, LocalHeadersAgainstTheDirectory) {
    const qtest::ZipHeaders h = qtest::locate_member_headers(kZip, "OEBPS/a.opf");
    struct field {
        std::size_t at;
        int bytes;
        std::uint64_t v;
    };
    const std::size_t l = h.local, c = h.central;
    const std::uint64_t moved = 11 + static_cast<unsigned char>(kZip[l + 28]);  // name + extra
    const struct {
        const char *label;
        std::vector<field> patch;
        eb_zip_read want;
    } cases[] = {
        {"as built", {}, eb_zip_read::ok},
        {"data descriptor",
         {{l + 6, 2, 8}, {l + 14, 4, 0}, {l + 18, 4, 0}, {l + 22, 4, 0}},
         eb_zip_read::ok},
        {"name length", {{l + 26, 2, 0}, {l + 28, 2, moved}}, eb_zip_read::damaged},
        {"method", {{l + 8, 2, 0}}, eb_zip_read::damaged},
        {"signature", {{l, 4, 0x04034b51}}, eb_zip_read::damaged},
        {"local header past the end", {{c + 42, 4, 0x7FFFFFF0}}, eb_zip_read::damaged},
        {"data past the end",
         {{c + 20, 4, 0x7FFFFFF0}, {l + 18, 4, 0x7FFFFFF0}},
         eb_zip_read::damaged},
        {"bzip2", {{l + 8, 2, 12}, {c + 10, 2, 12}}, eb_zip_read::damaged},
        {"LZMA", {{l + 8, 2, 14}, {c + 10, 2, 14}}, eb_zip_read::damaged},
        {"Zstandard", {{l + 8, 2, 93}, {c + 10, 2, 93}}, eb_zip_read::damaged},
    };
    for (const auto &k : cases) {
        std::string z = kZip, out;
        for (const field &f : k.patch)
            zip_put(z, f.at, f.bytes, f.v);
        const eb_zip_archive za(z.data(), z.size());
        EXPECT_EQ(za.read(2, 1 << 20, &out), k.want) << k.label;
        EXPECT_FALSE(za.source_failed()) << k.label;  // nothing asked outside the book
    }
}

}  // namespace
