// test_metadata_source.cpp - the full record over the book source: a file and the same bytes in
// memory agree, books that change while read, what a call reads, books beyond 512 MiB.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "book_builders.h"
#include "error.h"
#include "fb2_builder.h"
#include "formats/full_readers.h"
#include "io/source.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

std::string epub_book(std::size_t padding) {
    qtest::EpubDesc desc;
    desc.cover = qtest::tiny_jpeg();
    desc.members.push_back(qtest::zip_file("OEBPS/big.bin", qtest::incompressible(padding), false));
    return qtest::build_epub(desc);
}

// The cover is the large record, so reading it whole would show.
std::string mobi_book(std::size_t cover_size) {
    qtest::MobiDesc desc;
    desc.exth_records = {{100, "An Author"}};
    desc.images = {"\xFF\xD8\xFF" + qtest::incompressible(cover_size)};
    desc.cover_image = 0;
    return qtest::build_mobi(desc);
}

std::string fb2_book() {
    qtest::Fb2Desc desc;
    desc.title = "Read Whole";
    return qtest::build_fb2(desc);
}

std::string text_or_error(char *s) {
    std::string out = s ? s : "ERR:" + std::string(ebook_last_error());
    ebook_free_string(s);
    return out;
}

std::string metadata(const std::string &path) {
    return text_or_error(ebook_metadata(path.c_str()));
}

std::string metadata_of(const std::string &bytes, const char *name) {
    return text_or_error(ebook_metadata_from_memory(bytes.data(), bytes.size(), name));
}

// Named by extension and nameless (chosen by content), a file and the same
// bytes in memory give the same record.
TEST(MetadataSource, FileAndMemoryAgree) {
    qtest::TempDir d("metasrc");
    const std::string fb2 = fb2_book();
    const struct {
        const char *name;
        std::string bytes;
    } books[] = {{"a.epub", epub_book(50000)},
                 {"a.mobi", mobi_book(50000)},
                 {"a.fb2", fb2},
                 {"a.fb2.zip", qtest::build_zip({qtest::zip_file("a.fb2", fb2)})},
                 {"a.fbz", qtest::build_zip({qtest::zip_file("inside", fb2)})}};
    for (const auto &b : books) {
        SCOPED_TRACE(b.name);
        const std::string named = metadata(d.put(b.name, b.bytes));
        ASSERT_EQ(named.rfind("{", 0), 0u) << named;
        EXPECT_EQ(named, metadata_of(b.bytes, b.name));
        const std::string nameless = metadata(d.put("nameless", b.bytes));
        EXPECT_EQ(nameless, metadata_of(b.bytes, nullptr));
    }
}

// A book truncated after it was opened fails with a short read naming it,
// never with a record made of what was left.
TEST(MetadataSource, BookTruncatedWhileReadIsAShortRead) {
    qtest::TempDir d("metasrc");
    const struct {
        const char *name;
        std::string bytes;
        int (*reader)(const eb_source &, eb_record &);
    } books[] = {{"t.epub", epub_book(100000), eb_record_epub},
                 {"t.mobi", mobi_book(100000), eb_record_mobi}};
    for (const auto &b : books) {
        SCOPED_TRACE(b.name);
        const std::string path = d.put(b.name, b.bytes);
        eb_source src;
        ASSERT_TRUE(src.open(path.c_str()));
        ASSERT_EQ(::truncate(path.c_str(), 40), 0);
        eb_record r;
        eb_clear_error();
        EXPECT_EQ(b.reader(src, r), -1);
        EXPECT_EQ(std::string(ebook_last_error()), "short read: " + path);
    }
}

// rchar and syscr of this process: every byte read() and pread() returned,
// and how many such calls were made.
struct io_count {
    long long bytes = -1, calls = -1;
};
io_count io_so_far() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    io_count c;
    while (io >> key >> value) {
        if (key == "rchar:") c.bytes = value;
        if (key == "syscr:") c.calls = value;
    }
    return c;
}
long long bytes_read_so_far() {
    return io_so_far().bytes;
}

