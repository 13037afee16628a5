// test_write_engine.cpp - how every write happens: links, modes, times, dry runs, refusals, a book
// changed meanwhile, a full or read-only file system, two writers at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "comic_builder.h"
#include "error.h"
#include "formats/epub/epub_write.h"
#include "metadata_probe.h"
#include "ops/write/engine.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

std::string sample_epub() {
    return qtest::build_epub(qtest::EpubDesc{});
}

struct stat stat_of(const std::string &p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st;
}

TEST(WriteEngine, LinksModesTimesAndDryRuns) {
    qtest::TempDir dir("write-engine");
    const std::string book = dir.put("b.epub", sample_epub());
    ASSERT_EQ(::chmod(book.c_str(), 0640), 0);
    const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, book.c_str(), old_times, 0), 0);
    const std::string before = qtest::read_file(book);

    // A dry run builds and checks, and keeps nothing.
    qtest::MetaProbe p =
        qtest::MetaProbe::from_write(book, R"({"title":"Dry"})", EBOOK_WRITE_DRY_RUN);
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(p.at("/title"), "Dry");
    EXPECT_EQ(qtest::read_file(book), before);
    EXPECT_EQ(dir.names(), std::set<std::string>{"b.epub"});

    // A request that changes nothing writes nothing: the same file stays.
    const ino_t ino = stat_of(book).st_ino;
    p = qtest::MetaProbe::from_write(book, R"({"title":"Sample Book","subjects":[]})");
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(stat_of(book).st_ino, ino);

    // Through a symbolic link: the target is replaced, the link stays.
    const std::string link = dir.path + "/link.epub";
    ASSERT_EQ(::symlink("b.epub", link.c_str()), 0);
    p = qtest::MetaProbe::from_write(link, R"({"title":"Kept Time"})", EBOOK_WRITE_KEEP_MTIME);
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_TRUE(S_ISLNK(stat_of(link).st_mode));
    const struct stat st = stat_of(book);
    EXPECT_NE(st.st_ino, ino);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(qtest::MetaProbe::from_file(book).at("/title"), "Kept Time");

    // A second hard link would be parted from the book: refused unless asked.
    const std::string hard = dir.path + "/hard.epub";
    ASSERT_EQ(::link(book.c_str(), hard.c_str()), 0);
    p = qtest::MetaProbe::from_write(book, R"({"title":"Parted"})");
    EXPECT_EQ(p.error().rfind("book has 2 hard links", 0), 0u) << p.error();
    p = qtest::MetaProbe::from_write(book, R"({"title":"Parted"})", EBOOK_WRITE_BREAK_LINKS);
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(qtest::MetaProbe::from_file(hard).at("/title"), "Kept Time");
    EXPECT_EQ(dir.names(), (std::set<std::string>{"b.epub", "hard.epub", "link.epub"}));
}

std::string palmdoc() {
    qtest::MobiDesc d;
    d.mobi_header = false;
    return qtest::build_mobi(d).replace(60, 8, "TEXtREAd");
}

