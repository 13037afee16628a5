// The full record and the cover of comic archives: one comic in every archive kind, then one
// table per rule (mapping, precedence, where ComicInfo.xml lies, order, cover, protection, bad
// input, choice by content).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "book_builders.h"
#include "comic_builder.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

using qtest::ComicDesc;
using qtest::ComicKind;
using qtest::ComicMember;
using qtest::MetaProbe;

const std::vector<ComicKind> kKinds = {ComicKind::Zip, ComicKind::Rar4, ComicKind::Rar5,
                                       ComicKind::SevenZip, ComicKind::Tar};

// A distinct small image per page.
std::string page(int n) {
    return qtest::tiny_png() + "page " + std::to_string(n);
}

std::string file_name(ComicKind k) {
    return std::string("book.") + qtest::comic_ext(k);
}

// A ZIP comic's full record, schema-checked.
MetaProbe probe(ComicKind k, const ComicDesc &d) {
    MetaProbe p = MetaProbe::from_memory(qtest::build_comic(k, d), file_name(k).c_str());
    EXPECT_EQ(p.schema_error(), "") << p.json();
    return p;
}

struct Expect {
    const char *pointer;
    std::string value;
};

void expect_all(const MetaProbe &p, const std::vector<Expect> &want, const std::string &why) {
    ASSERT_TRUE(p.ok()) << why << ": " << p.error();
    for (const Expect &e : want)
        EXPECT_EQ(p.at(e.pointer), e.value) << why << " " << e.pointer << "\n" << p.json();
}

bool skip_kind(ComicKind k) {
    return k == ComicKind::SevenZip && !qtest::have_7z();
}

// The cover a file gives ebook_extract_cover, or the error text.
std::string extract(const std::string &book, bool *ok) {
    qtest::TempDir out("comic-cover");
    const std::string dest = out.path + "/cover";
    *ok = ebook_extract_cover(book.c_str(), dest.c_str()) == 0;
    return *ok ? qtest::read_file(dest) : ebook_last_error();
}

const std::string kFullInfo = qtest::comic_info(
    {{"Title", "The Long Night"},
     {"Series", "Harbour Watch"},
     {"Number", "7"},
     {"Writer", "Ann Lee, Tom Bell"},
     {"Colorist", "Kay Rowe"},
     {"LanguageISO", "en"}},
    "  <Pages><Page Image=\"0\" Type=\"Story\"/><Page Image=\"1\" Type=\"FrontCover\"/></Pages>\n");

// Pages in an order that neither archive nor byte order gets right, plus
// members that are no pages.
ComicDesc ordinary_comic() {
    ComicDesc d;
    d.members = {{"ComicInfo.xml", kFullInfo},   {"page10.png", page(10)}, {"page2.png", page(2)},
                 {"notes.txt", "not a page"},    {"page1.png", page(1)},   {"Page03.png", page(3)},
                 {"__MACOSX/._page1.png", "AD"}, {".hidden.png", "x"}};
    return d;
}

TEST(Comic, OneComicInEveryArchiveKind) {
    for (ComicKind k : kKinds) {
        if (skip_kind(k)) continue;
        const std::string why = qtest::comic_kind_name(k);
        const std::string bytes = qtest::build_comic(k, ordinary_comic());
        qtest::TempDir dir("comic");
        const std::string path = dir.put(file_name(k), bytes);
        // In memory and from a file (read in ranges): the same record.
        for (const MetaProbe &p :
             {MetaProbe::from_memory(bytes, file_name(k).c_str()), MetaProbe::from_file(path)}) {
            EXPECT_EQ(p.schema_error(), "") << p.json();
            expect_all(p,
                       {{"/format", qtest::comic_ext(k)},
                        {"/title", "The Long Night"},
                        {"/series/0/name", "Harbour Watch"},
                        {"/series/0/index", "7"},
                        {"/authors/1/name", "Tom Bell"},
                        {"/contributors/0/role", "clr"},
                        {"/language", "en"},
                        {"/pages", "4"},
                        {"/cover/from", "front-cover"},
                        {"/cover/mime", "image/png"},
                        {"/cover/size", std::to_string(page(2).size())},
                        {"/drm", "false"}},
                       why);
            EXPECT_EQ(p.count("/warnings"), 0u) << why << p.json();
        }
        // The FrontCover page is the second in reading order: page2.png.
        bool ok = false;
        EXPECT_EQ(extract(path, &ok), page(2)) << why;
        // The contract's short object does not learn comics.
        EXPECT_EQ(ebook_info(path.c_str()), nullptr) << why;
    }
}

