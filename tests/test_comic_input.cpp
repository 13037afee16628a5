// Comic archives under hostile and unusual input: bad archives and documents, the solid budget,
// choice by content, member names as bytes, natural order, and a hundred thousand pages.
#include <gtest/gtest.h>
#include <locale.h>

#include <algorithm>
#include <string>
#include <vector>

#include "book_builders.h"
#include "comic_builder.h"
#include "comic_hostile.h"
#include "formats/comic/comic_archive.h"
#include "formats/comic/comic_order.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "rar_builder.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

using qtest::ComicDesc;
using qtest::ComicKind;
using qtest::ComicMember;
using qtest::MetaProbe;

std::string info(const char *title) {
    return qtest::comic_info({{"Title", title}});
}

std::string rar(int version, bool solid, std::vector<qtest::RarEntry> entries) {
    qtest::RarDesc d;
    d.version = version;
    d.solid = solid;
    d.entries = std::move(entries);
    return qtest::build_rar(d);
}

qtest::RarEntry unsized(const char *name, const std::string &data) {
    qtest::RarEntry e{name, data};
    e.size_unknown = true;
    return e;
}

// Each bad input: the result, the error text or the values and a warning.
TEST(ComicInput, BadArchivesAndDocuments) {
    const std::string big_info = qtest::comic_info({{"Summary", std::string(4u << 20, 'x')}});
    const std::string past_budget(65u << 20, 'i');  // stored: its bytes are its size
    const std::string rar5 = rar(5, false, {{"ComicInfo.xml", info("T")}, {"p.jpg", "img"}});
    struct Case {
        const char *rule;
        std::string bytes;
        const char *name;
        const char *error;  // "" when a record is expected
        std::vector<std::pair<const char *, const char *>> want;
        const char *warning;
    };
    const std::vector<Case> cases = {
        {"ComicInfo.xml above 4 MiB",
         qtest::build_zip({qtest::zip_file("ComicInfo.xml", big_info)}),
         "a.cbz",
         "zip member too large: ComicInfo.xml",
         {},
         ""},
        {"the same in a RAR",
         rar(5, false, {{"ComicInfo.xml", big_info}}),
         "a.cbr",
         "zip member too large: ComicInfo.xml",
         {},
         ""},
        {"no archive at all",
         "just some text, long enough to be looked at",
         "a.cbz",
         "not a comic archive: a.cbz",
         {},
         ""},
        {"a .cbr that is a ZIP",
         qtest::build_zip({qtest::zip_file("ComicInfo.xml", info("Z"))}),
         "a.cbr",
         "",
         {{"/format", "cbz"}, {"/title", "Z"}},
         "extension .cbr but the content is a ZIP archive, read as cbz"},
        {"ComicInfo.xml not well-formed",
         qtest::build_zip({qtest::zip_file("ComicInfo.xml",
                                           "<ComicInfo><Title>Bro<ken</Title>"
                                           "<Series>S</Series>")}),
         "a.cbz",
         "",
         {{"/series/0/name", "S"}},
         "ComicInfo.xml: "},
        {"solid RAR 4: every member listed from its headers",
         rar(4, true, {{"ComicInfo.xml", info("T")}, {"p1.jpg", "1"}, {"p2.jpg", "22"}}),
         "a.cbr",
         "",
         {{"/title", "T"}, {"/pages", "2"}, {"/cover/from", "first-image"}, {"/cover/size", "1"}},
         ""},
        {"solid RAR 4: a document libarchive cannot reach",
         rar(4, true, {{"p1.jpg", "1"}, {"ComicInfo.xml", info("T")}}),
         "a.cbr",
         "",
         {{"/title", ""}, {"/pages", "1"}, {"/cover/size", "1"}},
         "ComicInfo.xml cannot be read"},
        {"solid archive: ComicInfo.xml past the budget",
         rar(5, true, {{"p1.jpg", past_budget}, {"ComicInfo.xml", info("late")}}),
         "a.cbr",
         "",
         {{"/title", ""}, {"/pages", "1"}, {"/cover/from", "first-image"}},
         "ComicInfo.xml not read: it lies past the 64 MiB a solid archive may decompress"},
        // libarchive 3.6 decompresses nothing of a member that states no
        // size: it refuses it at its header (were it to read one, what it
        // decompresses would be counted against the budget).
        {"solid archive: a member of unknown size before the document",
         rar(5, true, {unsized("p1.jpg", "1234"), {"ComicInfo.xml", info("late")}}),
         "a.cbr",
         "",
         {{"/title", ""}, {"/pages", "1"}},
         "ComicInfo.xml cannot be read"},
        {"not solid: the same is read",
         rar(5, false, {{"p1.jpg", past_budget}, {"ComicInfo.xml", info("late")}}),
         "a.cbr",
         "",
         {{"/title", "late"}},
         ""},
        {"a RAR 5 cut short",
         rar5.substr(0, rar5.size() - 20),
         "a.cbr",
         "",
         {{"/title", "T"}, {"/pages", "<null>"}},
         "archive listing stopped after 1 entries"},
        {"names that are not UTF-8",
         qtest::build_zip(
             {{"\xFF\xFE/ComicInfo.xml", info("T"), true, false, true}, {"p\x80.jpg", "1"}}),
         "a.cbz",
         "",
         {{"/pages", "1"}, {"/drm", "true"}},
         "\xEF\xBF\xBD\xEF\xBF\xBD/ComicInfo.xml is encrypted; not read"},
    };
    for (const Case &c : cases) {
        MetaProbe p = MetaProbe::from_memory(c.bytes, c.name);
        if (*c.error) {
            EXPECT_FALSE(p.ok()) << c.rule << p.json();
            EXPECT_EQ(p.error(), c.error) << c.rule;
            continue;
        }
        ASSERT_TRUE(p.ok()) << c.rule << ": " << p.error();
        EXPECT_EQ(p.schema_error(), "") << c.rule << p.json();
        for (const auto &[pointer, value] : c.want)
            EXPECT_EQ(p.at(pointer), value) << c.rule << " " << pointer << "\n" << p.json();
        if (*c.warning)
            EXPECT_NE(p.json().find(c.warning), std::string::npos) << c.rule << "\n" << p.json();
        else
            EXPECT_EQ(p.count("/warnings"), 0u) << c.rule << "\n" << p.json();
    }
}

