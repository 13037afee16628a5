// The exported frame: argument tests, loading, dispatch, per-thread error text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "book_builders.h"
#include "eb_internal.h"

namespace {

struct TempDir {
    std::string path = qtest::make_temp_dir("frame");
    ~TempDir() { qtest::remove_tree(path); }
    std::string put(const std::string &name, const std::string &bytes) const {
        std::string p = path + "/" + name;
        qtest::write_file(p, bytes);
        return p;
    }
};

// ebook_info's text, or "ERR:" and the error text.
std::string info(const std::string &path) {
    char *s = ebook_info(path.c_str());
    if (!s) return "ERR:" + std::string(ebook_last_error());
    std::string out = s;
    ebook_free_string(s);
    return out;
}

std::string mobi_book(const std::string &title) {
    qtest::MobiSpec s;
    s.full_name = title;
    return qtest::build_mobi(s);
}

}  // namespace

TEST(Frame, NullArgumentsAndFreshThread) {
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

TEST(Frame, LoadErrors) {
    TempDir d;
    std::string missing = d.path + "/missing.mobi";
    EXPECT_EQ(info(missing), "ERR:cannot open file: " + missing + " (No such file or directory)");

    // Directories and FIFOs are refused without blocking.
    std::string dir = d.path + "/folder.mobi";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    EXPECT_EQ(info(dir), "ERR:not a regular file: " + dir);
    std::string fifo = d.path + "/pipe.epub";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(info(fifo), "ERR:not a regular file: " + fifo);

    // A message longer than the error text is cut to 511 bytes.
    std::string long_path = d.path + "/" + std::string(600, 'x') + ".mobi";
    char *s = ebook_info(long_path.c_str());
    EXPECT_EQ(s, nullptr);
    std::string err = ebook_last_error();
    EXPECT_EQ(err.size(), 511u);
    EXPECT_EQ(err, ("cannot open file: " + long_path).substr(0, 511));
}

TEST(Frame, LoaderKeepsExactBytesAndEmptyFiles) {
    TempDir d;
    std::string bytes("a\0b\xff", 4);
    std::string p = d.put("x.bin", bytes);
    char *block = nullptr;
    std::uint64_t len = 99;
    ASSERT_EQ(eb_read_file(p.c_str(), &block, &len), 0);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(std::string(block, 4), bytes);
    EXPECT_EQ(block[4], '\0');
    std::free(block);

    std::string empty = d.put("empty.bin", "");
    ASSERT_EQ(eb_read_file(empty.c_str(), &block, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(block[0], '\0');
    std::free(block);

    ASSERT_EQ(eb_read_file((d.path + "/nope").c_str(), &block, &len), -1);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(len, 0u);
}

TEST(Frame, SizeCeiling) {
    TempDir d;
    // Sparse files: the ceiling is checked before anything is allocated.
    std::string over = d.path + "/over.mobi";
    {
        std::FILE *f = std::fopen(over.c_str(), "wb");
        std::fclose(f);
    }
    ASSERT_EQ(::truncate(over.c_str(), 536870913), 0);
    EXPECT_EQ(info(over), "ERR:file too large: " + over);
}

TEST(Frame, ExtensionText) {
    struct Case {
        const char *path, *want;
    } cases[] = {
        {"/a/b.EPUB", "epub"}, {"x.Fb2", "fb2"},          {"dir.epub/file", ""}, {"name.", ""},
        {"a\\b.c\\d", ""},     {"a/b\\c.AZW3", "azw3"},   {"/x/.epub", "epub"},  {"noext", ""},
        {"a.tar.gz", "gz"},    {"c:\\x\\y.MOBI", "mobi"},
    };
    for (const auto &c : cases) {
        char out[32] = "untouched";
        EXPECT_STREQ(eb_ext_lower(c.path, out, sizeof out), c.want) << c.path;
    }
    char small[4];
    EXPECT_STREQ(eb_ext_lower("book.azw3x", small, sizeof small), "azw");
    char keep[8] = "keep";
    EXPECT_STREQ(eb_ext_lower(nullptr, keep, sizeof keep), "");
    EXPECT_STREQ(eb_ext_lower("a.epub", keep, 1), "");
    EXPECT_STREQ(keep, "keep");

    for (const char *yes : {"epub", "fb2", "mobi", "azw", "azw3"})
        EXPECT_EQ(eb_is_ebook_ext(yes), 1);
    for (const char *no : {"", "EPUB", "epubx", "azw4", "pdf"})
        EXPECT_EQ(eb_is_ebook_ext(no), 0);
}

TEST(Frame, DispatchByExtensionThenContent) {
    TempDir d;
    const std::string book = mobi_book("Dispatched");
    // Known extensions in any case choose their reader without sniffing.
    for (const char *name : {"a.mobi", "b.AZW", "c.Azw3"})
        EXPECT_NE(info(d.put(name, book)).find("\"title\":\"Dispatched\""), std::string::npos)
            << name;
    // Unknown or missing extension: the PalmDB signature decides.
    for (const char *name : {"d.bin", "e", "f.mobi.bak", "g.azw3x"})
        EXPECT_NE(info(d.put(name, book)).find("\"format\":\"mobi\""), std::string::npos) << name;

    // 67 bytes cannot hold the signature; 68 can.
    std::string sig(68, '\0');
    std::memcpy(&sig[60], "BOOKMOBI", 8);
    std::string p67 = d.put("short.bin", sig.substr(0, 67));
    EXPECT_EQ(info(p67), "ERR:unsupported ebook format: " + p67);
    EXPECT_EQ(info(d.put("sig.bin", sig)), "ERR:MOBI too short for PalmDB header");

    // A reader chosen by extension gets no second chance.
    EXPECT_EQ(info(d.put("wrong.azw", std::string(70, 'z'))),
              "ERR:MOBI too short for PalmDB header");

    // Fewer than four bytes, or exactly four that are not "PK".
    std::string e = d.put("empty.txt", "");
    EXPECT_EQ(info(e), "ERR:unsupported ebook format: " + e);
    std::string four = d.put("four.txt", "abcd");
    EXPECT_EQ(info(four), "ERR:unsupported ebook format: " + four);
}

TEST(Frame, ContentSniffingSendsZipAndFb2ToTheirReaders) {
    TempDir d;
    // Four bytes beginning "PK" and an empty .epub both reach the EPUB reader,
    // which rejects them with its own message.
    std::string pk = info(d.put("four.bin", "PK\3\4"));
    std::string empty_epub = info(d.put("empty.epub", ""));
    EXPECT_EQ(pk.rfind("ERR:", 0), 0u);
    EXPECT_EQ(pk.find("unsupported ebook format"), std::string::npos);
    EXPECT_EQ(empty_epub, pk);

    // FB2 by content: '<' among the first 64 bytes and the root element's name.
    std::string fb2 = "<?xml version=\"1.0\"?><FictionBook><description/></FictionBook>";
    EXPECT_NE(info(d.put("book.xml", fb2)).find("\"format\":\"fb2\""), std::string::npos);
    std::string late = std::string(64, ' ') + "<fictionbook>";
    std::string p = d.put("late.txt", late);
    EXPECT_EQ(info(p), "ERR:unsupported ebook format: " + p);
    // The root element must come before the first NUL byte.
    std::string nul = std::string("<x>\0<FictionBook>", 17);
    std::string q = d.put("nul.txt", nul);
    EXPECT_EQ(info(q), "ERR:unsupported ebook format: " + q);
}

TEST(Frame, ErrorTextIsEmptiedAndKeptPerThread) {
    TempDir d;
    std::string good = d.put("good.mobi", mobi_book("Good"));
    std::string bad = d.put("bad.mobi", "short");
    ASSERT_EQ(info(bad), "ERR:MOBI too short for PalmDB header");
    std::string text = info(good);
    EXPECT_EQ(text.rfind("{", 0), 0u);
    EXPECT_STREQ(ebook_last_error(), "");

    // Many threads at once, each on its own books, each seeing its own text.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::string mine =
                d.put("t" + std::to_string(t) + ".mobi", mobi_book("T" + std::to_string(t)));
            std::string missing = d.path + "/none" + std::to_string(t) + ".mobi";
            for (int i = 0; i < 200; ++i) {
                char *s = ebook_info(mine.c_str());
                if (!s ||
                    std::strstr(s, ("\"title\":\"T" + std::to_string(t) + "\"").c_str()) ==
                        nullptr ||
                    ebook_last_error()[0] != '\0')
                    ++wrong;
                ebook_free_string(s);
                if (ebook_info(missing.c_str()) != nullptr ||
                    std::string(ebook_last_error()).find(missing) == std::string::npos)
                    ++wrong;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Frame, DrmBookIsDescribedWithItsNotice) {
    TempDir d;
    qtest::MobiSpec s;
    s.encryption = 2;
    std::string p = d.put("locked.azw", qtest::build_mobi(s));
    EXPECT_EQ(
        info(p),
        R"({"drm":true,"format":"mobi","title":"","author":"","language":"","series":"","series_index":"","has_cover":false})");
    EXPECT_STREQ(ebook_last_error(), "DRM protected MOBI (encryption type 2); will not decrypt");
}