struct Row {
    const char *rule;
    std::vector<std::pair<std::string, std::string>> info;  // ComicInfo elements
    std::vector<Expect> want;
};

TEST(Comic, ComicInfoMapping) {
    const std::vector<Row> rows = {
        {"Number before Volume; alternate series; story arc",
         {{"Series", "A"},
          {"Number", "2"},
          {"Volume", "3"},
          {"AlternateSeries", "B"},
          {"AlternateNumber", "5"},
          {"StoryArc", "C"}},
         {{"/series/0/index", "2"},
          {"/series/1/name", "B"},
          {"/series/1/index", "5"},
          {"/series/2/name", "C"},
          {"/series/2/index", ""}}},
        {"Volume when there is no Number; -1 is unset",
         {{"Series", "A"}, {"Volume", "3"}, {"AlternateSeries", "B"}, {"AlternateNumber", "-1"}},
         {{"/series/0/index", "3"}, {"/series/1/index", "-1"}}},
        {"Volume -1 gives no index",
         {{"Series", "A"}, {"Volume", "-1"}},
         {{"/series/0/index", ""}}},
        {"full date zero-padded",
         {{"Year", "987"}, {"Month", "5"}, {"Day", "2"}},
         {{"/published", "0987-05-02"}}},
        {"year and month",
         {{"Year", "2013"}, {"Month", "11"}, {"Day", "-1"}},
         {{"/published", "2013-11"}}},
        {"a month out of range stops at the year",
         {{"Year", "2013"}, {"Month", "13"}, {"Day", "4"}},
         {{"/published", "2013"}}},
        {"no year, no date", {{"Year", "-1"}, {"Month", "4"}}, {{"/published", ""}}},
        {"Imprint stands in for Publisher", {{"Imprint", "Vertigo"}}, {{"/publisher", "Vertigo"}}},
        {"Publisher before Imprint",
         {{"Publisher", "DC"}, {"Imprint", "Vertigo"}},
         {{"/publisher", "DC"}}},
        {"Genre and Tags split, trimmed, without repeats",
         {{"Genre", " Action ,Drama,,"}, {"Tags", "drama, Action, Noir"}},
         {{"/subjects/0", "Action"},
          {"/subjects/1", "Drama"},
          {"/subjects/2", "drama"},
          {"/subjects/3", "Noir"},
          {"/subjects/4", "<missing>"}}},
        {"every credit, with relator codes where one fits",
         {{"Writer", "W1,W2"},
          {"Penciller", "P"},
          {"Inker", "I"},
          {"Colorist", "C"},
          {"Letterer", "L"},
          {"CoverArtist", "V"},
          {"Editor", "E"},
          {"Translator", "T"}},
         {{"/authors/1/name", "W2"},
          {"/contributors/0/role", "penciller"},
          {"/contributors/1/role", "inker"},
          {"/contributors/2/role", "clr"},
          {"/contributors/3/role", "letterer"},
          {"/contributors/4/role", "cov"},
          {"/contributors/5/role", "edt"},
          {"/contributors/6/role", "trl"}}},
        {"a name twice in one credit counts once",
         {{"Writer", "Ann, Ann , Bo"}},
         {{"/authors/1/name", "Bo"}, {"/authors/2/name", "<missing>"}}},
        {"GTIN that is an ISBN; Web with two URLs",
         {{"GTIN", "978-0-306-40615-7"}, {"Web", "https://a.example/1 https://b.example/2"}},
         {{"/isbn", "9780306406157"},
          {"/identifiers/1/scheme", "url"},
          {"/identifiers/2/value", "https://b.example/2"}}},
        {"GTIN that is no ISBN",
         {{"GTIN", "0012345678905"}},
         {{"/identifiers/0/scheme", "gtin"}, {"/isbn", "<null>"}}},
        {"PageCount above 0 wins over the image count",
         {{"PageCount", "24"}},
         {{"/pages", "24"},
          {"/warnings/0", "PageCount 24 differs from the 1 images in the archive"}}},
        {"PageCount 0 is unset", {{"PageCount", "0"}}, {{"/pages", "1"}}},
        {"element names in another letter case; markup in Summary",
         {{"title", "Lower"}, {"SUMMARY", "&lt;p&gt;One &amp;amp; two&lt;/p&gt;"}},
         {{"/title", "Lower"}, {"/description", "One & two"}}},
        {"the first of a repeated element wins",
         {{"Title", "First"}, {"Title", "Second"}},
         {{"/title", "First"}}},
    };
    for (const Row &r : rows) {
        ComicDesc d;
        d.members = {{"ComicInfo.xml", qtest::comic_info(r.info)}, {"p1.jpg", qtest::tiny_jpeg()}};
        expect_all(probe(ComicKind::Zip, d), r.want, r.rule);
    }
}

