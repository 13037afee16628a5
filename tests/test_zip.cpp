// test_zip.cpp - ZIP member access: archive test, member lookup and
// extraction, the member-name scan, and refusal of oversized members.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <string>

#include "book_builders.h"
#include "error.h"
#include "heap.h"
#include "io/file.h"
#include "io/zip.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"

namespace {

using qtest::build_zip;
using qtest::zip_dir;
using qtest::zip_file;

std::string last_error() {
    return ebook_last_error();
}

// Extracts name from zip; the bytes as a string, or "<null>" on failure.
// Checks the failure contract (null block, length 0) on the way.
std::string extract(const std::string &zip, const char *name) {
    std::uint64_t len = 12345;
    eb_clear_error();
    eb_unique<char> block(eb_zip_extract(zip.data(), zip.size(), name, &len));
    if (!block) {
        EXPECT_EQ(len, 0u);
        return "<null>";
    }
    EXPECT_EQ(last_error(), "");
    return std::string(block.get(), len);
}

TEST(ZipOk, OpensOnlyWholeArchives) {
    const std::string zip = build_zip({zip_file("a.txt", "hello")});
    EXPECT_EQ(eb_zip_ok(zip.data(), zip.size()), 1);
    EXPECT_EQ(eb_zip_ok(zip.data(), 0), 0);  // libzip alone would take this as empty
    EXPECT_EQ(eb_zip_ok("PK\x03\x04", 4), 0);
    const std::string text = "just some text, long enough to hold an end record";
    EXPECT_EQ(eb_zip_ok(text.data(), text.size()), 0);

    // Central directory cut off, or its end record damaged.
    std::size_t cd = zip.rfind(std::string("PK\x01\x02", 4));
    ASSERT_NE(cd, std::string::npos);
    EXPECT_EQ(eb_zip_ok(zip.data(), cd), 0);
    std::string bad = zip;
    bad[zip.rfind(std::string("PK\x05\x06", 4)) + 16] ^= 0x55;  // central directory offset
    EXPECT_EQ(eb_zip_ok(bad.data(), bad.size()), 0);
    EXPECT_EQ(last_error(), "");
}

TEST(ZipExtract, FailuresNameTheMember) {
    std::string payload(1000, 'x');
    const std::string zip =
        build_zip({zip_file("good.txt", payload), zip_file("stored.txt", payload, false)});

    EXPECT_EQ(extract("not a zip archive at all, but long enough", "good.txt"), "<null>");
    EXPECT_EQ(last_error(), "not a valid ZIP archive");

    EXPECT_EQ(extract(zip, "absent.txt"), "<null>");
    EXPECT_EQ(last_error(), "missing zip entry: absent.txt");

    // CRC mismatch, for a deflated and a stored member.
    for (const char *name : {"good.txt", "stored.txt"}) {
        std::string bad = qtest::patch_member_header(zip, name, 1000, 0xDEADBEEF);
        EXPECT_EQ(extract(bad, name), "<null>") << name;
        EXPECT_EQ(last_error(), std::string("missing zip entry: ") + name);
    }

    // Encrypted (traditional encryption flag) and unknown compression method.
    qtest::ZipHeaders h = qtest::locate_member_headers(zip, "good.txt");
    std::string enc = zip;
    enc[h.local + 6] |= 1;
    enc[h.central + 8] |= 1;
    EXPECT_EQ(extract(enc, "good.txt"), "<null>");
    EXPECT_EQ(last_error(), "missing zip entry: good.txt");
    std::string method = zip;
    method[h.local + 8] = method[h.central + 10] = 97;
    EXPECT_EQ(extract(method, "good.txt"), "<null>");
    EXPECT_EQ(last_error(), "missing zip entry: good.txt");

    // Damaged deflate stream.
    std::string broken = zip;
    std::size_t data_at = h.local + 30 + std::strlen("good.txt");
    for (int i = 0; i < 4; ++i)
        broken[data_at + i] = '\xff';
    EXPECT_EQ(extract(broken, "good.txt"), "<null>");
    EXPECT_EQ(last_error(), "missing zip entry: good.txt");
}

TEST(ZipExtract, ExactBytesAndEmptyMembers) {
    std::string binary("\0\x01\xff\xd8 binary\0tail", 16);
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 % 251);
    const std::string zip =
        build_zip({zip_file("bin", binary), zip_file("stored", binary, false), zip_file("big", big),
                   zip_file("empty", ""), zip_dir("OEBPS/")});
    EXPECT_EQ(extract(zip, "bin"), binary);
    EXPECT_EQ(extract(zip, "stored"), binary);
    EXPECT_EQ(extract(zip, "big"), big);

    // Empty member and directory entry: success, a valid block, length 0.
    for (const char *name : {"empty", "OEBPS/"}) {
        std::uint64_t len = 99;
        eb_unique<char> block(eb_zip_extract(zip.data(), zip.size(), name, &len));
        EXPECT_NE(block, nullptr) << name;
        EXPECT_EQ(len, 0u) << name;
    }
}

