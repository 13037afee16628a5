// Which reader the full record uses: extensions (fb2.zip, fbz, prc, pdb, and
// .zip refused), content, the exports' argument checks and ZIP member limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "book_builders.h"
#include "fb2_builder.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::MetaProbe;

std::string fb2_book() {
    qtest::Fb2Desc desc;
    desc.title = "Zipped Tale";
    return qtest::build_fb2(desc);
}

std::string mobi_book() {
    qtest::MobiDesc desc;
    desc.full_name = "Deep Water";
    return qtest::build_mobi(desc);
}

TEST(FullDispatch, ReaderByNameThenContent) {
    const std::string fb2 = fb2_book();
    const std::string fb2_zip = qtest::build_zip({qtest::zip_file("tale.fb2", fb2)});
    const std::string bare_zip = qtest::build_zip({qtest::zip_file("inside", fb2)});
    qtest::EpubDesc epub_spec;
    const std::string epub = qtest::build_epub(epub_spec);
    const std::string mobi = mobi_book();
    // A PalmDOC header (uncompressed text) and one text record.
    std::string doc_header(16, '\0');
    qtest::put_u16(doc_header, 0, 1);
    const std::string palmdoc = qtest::build_palmdb("Old_Text", {doc_header, "hello"}, "TEXtREAd");
    struct Case {
        const char *what;
        const std::string &bytes;
        const char *name;
        const char *format, *container, *title;
    };
    const std::vector<Case> cases = {
        {"fb2.zip", fb2_zip, "Tale.FB2.ZIP", "fb2", "fb2.zip", "Zipped Tale"},
        {"fbz", fb2_zip, "tale.fbz", "fb2", "fb2.zip", "Zipped Tale"},
        {"fbz with one member of another name", bare_zip, "tale.fbz", "fb2", "fb2.zip",
         "Zipped Tale"},
        {"zipped fb2 by content", fb2_zip, nullptr, "fb2", "fb2.zip", "Zipped Tale"},
        {"epub by content", epub, "book.bin", "epub", "<null>", "Sample Book"},
        {"fb2 by content", fb2, nullptr, "fb2", "<null>", "Zipped Tale"},
        {"mobi by content", mobi, "", "mobi", "<null>", "Deep Water"},
        {"prc", mobi, "old.prc", "mobi", "<null>", "Deep Water"},
        {"pdb", mobi, "old.PDB", "mobi", "<null>", "Deep Water"},
        {"palmdoc by content", palmdoc, nullptr, "palmdoc", "<null>", "Old_Text"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        MetaProbe p = MetaProbe::from_memory(c.bytes, c.name);
        ASSERT_TRUE(p.ok()) << p.error();
        EXPECT_EQ(p.schema_error(), "") << p.json();
        EXPECT_EQ(p.at("/format"), c.format);
        EXPECT_EQ(p.at("/container"), c.container);
        EXPECT_EQ(p.at("/title"), c.title);
    }
}

TEST(FullDispatch, NoBookFailsWithAReason) {
    const std::string fb2 = fb2_book();
    const std::string fb2_zip = qtest::build_zip({qtest::zip_file("tale.fb2", fb2)});
    const std::string two =
        qtest::build_zip({qtest::zip_file("a.fb2", fb2), qtest::zip_file("b.fb2", fb2)});
    struct Case {
        std::string bytes;
        const char *name, *error;
    };
    const Case cases[] = {
        // An archive of books is no book, even when it holds one FB2.
        {fb2_zip, "books.zip", "unsupported ebook format: books.zip"},
        {two, "two.fb2.zip", "no single FB2 document in ZIP: two.fb2.zip"},
        {"just text, nothing more", nullptr, "unsupported ebook format: (memory)"},
        {"PK", "x.bin", "unsupported ebook format: x.bin"},
    };
    for (const Case &c : cases) {
        MetaProbe p = MetaProbe::from_memory(c.bytes, c.name);
        EXPECT_FALSE(p.ok()) << p.json();
        EXPECT_EQ(p.error(), c.error);
    }
}

// Address books, calendars and other Palm databases are no books, whatever
// their name says: neither layer describes one, and no cover is taken.
TEST(FullDispatch, PalmDatabasesOfOtherKindsAreNoBooks) {
    const std::string book = mobi_book();
    const std::string contacts = std::string(book).replace(60, 8, "DATAaddr");
    const qtest::TempDir dir("palm-kinds");
    for (const char *name : {"Contacts.pdb", "c.PRC", "c.mobi", "c.azw", "c.azw3", "c.bin"}) {
        const std::string path = dir.put(name, contacts),
                          want = "unsupported ebook format: " + path;
        EXPECT_EQ(MetaProbe::from_file(path).error(), want);
        EXPECT_EQ(ebook_info(path.c_str()), nullptr);
        EXPECT_EQ(ebook_last_error(), want);
        EXPECT_EQ(ebook_extract_cover(path.c_str(), (dir.path + "/cover").c_str()), -1);
    }
    // The same bytes as a book, and a file too short for a database header,
    // go to the reader.
    EXPECT_TRUE(MetaProbe::from_file(dir.put("book.pdb", book)).ok());
    EXPECT_EQ(MetaProbe::from_file(dir.put("t.mobi", contacts.substr(0, 77))).error(),
              "MOBI too short for PalmDB header");
}

TEST(FullDispatch, ZippedFb2AboveTheMemberCapIsRefused) {
    const qtest::TempDir dir_tmp("full-cap");
    const std::string &dir = dir_tmp.path;
    const std::string path = dir + "/big.fb2.zip";
    qtest::write_zero_zip(path, "big.fb2", 16u * 1024 * 1024 + 1);
    MetaProbe p = MetaProbe::from_file(path);
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.error(), "zip member too large: big.fb2");
}

TEST(FullDispatch, ArgumentsAndFiles) {
    EXPECT_EQ(ebook_metadata(nullptr), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL path");
    EXPECT_EQ(ebook_metadata_from_memory(nullptr, 3, "x.epub"), nullptr);
    EXPECT_STREQ(ebook_last_error(), "NULL data");

    const qtest::TempDir dir_tmp("full-files");

    const std::string &dir = dir_tmp.path;
    MetaProbe missing = MetaProbe::from_file(dir + "/nope.epub");
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().rfind("cannot open file: " + dir + "/nope.epub (", 0), 0u);

    qtest::write_file(dir + "/book.fbz", qtest::build_zip({qtest::zip_file("t.fb2", fb2_book())}));
    MetaProbe ok = MetaProbe::from_file(dir + "/book.fbz");
    ASSERT_TRUE(ok.ok()) << ok.error();
    EXPECT_EQ(ok.at("/container"), "fb2.zip");
    EXPECT_EQ(ok.error(), "");  // a success leaves the error text empty
}

}  // namespace