TEST(WriteEngine, RefusalsBeforeAnythingIsWritten) {
    qtest::TempDir dir("write-refusals");
    qtest::ComicDesc comic;
    comic.members = {{"p1.jpg", qtest::tiny_jpeg()}};
    const struct {
        std::string name, bytes, changes;
        unsigned flags;
        const char *error;
    } rows[] = {
        {"a.cbt", qtest::build_comic(qtest::ComicKind::Tar, comic), R"({"title":"T"})", 0,
         "cannot write cbt archives"},
        {"a.mobi", qtest::build_mobi(qtest::MobiDesc{}),
         R"({"series":[{"name":"S","index":"1"}]})", 0, "series: not stored by MOBI books"},
        {"a.pdb", palmdoc(), R"({"title":"T"})", 0, "cannot write palmdoc books"},
        {"a.fb2",
         "<FictionBook><description><title-info><book-title>x</book-title>"
         "</title-info></description></FictionBook>",
         R"({"rights":"R"})", 0, "rights: not stored by FictionBook books"},
        {"a.epub", sample_epub(), R"({"title":"T"})", 16, "unknown flags: 16"},
        {"a.epub", sample_epub(), R"({"colour":"red"})", 0, "unknown field: colour"},
    };
    for (const auto &r : rows) {
        const std::string path = dir.put(r.name, r.bytes);
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, r.changes, r.flags);
        EXPECT_FALSE(p.ok());
        EXPECT_EQ(p.error(), r.error);
        EXPECT_EQ(qtest::read_file(path), r.bytes);
    }
    EXPECT_EQ(ebook_write_metadata(nullptr, "{}", 0), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL path");
    EXPECT_EQ(ebook_write_metadata("x", nullptr, 0), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL changes_json");
}

// Writer doubles: one that lets another program touch the book while the
// new one is built, one that writes the old book back unchanged.
std::string g_touch;
int touching_write(const eb_source &book, const eb_record &before, const eb_changes &c, int fd) {
    const int out = ::open(g_touch.c_str(), O_WRONLY | O_APPEND);
    EXPECT_EQ(::write(out, "!", 1), 1);
    ::close(out);
    return eb_epub_writer.write(book, before, c, fd);
}
int lazy_write(const eb_source &book, const eb_record &, const eb_changes &, int fd) {
    std::string all(book.size(), '\0');
    if (!book.read(0, all.data(), all.size())) return -1;
    return ::write(fd, all.data(), all.size()) == static_cast<ssize_t>(all.size()) ? 0 : -1;
}

TEST(WriteEngine, ChangedMeanwhileOrNotAsAskedLeavesTheBook) {
    const struct {
        int (*write)(const eb_source &, const eb_record &, const eb_changes &, int);
        const char *error;
        bool touched;
    } rows[] = {
        {touching_write, "book changed while writing: ", true},
        {lazy_write, "verification failed: the new book's title is not the one asked for", false}};
    for (const auto &r : rows) {
        qtest::TempDir dir("write-double");
        g_touch = dir.put("b.epub", sample_epub());
        const eb_format_writer w{"EPUB books", ~0u, r.write};
        eb_clear_error();
        char *rec = eb_write_book(g_touch.c_str(), R"({"title":"New"})", 0, &w);
        EXPECT_EQ(rec, nullptr);
        std::free(rec);
        EXPECT_EQ(std::string(eb_error_text()).rfind(r.error, 0), 0u) << eb_error_text();
        EXPECT_EQ(qtest::read_file(g_touch), sample_epub() + (r.touched ? "!" : ""));
        EXPECT_EQ(dir.names(), std::set<std::string>{"b.epub"});
    }
}

// A small tmpfs: the book fits, its copy does not; then read-only.
TEST(WriteEngine, FullOrReadOnlyFileSystemLeavesTheBook) {
    qtest::TempDir dir("write-tmpfs");
    const std::string mnt = dir.path + "/mnt";
    ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "skipped: cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    qtest::EpubDesc d;
    d.members.push_back(qtest::zip_file("OEBPS/big.bin", qtest::incompressible(150 * 1024), false));
    const std::string bytes = qtest::build_epub(d);
    const std::string book = mnt + "/b.epub";
    qtest::write_file(book, bytes);
    qtest::MetaProbe p = qtest::MetaProbe::from_write(book, R"({"title":"Full"})");
    EXPECT_EQ(p.error(), "cannot write the new book (No space left on device)");
    EXPECT_EQ(qtest::read_file(book), bytes);
    EXPECT_EQ(std::filesystem::directory_iterator(mnt)->path().filename(), "b.epub");
    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    p = qtest::MetaProbe::from_write(book, R"({"title":"Read-only"})");
    EXPECT_EQ(p.error(),
              "cannot create a file beside the book: " + mnt + " (Read-only file system)");
    EXPECT_EQ(qtest::read_file(book), bytes);
    ::umount(mnt.c_str());
}

// Two writers of one book take turns: each reads what the other left, the
// book is whole and states one of their titles, nothing is left beside it.
TEST(WriteEngine, TwoThreadsOneBook) {
    qtest::TempDir dir("write-threads");
    const std::string book = dir.put("b.epub", sample_epub());
    std::string errors[2];
    std::thread t[2];
    for (int i = 0; i < 2; ++i)
        t[i] = std::thread([&, i] {
            for (int k = 0; k < 5; ++k) {
                const std::string changes = "{\"title\":\"T" + std::to_string(i) + "-" +
                                            std::to_string(k) + "\",\"subjects\":[\"s" +
                                            std::to_string(i) + "\"]}";
                char *r = ebook_write_metadata(book.c_str(), changes.c_str(), 0);
                if (!r) errors[i] = ebook_last_error();
                ebook_free_string(r);
            }
        });
    for (std::thread &x : t)
        x.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");
    const qtest::MetaProbe p = qtest::MetaProbe::from_file(book);
    ASSERT_TRUE(p.ok());
    EXPECT_TRUE(p.at("/title") == "T0-4" || p.at("/title") == "T1-4") << p.at("/title");
    EXPECT_EQ(dir.names(), std::set<std::string>{"b.epub"});
}

}  // namespace