TEST(ZipExtract, LookupIsWholeNameIgnoringAsciiCase) {
    const std::string zip = build_zip({
        zip_file("meta-inf/Container.XML", "container"),
        zip_file("OEBPS/a.opf", "opf"),
        zip_file("dup.txt", "first"),
        zip_file("DUP.TXT", "second"),
        zip_file("\xc3\x89t\xc3\xa9.txt", "accented"),  // "Été.txt"
        zip_file("latin1-\xc9.txt", "latin1"),
    });
    EXPECT_EQ(extract(zip, "META-INF/container.xml"), "container");
    EXPECT_EQ(extract(zip, "oebps/A.OPF"), "opf");
    EXPECT_EQ(extract(zip, "Dup.Txt"), "first");  // first in central-directory order
    EXPECT_EQ(extract(zip, "DUP.TXT"), "first");
    EXPECT_EQ(extract(zip, "\xc3\x89t\xc3\xa9.TXT"), "accented");

    // No normalisation, no partial names, no folding outside ASCII.
    for (const char *name : {"./OEBPS/a.opf", "/OEBPS/a.opf", "a.opf", "OEBPS/a.op", "OEBPS",
                             "\xc3\xa9t\xc3\xa9.txt", "latin1-\xe9.txt", ""}) {
        EXPECT_EQ(extract(zip, name), "<null>") << name;
        EXPECT_EQ(last_error(), std::string("missing zip entry: ") + name);
    }
}

TEST(ZipNameScan, RawNamesCutTo511Bytes) {
    auto scan = [](const std::vector<std::string> &names) {
        std::vector<qtest::ZipEntry> entries;
        for (const auto &n : names)
            entries.push_back(zip_file(n, "x"));
        const std::string zip = build_zip(entries);
        return eb_zip_name_contains(zip.data(), zip.size(), "encryption.xml");
    };
    EXPECT_EQ(scan({"mimetype", "META-INF/encryption.xml"}), 1);
    EXPECT_EQ(scan({"OEBPS/old-encryption.xml"}), 1);
    EXPECT_EQ(scan({"META-INF/ENCRYPTION.XML", "META-INF/container.xml"}), 0);
    EXPECT_EQ(scan({"a.txt", "b\xff\xfe-encryption.xml"}), 1);  // raw bytes, not transcoded

    // Only the first 511 bytes of a name are searched.
    const std::string at_end = std::string(511 - 14, 'd') + "encryption.xml";
    EXPECT_EQ(scan({at_end}), 1);
    EXPECT_EQ(scan({"d" + at_end}), 0);

    EXPECT_EQ(eb_zip_name_contains("not an archive, not an archive", 30, "encryption.xml"), -1);
}

// Headers that lie about the uncompressed size: an archive whose deflated
// member yields more, or fewer, bytes than declared is refused even when the
// CRC matches the declared bytes.
TEST(ZipExtract, SizeMustMatchTheHeader) {
    std::string payload;
    for (int i = 0; i < 5000; ++i)
        payload += static_cast<char>('a' + i % 26);
    for (bool deflate : {true, false}) {
        const std::string zip = build_zip({zip_file("m", payload, deflate)});
        const std::string head = payload.substr(0, 10);
        std::string under = qtest::patch_member_header(zip, "m", 10, qtest::crc32_of(head));
        EXPECT_EQ(extract(under, "m"), "<null>") << deflate;
        EXPECT_EQ(last_error(), "missing zip entry: m");
        std::string over = qtest::patch_member_header(zip, "m", 6000, qtest::crc32_of(payload));
        EXPECT_EQ(extract(over, "m"), "<null>") << deflate;
        EXPECT_EQ(last_error(), "missing zip entry: m");
    }
}

long peak_rss_kib() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// An archive with one deflated member of a little over 512 MiB of zeros,
// named like an EPUB's container so that it also reaches the EPUB reader.
// Built once for the whole suite; it compresses to about half a megabyte.
class ZipBomb : public ::testing::Test {
  protected:
    static constexpr std::uint64_t kSize = EB_MAX_FILE + 4096;
    static inline std::string dir_, path_, bytes_;

    static void SetUpTestSuite() {
        dir_ = qtest::make_temp_dir("zipbomb");
        path_ = dir_ + "/bomb.epub";
        qtest::write_zero_zip(path_, "META-INF/container.xml", kSize);
        bytes_ = qtest::read_file(path_);
    }
    static void TearDownTestSuite() { qtest::remove_tree(dir_); }
};

TEST_F(ZipBomb, OversizedMemberIsNeverInflated) {
    ASSERT_LT(bytes_.size(), 4u << 20);
    ASSERT_EQ(eb_zip_ok(bytes_.data(), bytes_.size()), 1);

    long rss_before = peak_rss_kib();
    std::uint64_t len = 1;
    eb_unique<char> block(
        eb_zip_extract(bytes_.data(), bytes_.size(), "META-INF/container.xml", &len));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(len, 0u);
    block.reset();
    EXPECT_EQ(last_error(), "missing zip entry: META-INF/container.xml");
    EXPECT_LT(peak_rss_kib() - rss_before, 64L * 1024) << "member was inflated";

    // Through the public entry point: the book is refused as an EPUB.
    char *json = ebook_info(path_.c_str());
    EXPECT_EQ(json, nullptr);
    ebook_free_string(json);
    EXPECT_EQ(last_error(), "missing META-INF/container.xml");
    EXPECT_LT(peak_rss_kib() - rss_before, 64L * 1024) << "member was inflated";
}

}  // namespace