// ComicInfo.xml first; ComicBookInfo (the ZIP comment) then CoMet fill only
// what those before them left empty.
TEST(Comic, SourcesFillWhatTheOnesBeforeLeftEmpty) {
    const std::string cbi =
        R"({"appID":"Tagger/1","ComicBookInfo/1.0":{"title":"CBI title","series":"CBI series",)"
        R"("issue":12,"publicationYear":1999,"publicationMonth":3,"genre":"Crime, Noir",)"
        R"("tags":["one, two"],"credits":[{"person":"Lee, Stan","role":"Writer"},)"
        R"({"person":"Kirby, Jack","role":"Artist"}]}})";
    const std::string comet =
        "<comet xmlns=\"http://www.denvog.com/comet/\"><title>CoMet title</title>"
        "<description>CoMet text</description><rights>CC BY</rights><pages>9</pages>"
        "<writer>C Writer</writer><genre>X</genre><coverImage>b.jpg</coverImage></comet>";
    struct Case {
        const char *rule;
        bool info, with_cbi, with_comet;
        std::vector<Expect> want;
    };
    const std::vector<Case> cases = {
        {"all three",
         true,
         true,
         true,
         {{"/title", "Info title"},
          {"/series/0/name", "CBI series"},
          {"/series/0/index", "12"},
          {"/published", "1999-03"},
          {"/authors/0/name", "Lee, Stan"},
          {"/contributors/0/role", "artist"},
          {"/subjects/0", "Crime"},
          {"/subjects/2", "one, two"},
          {"/description", "CoMet text"},
          {"/rights", "CC BY"},
          {"/pages", "9"},
          {"/cover/from", "comet-cover-image"}}},
        {"ComicBookInfo alone",
         false,
         true,
         false,
         {{"/title", "CBI title"}, {"/pages", "2"}, {"/cover/from", "first-image"}}},
        {"CoMet alone",
         false,
         false,
         true,
         {{"/title", "CoMet title"}, {"/authors/0/name", "C Writer"}, {"/subjects/0", "X"}}},
        {"a comment that is no JSON is no metadata",
         true,
         false,
         false,
         {{"/series/0", "<missing>"}}},
    };
    for (const Case &c : cases) {
        ComicDesc d;
        if (c.info)
            d.members.push_back({"ComicInfo.xml", qtest::comic_info({{"Title", "Info title"}})});
        if (c.with_comet) d.members.push_back({"comet.xml", comet});
        d.members.push_back({"a.jpg", qtest::tiny_jpeg()});
        d.members.push_back({"b.jpg", qtest::tiny_jpeg() + "b"});
        d.comment = c.with_cbi ? cbi : "Scanned by nobody";
        expect_all(probe(ComicKind::Zip, d), c.want, c.rule);
    }
}

