// test_zip_archive.cpp - the archive handle: names and lookup from one reading of the
// central directory, member reads with their caps and checks, over a file or bytes.
#include <gtest/gtest.h>

#include <string>

#include "book_builders.h"
#include "io/source.h"
#include "io/zip_archive.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::zip_file;

const std::string kPayload(3000, 'p');

std::string sample_zip() {
    return qtest::build_zip({zip_file("mimetype", "application/epub+zip", false),
                             zip_file("META-INF/Container.xml", "<container/>"),
                             zip_file("dup.txt", "first"), zip_file("DUP.TXT", "second"),
                             zip_file("big.txt", kPayload), qtest::zip_dir("OEBPS/")});
}

// The same answers whether the archive lies in memory or in a file.
void check_handle(const eb_zip_archive &za) {
    ASSERT_TRUE(za.ok());
    ASSERT_EQ(za.count(), 6u);
    EXPECT_EQ(za.name(1), "META-INF/Container.xml");
    EXPECT_EQ(za.name(6), "");
    EXPECT_EQ(za.find("meta-inf/container.XML"), 1);
    EXPECT_EQ(za.find("Dup.txt"), 2);  // first in central-directory order
    EXPECT_EQ(za.find("big"), -1);
    std::uint64_t size = 0;
    EXPECT_TRUE(za.size(4, &size));
    EXPECT_EQ(size, kPayload.size());
    EXPECT_FALSE(za.size(99, &size));

    const struct {
        std::uint64_t index, cap;
        eb_zip_read want;
        std::string bytes;
    } reads[] = {
        {0, 100, eb_zip_read::ok, "application/epub+zip"},
        {3, 100, eb_zip_read::ok, "second"},
        {4, kPayload.size(), eb_zip_read::ok, kPayload},
        {4, kPayload.size() - 1, eb_zip_read::too_large, ""},
        {5, 100, eb_zip_read::ok, ""},
        {6, 100, eb_zip_read::missing, ""},
    };
    for (const auto &r : reads) {
        std::string out = "junk";
        EXPECT_EQ(za.read(r.index, r.cap, &out), r.want) << r.index;
        EXPECT_EQ(out, r.bytes) << r.index;
    }
    EXPECT_FALSE(za.source_failed());
}

TEST(ZipArchive, SameOverBytesAndOverAFile) {
    const std::string zip = sample_zip();
    check_handle(eb_zip_archive(zip.data(), zip.size()));
    qtest::TempDir d("ziparchive");
    eb_source src;
    ASSERT_TRUE(src.open(d.put("a.zip", zip).c_str()));
    check_handle(eb_zip_archive(src));
}

TEST(ZipArchive, DamagedMembersAndNonArchives) {
    const std::string zip = sample_zip();
    std::string bad = qtest::patch_member_header(zip, "big.txt", kPayload.size(), 0x12345678);
    eb_zip_archive za(bad.data(), bad.size());
    std::string out;
    EXPECT_EQ(za.read(4, 1u << 20, &out), eb_zip_read::damaged);
    EXPECT_EQ(out, "");
    EXPECT_EQ(za.read(2, 100, &out), eb_zip_read::ok);  // the others still read

    for (const std::string &junk : {std::string(), std::string("PK\x05\x06", 4),
                                    std::string(100, 'x'), zip.substr(0, zip.size() - 22)}) {
        eb_zip_archive no(junk.data(), junk.size());
        EXPECT_FALSE(no.ok());
        EXPECT_EQ(no.count(), 0u);
        EXPECT_EQ(no.find("mimetype"), -1);
        EXPECT_EQ(no.read(0, 100, &out), eb_zip_read::missing);
    }
}

}  // namespace