// A 7z directory's counts are read before libarchive allocates for them:
// one declaring more members than the limit (or decoding past 64 MiB, or
// packed by a method not read here) is not listed at all.
TEST(ComicInput, SevenZipDirectoriesAreCountedFirst) {
    using qtest::SevenZipHeader;
    const std::string refused =
        "not a comic archive: a.cb7 (archive listing stopped after 0 entries: ";
    const struct {
        const char *what;
        std::size_t files;
        SevenZipHeader how;
        const char *error;  // after `refused`; "" when listed
    } cases[] = {
        {"2,000,000 files, LZMA", 2000000, SevenZipHeader::lzma,
         "the 7z directory declares 2000000 entries, more than 1000000)"},
        {"2,000,000 files, stored", 2000000, SevenZipHeader::plain,
         "the 7z directory declares 2000000 entries, more than 1000000)"},
        {"a directory declared to decode to 100 MiB", 3, SevenZipHeader::oversized,
         "7z directory decodes to more than 64 MiB)"},
        {"a directory packed by BZip2", 3, SevenZipHeader::bzip2,
         "7z directory compressed by a method not read here)"},
        {"three files, LZMA", 3, SevenZipHeader::lzma, ""},
        {"three files, stored", 3, SevenZipHeader::plain, ""},
    };
    for (const auto &c : cases) {
        MetaProbe p = MetaProbe::from_memory(qtest::sevenzip_empty_files(c.files, c.how), "a.cb7");
        if (*c.error) {
            EXPECT_EQ(p.error(), refused + c.error) << c.what;
            continue;
        }
        EXPECT_EQ(p.at("/format"), "cb7") << c.what << p.error();
        EXPECT_EQ(p.at("/pages"), "0") << c.what << p.json();
    }
}