// Which ComicInfo.xml is read: the root one, else the first one folder down.
TEST(Comic, WhereComicInfoLies) {
    auto info = [](const char *title) { return qtest::comic_info({{"Title", title}}); };
    struct Case {
        const char *rule;
        std::vector<ComicMember> members;
        const char *title;
    };
    const std::vector<Case> cases = {
        {"root wins over an earlier folder one",
         {{"A/ComicInfo.xml", info("folder")}, {"ComicInfo.xml", info("root")}},
         "root"},
        {"the first folder one in archive order",
         {{"B/ComicInfo.xml", info("B")}, {"A/ComicInfo.xml", info("A")}},
         "B"},
        {"deeper ones are not read", {{"A/B/ComicInfo.xml", info("deep")}}, ""},
        {"look-alikes are not read",
         {{"._ComicInfo.xml", info("apple")},
          {"ComicInfo.xml.bak", info("bak")},
          {"__MACOSX/ComicInfo.xml", info("mac")}},
         ""},
        {"any letter case; a leading ./ is the root",
         {{"./COMICINFO.XML", info("upper")}},
         "upper"},
        {"a backslash separates folders", {{"A\\ComicInfo.xml", info("dos")}}, "dos"},
    };
    for (const Case &c : cases) {
        ComicDesc d;
        d.members = c.members;
        d.members.push_back({"p.jpg", qtest::tiny_jpeg()});
        expect_all(probe(ComicKind::Zip, d), {{"/title", c.title}}, c.rule);
    }
}

// Password-protected members and archives: described, never decrypted.
TEST(Comic, ProtectedArchives) {
    struct Case {
        ComicKind kind;
        const char *rule;
        bool page_encrypted, info_encrypted, headers;
        std::vector<Expect> want;
    };
    const std::vector<Case> cases = {
        {ComicKind::Zip, "a page", true, false, false, {{"/title", "T"}, {"/pages", "2"}}},
        {ComicKind::Zip,
         "ComicInfo.xml",
         false,
         true,
         false,
         {{"/title", ""}, {"/warnings/0", "ComicInfo.xml is encrypted; not read"}}},
        {ComicKind::Rar4, "a page", true, false, false, {{"/title", "T"}, {"/pages", "2"}}},
        {ComicKind::Rar5, "a page", true, false, false, {{"/title", "T"}, {"/pages", "2"}}},
        {ComicKind::Rar5, "ComicInfo.xml", false, true, false, {{"/title", ""}}},
        {ComicKind::SevenZip, "a page", true, false, false, {{"/title", "T"}, {"/pages", "2"}}},
        {ComicKind::Rar4,
         "the headers",
         false,
         false,
         true,
         {{"/pages", "<null>"}, {"/cover", "<null>"}}},
        {ComicKind::Rar5, "the headers", false, false, true, {{"/pages", "<null>"}}},
        {ComicKind::SevenZip,
         "the headers",
         true,
         true,
         true,
         {{"/pages", "<null>"},
          {"/warnings/0", "archive headers are encrypted: member names need a password"}}},
    };
    for (const Case &c : cases) {
        if (skip_kind(c.kind)) continue;
        const std::string why = std::string(qtest::comic_kind_name(c.kind)) + ": " + c.rule;
        ComicDesc d;
        d.header_encrypted = c.headers;
        d.members = {{"ComicInfo.xml", qtest::comic_info({{"Title", "T"}}), c.info_encrypted},
                     {"p1.jpg", qtest::tiny_jpeg(), c.page_encrypted},
                     {"p2.jpg", qtest::tiny_jpeg() + "2"}};
        std::vector<Expect> want = c.want;
        want.push_back({"/drm", "true"});
        want.push_back({"/drm_scheme", "archive-password"});
        const std::string bytes = qtest::build_comic(c.kind, d);
        MetaProbe p = MetaProbe::from_memory(bytes, file_name(c.kind).c_str());
        EXPECT_EQ(p.schema_error(), "") << p.json();
        expect_all(p, want, why);
        // The cover (p1.jpg) is never decrypted either.
        qtest::TempDir dir("comic");
        bool ok = true;
        const std::string err = extract(dir.put(file_name(c.kind), bytes), &ok);
        if (c.page_encrypted || c.headers) {
            EXPECT_FALSE(ok) << why;
            EXPECT_NE(err.find("; will not decrypt"), std::string::npos) << why << ": " << err;
        }
    }
}

}  // namespace