// EPUB and MOBI cost the same few dozen kilobytes whatever the book or its
// cover weighs: the MOBI cover's size comes from the record list and its type
// from its first bytes.
TEST(MetadataSource, BytesReadDoNotGrowWithTheBook) {
    if (bytes_read_so_far() < 0) GTEST_SKIP() << "no /proc/self/io";
    qtest::TempDir d("metasrc");
    for (const char *ext : {"epub", "mobi"}) {
        long long cost[2] = {};
        const std::size_t sizes[2] = {60000, 12000000};
        for (int i = 0; i < 2; ++i) {
            const std::string book = ext[0] == 'e' ? epub_book(sizes[i]) : mobi_book(sizes[i]);
            const std::string path = d.put(std::string("b.") + ext, book);
            const long long before = bytes_read_so_far();
            const std::string json = metadata(path);
            cost[i] = bytes_read_so_far() - before;
            EXPECT_NE(json.find("\"cover\":{"), std::string::npos) << json;
        }
        EXPECT_LT(cost[1], 160 * 1024) << ext;
        EXPECT_LE(cost[1], cost[0] + 64 * 1024) << ext;
    }
}

// The read requests of one EPUB call, as the header states them: the tail,
// then the container and package together when they lie close; one more
// for a directory starting before the tail or a package far away.
TEST(MetadataSource, ReadRequestsPerEpubCall) {
    if (io_so_far().calls < 0) GTEST_SKIP() << "no /proc/self/io";
    const std::string picture = qtest::incompressible(2 << 20);
    qtest::EpubDesc listed;  // an encryption list, read beside the container
    listed.encryption = true;
    listed.members = {qtest::zip_file("OEBPS/fonts.bin", picture, false)};
    qtest::EpubDesc far;  // the container names a package behind a picture
    far.container = qtest::build_container_xml(far);
    far.container.replace(far.container.find("content.opf"), 11, "far.opf");
    far.members = {qtest::zip_file("OEBPS/a.bin", picture, false),
                   qtest::zip_file("OEBPS/far.opf", qtest::build_opf(far)),
                   qtest::zip_file("OEBPS/b.bin", picture, false)};
    qtest::EpubDesc many;
    for (int i = 0; i < 1500; ++i)
        many.members.push_back(
            qtest::zip_file("OEBPS/text/chapter-with-a-long-name-" + std::to_string(i), "x"));
    const struct {
        const char *label;
        std::string book;
        long long reads;
    } books[] = {
        {"under 64 KiB", epub_book(1000), 1},
        {"pictures after the package", epub_book(2 << 20), 2},
        {"encryption list", qtest::build_epub(listed), 2},
        {"package far from the container", qtest::build_epub(far), 3},
        {"directory starting before the tail", qtest::build_epub(many), 3},
    };
    qtest::TempDir d("metasrc");
    for (const auto &b : books) {
        const std::string path = d.put("b.epub", b.book);
        const io_count a = io_so_far(), before = io_so_far();
        const std::string json = metadata(path);
        const io_count after = io_so_far();
        EXPECT_EQ(json.rfind("{\"format\":\"epub\"", 0), 0u) << json;
        EXPECT_EQ((after.calls - before.calls) - (before.calls - a.calls), b.reads) << b.label;
    }
}

// Read in parts, a MOBI is described beyond the 512 MiB that bound a book
// read whole: its cover record runs on into a sparse tail of 600 MiB.
TEST(MetadataSource, MobiBeyond512MiBIsDescribed) {
    qtest::TempDir d("metasrc");
    const std::string path = d.put("huge.mobi", mobi_book(1000));
    ASSERT_EQ(::truncate(path.c_str(), 600ll << 20), 0);
    const std::string json = metadata(path);
    EXPECT_NE(json.find("\"name\":\"An Author\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"mime\":\"image/jpeg\""), std::string::npos) << json;
}

}  // namespace