// The cover by each rule, and what happens when a rule names no image.
TEST(ComicInput, CoverChoice) {
    struct Case {
        const char *rule;
        std::string pages_xml;
        std::vector<ComicMember> images;
        std::vector<std::pair<const char *, const char *>> want;
    };
    const std::vector<Case> cases = {
        {"FrontCover among other page types",
         "<Pages><Page Image=\"2\" Type=\"InnerCover FrontCover\"/></Pages>",
         {{"c10.jpg", "10"}, {"c9.jpg", "9"}, {"C1.jpg", "1"}},
         {{"/cover/from", "front-cover"}, {"/cover/size", "2"}, {"/cover/mime", "image/jpeg"}}},
        {"FrontCover past the last image falls back with a warning",
         "<Pages><Page Image=\"5\" Type=\"FrontCover\"/></Pages>",
         {{"a.webp", "1"}},
         {{"/cover/from", "first-image"},
          {"/cover/mime", "image/webp"},
          {"/warnings/0", "FrontCover page 5 is not among the 1 images"}}},
        {"FrontCover without an index falls back",
         "<Pages><Page Type=\"FrontCover\"/></Pages>",
         {{"a.gif", "1"}},
         {{"/cover/from", "first-image"},
          {"/warnings/0", "ComicInfo.xml: FrontCover page without an image index"}}},
        {"no images: no cover, no pages", "", {}, {{"/cover", "<null>"}, {"/pages", "0"}}},
    };
    for (const Case &c : cases) {
        ComicDesc d;
        d.members = c.images;
        d.members.insert(d.members.begin(), {"ComicInfo.xml", qtest::comic_info({}, c.pages_xml)});
        MetaProbe p = MetaProbe::from_memory(qtest::build_comic(ComicKind::Zip, d), "a.cbz");
        for (const auto &[pointer, value] : c.want)
            EXPECT_EQ(p.at(pointer), value) << c.rule << " " << pointer << "\n" << p.json();
    }
}

// Under a name that chooses no reader the content decides: an archive is a
// comic when it holds a ComicInfo.xml; a ZIP with an EPUB container stays an EPUB.
TEST(ComicInput, ChoiceByContent) {
    struct Case {
        ComicKind kind;
        bool with_info;
        const char *name;
        const char *format;  // "" when no record
    };
    const std::vector<Case> cases = {
        {ComicKind::Zip, true, "-", "cbz"},  {ComicKind::Rar4, true, "upload.bin", "cbr"},
        {ComicKind::Rar5, true, "-", "cbr"}, {ComicKind::SevenZip, true, "-", "cb7"},
        {ComicKind::Tar, true, "-", "cbt"},  {ComicKind::Rar5, false, "-", ""},
        {ComicKind::Tar, false, "-", ""},    {ComicKind::Zip, true, "comic.zip", ""},
    };
    for (const Case &c : cases) {
        if (c.kind == ComicKind::SevenZip && !qtest::have_7z()) continue;
        const std::string why = std::string(qtest::comic_kind_name(c.kind)) + " " + c.name;
        ComicDesc d;
        if (c.with_info) d.members.push_back({"ComicInfo.xml", info("By content")});
        d.members.push_back({"p1.png", qtest::tiny_png()});
        const std::string bytes = qtest::build_comic(c.kind, d);
        MetaProbe p = MetaProbe::from_memory(bytes, std::string(c.name) == "-" ? nullptr : c.name);
        EXPECT_EQ(p.at("/format"), *c.format ? c.format : "<missing>") << why << p.error();
        if (!*c.format) {
            EXPECT_NE(p.error().find("unsupported ebook format"), std::string::npos) << why;
        }
        // The cover by content too, from a file without an extension.
        qtest::TempDir dir("comic");
        const std::string book = dir.put("book", bytes), out = dir.path + "/cover";
        const int rc = ebook_extract_cover(book.c_str(), out.c_str());
        EXPECT_EQ(rc, c.with_info ? 0 : -1) << why << ": " << ebook_last_error();
        if (rc == 0) {
            EXPECT_EQ(qtest::read_file(out), qtest::tiny_png()) << why;
        }
    }
    // A ZIP with an EPUB container and a ComicInfo.xml is an EPUB.
    qtest::EpubDesc e;
    e.members = {qtest::zip_file("ComicInfo.xml", info("not me"))};
    EXPECT_EQ(MetaProbe::from_memory(qtest::build_epub(e), nullptr).at("/format"), "epub");
}

