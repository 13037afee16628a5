// test_detect.cpp - reader choice: extension text, dispatch by extension, then by content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "book_builders.h"
#include "formats/detect.h"
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

std::string mobi_book(const std::string &title) {
    qtest::MobiSpec s;
    s.full_name = title;
    return qtest::build_mobi(s);
}

}  // namespace

TEST(Detect, ExtensionText) {
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

TEST(Detect, DispatchByExtensionThenContent) {
    qtest::TempDir d("detect");
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

TEST(Detect, ContentSniffingSendsZipAndFb2ToTheirReaders) {
    qtest::TempDir d("detect");
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
