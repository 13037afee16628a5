// test_detect.cpp - reader choice: extension text, dispatch by extension, then by content.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "book_builders.h"
#include "book_info.h"
#include "formats/detect.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::info;

std::string mobi_book(const std::string &title) {
    qtest::MobiDesc s;
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

// Sets a locale for one test and puts the previous one back.
class ScopedLocale {
  public:
    explicit ScopedLocale(const char *name) {
        const char *old = std::setlocale(LC_ALL, nullptr);
        old_ = old ? old : "C";
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    bool ok() const { return ok_; }

  private:
    std::string old_;
    bool ok_ = false;
};

TEST(Detect, TurkishLocaleChangesNoLetterCase) {
    // In Turkish, 'I' folds to a dotless i: "MOBI" would no longer read as
    // "mobi" if the library asked the locale.
    ScopedLocale tr("tr_TR.UTF-8");
    if (!tr.ok())
        GTEST_SKIP() << "locale tr_TR.UTF-8 is not installed (scripts/install-deps makes it)";
    qtest::TempDir d("detect-locale");
    char ext[32];
    EXPECT_STREQ(eb_ext_lower("BOOK.MOBI", ext, sizeof ext), "mobi");
    EXPECT_STREQ(eb_ext_lower("X.EPUB", ext, sizeof ext), "epub");

    // Named BOOK.MOBI with a broken record list: only the extension can
    // choose the reader.
    std::string fake = d.put("BOOK.MOBI", std::string(100, 'x').replace(60, 8, "BOOKMOBI"));
    EXPECT_EQ(info(fake), "ERR:MOBI record list truncated");
    std::string book = d.put("BOOK.MOBI", mobi_book("Istanbul"));
    EXPECT_EQ(info(book).rfind(R"({"drm":false,"format":"mobi","title":"Istanbul")", 0), 0u)
        << info(book);

    // Member names differ from the ones sought in ASCII case only.
    qtest::EpubDesc s;
    s.rootfile = "OEBPS/CONTENT.OPF";
    s.title = "Izmir";
    s.cover = qtest::tiny_jpeg();
    s.cover_href = "IMAGES/COVER.JPG";
    std::string container = qtest::build_container_xml(s);
    qtest::EpubDesc renamed;  // the same book with an upper-case container name
    renamed.container = container;
    renamed.rootfile = "oebps/content.opf";  // the package is found ignoring case
    renamed.opf = qtest::build_opf(s);
    renamed.omit = {"META-INF/container.xml"};
    renamed.members = {qtest::zip_file("META-INF/CONTAINER.XML", container),
                       qtest::zip_file("oebps/images/cover.jpg", qtest::tiny_jpeg())};
    std::string path = d.put("BOOK.EPUB", qtest::build_epub(renamed));
    EXPECT_EQ(info(path).rfind(R"({"drm":false,"format":"epub","title":"Izmir")", 0), 0u)
        << info(path);
    std::string out = d.path + "/cover.jpg";
    EXPECT_EQ(ebook_extract_cover(path.c_str(), out.c_str()), 0) << ebook_last_error();
}