// Names are bytes: libarchive's UTF-16 names (7z, RAR 4's compact form)
// come out as UTF-8 whatever the host's locale, and the locale is left alone.
TEST(ComicInput, MemberNamesDecodeUnderAnyLocale) {
    const std::vector<std::string> names = {"漫画/ページ1.png", "Ünïcødé.jpg", "plain.gif"};
    const locale_t before = uselocale(static_cast<locale_t>(nullptr));
    for (ComicKind k : {ComicKind::Rar4, ComicKind::Rar5, ComicKind::SevenZip, ComicKind::Tar}) {
        if (k == ComicKind::SevenZip && !qtest::have_7z()) continue;
        ComicDesc d;
        for (const std::string &n : names)
            d.members.push_back({n, "x"});
        const std::string bytes = qtest::build_comic(k, d);
        const eb_source src(bytes.data(), bytes.size());
        const eb_comic_archive ar(src, eb_comic_sniff_source(src));
        std::vector<std::string> got;
        for (const eb_comic_member &m : ar.members())
            got.emplace_back(m.name);
        std::vector<std::string> want = names;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << qtest::comic_kind_name(k);
        EXPECT_TRUE(ar.complete());
    }
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), before);
}

TEST(ComicInput, NaturalOrderAndPages) {
    // Each pair in order, and never the other way round.
    const std::vector<std::pair<const char *, const char *>> ordered = {
        {"page2.jpg", "page10.jpg"},
        {"Page1.jpg", "page2.jpg"},
        {"p007.jpg", "p8.jpg"},
        {"p007.jpg", "p7.jpg"},
        {"a/1.jpg", "a b/1.jpg"},
        {"a\\1.jpg", "a-1.jpg"},
        {"x.jpg", "x1.jpg"},
        {"ch9/p2.jpg", "ch10/p1.jpg"},
        {"n99999999999999999999998", "n99999999999999999999999"},
        {"ABC", "abd"},
    };
    for (const auto &[a, b] : ordered) {
        EXPECT_LT(eb_comic_natural_cmp(a, b), 0) << a << " < " << b;
        EXPECT_GT(eb_comic_natural_cmp(b, a), 0) << b << " > " << a;
    }
    EXPECT_EQ(eb_comic_natural_cmp("same.png", "same.png"), 0);
    const std::vector<std::pair<const char *, bool>> pages = {
        {"a.jpg", true},
        {"b.JPEG", true},
        {"c.jpe", true},
        {"d.Png", true},
        {"e.webp", true},
        {"f.avif", true},
        {"g.jxl", true},
        {"h.TIFF", true},
        {"i.tif", true},
        {"j.bmp", true},
        {"k.gif", true},
        {"./dir/l.jpg", true},
        {"m.txt", false},
        {".hidden.jpg", false},
        {"dir/._n.jpg", false},
        {"__MACOSX/o.jpg", false},
        {"a/__macosx/p.jpg", false},
        {"jpg", false},
        {"q.jpg/", false},
        {"r.xml", false},
    };
    for (const auto &[name, is_page] : pages)
        EXPECT_EQ(eb_comic_is_image(name), is_page) << name;
}

// A hundred thousand pages in reverse natural order: all counted, the cover
// is the first in natural order.
TEST(ComicInput, HundredThousandPages) {
    constexpr int kPages = 100000;
    std::vector<qtest::ZipEntry> entries;
    entries.reserve(kPages + 1);
    entries.push_back(qtest::zip_file("ComicInfo.xml", info("Many")));
    for (int i = kPages; i >= 1; --i)
        entries.push_back(qtest::zip_file("p" + std::to_string(i) + ".jpg", "", false));
    entries.back().data = "first";
    MetaProbe p = MetaProbe::from_memory(qtest::build_zip(entries), "many.cbz");
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(p.at("/pages"), "100000");
    EXPECT_EQ(p.at("/cover/size"), "5");
}

}  // namespace
