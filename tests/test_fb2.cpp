// test_fb2.cpp - the FictionBook 2 reader, directly and through ebook_info.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "book_builders.h"
#include "temp_dir.h"
#include "error.h"
#include "fb2_builder.h"
#include "formats/detect.h"
#include "formats/readers.h"
#include "heap.h"
#include "hostile_books.h"
#include "quenfold_ebook.h"
#include "record.h"

using namespace std::literals;

namespace {

struct Fb2Book {
    eb_meta m;
    Fb2Book() { eb_meta_init(&m); }
    ~Fb2Book() { eb_meta_free(&m); }
};

std::string str(const char *s) {
    return s ? s : "<null>";
}

// Runs the reader over doc laid out as a loaded file: the bytes and one NUL,
// at the very end of an exactly-sized block.
int parse(const std::string &doc, Fb2Book &out, int want_cover = 0) {
    std::unique_ptr<char[]> block(new char[doc.size() + 1]);
    std::memcpy(block.get(), doc.c_str(), doc.size() + 1);
    return eb_parse_fb2(block.get(), doc.size(), &out.m, want_cover);
}

// What the reader filled: title|author|language|series|series_index|has_cover,
// with "-" for an absent text.
std::string summary(const eb_meta &m) {
    auto f = [](const char *s) { return std::string(s ? s : "-") + "|"; };
    return f(m.title) + f(m.author) + f(m.language) + f(m.series) + f(m.series_index) +
           std::to_string(m.has_cover);
}

TEST(Fb2, SectionRules) {
    const std::string outside =
        "<publish-info><book-title>Out</book-title><lang>de</lang>"
        "<author><first-name>Out</first-name></author>"
        "<coverpage><image l:href=\"#c\"/></coverpage>"
        "<sequence name=\"Elsewhere\" number=\"9\"/></publish-info>";
    qtest::Fb2Desc full;
    full.series = "Saga";
    full.series_number = "3";
    full.cover_href = "#c";
    qtest::Fb2Desc none = full;  // no section: only the series, from anywhere
    none.section = "";
    none.extra_description = outside;
    qtest::Fb2Desc caps = none;  // capitalised: its author, the series from anywhere
    caps.section = "Title-info";
    caps.series = caps.series_number = "";
    qtest::Fb2Desc caps_bare = caps;  // ... and it ends at its own end tag
    caps_bare.authors.clear();
    qtest::Fb2Desc bare = caps_bare;  // nothing is taken from outside a section
    bare.section = "title-info";
    bare.title = bare.lang = bare.cover_href = "";
    qtest::Fb2Desc unclosed = full;  // runs to the end, but names no cover
    unclosed.close_section = false;
    const struct {
        const char *what;
        const qtest::Fb2Desc &desc;
        const char *want;
    } cases[] = {
        {"full", full, "Sample FB2 Book|Jane Doe|en|Saga|3|1"},
        {"none", none, "-|-|-|Elsewhere|9|0"},
        {"caps", caps, "-|Jane Doe|-|Elsewhere|9|0"},
        {"caps_bare", caps_bare, "-|-|-|Elsewhere|9|0"},
        {"bare", bare, "-|-|-|-|-|0"},
        {"unclosed", unclosed, "Sample FB2 Book|Jane Doe|en|Saga|3|0"},
    };
    for (const auto &c : cases) {
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(c.desc), r), 0) << c.what;
        EXPECT_EQ(summary(r.m), c.want) << c.what;
        EXPECT_EQ(str(r.m.format), "fb2");
        EXPECT_EQ(r.m.drm, 0);
        EXPECT_EQ(r.m.asin, nullptr);
        EXPECT_EQ(r.m.cover_data, nullptr);
        EXPECT_STREQ(r.m.cover_mime, "");
    }
}

TEST(Fb2, AuthorAssembly) {
    struct Case {
        std::vector<qtest::Fb2Author> authors;
        const char *name;
    } cases[] = {
        {{{"Jane", "", "Doe", ""}}, "Jane Doe"},
        {{{"Ann", "B.", "Cole", "ac"}}, "Ann B. Cole"},
        {{{"", "Mid", "", ""}}, "Mid"},
        {{{"", "", "Last", ""}}, "Last"},
        {{{"", "", "", "Nick"}}, "Nick"},
        {{{"Jane", "", "", "Nick"}}, "Jane"},
        {{{" Jo &amp;\n", "", "", ""}}, "Jo &"},
        {{{"", "", "", ""}}, nullptr},
        {{{"First", "", "One", ""}, {"Second", "", "Two", ""}}, "First One"},
        // The second author's first name is not the first author's.
        {{{"", "", "Solo", ""}, {"Other", "", "", ""}}, "Solo"},
    };
    for (const Case &c : cases) {
        qtest::Fb2Desc s;
        s.authors = c.authors;
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(s), r), 0);
        EXPECT_EQ(str(r.m.author), str(c.name)) << str(c.name);
    }
}

TEST(Fb2, SeriesAttributesAsWritten) {
    struct Case {
        std::string name, number;
        const char *series, *index;
    } cases[] = {
        {"A &amp; B", "12", "A &amp; B", "12"},
        {"Saga", "", "Saga", nullptr},
        {"", "4", nullptr, "4"},
        {"Saga", "1.5a", "Saga", "1.5a"},
        {std::string(300, 's'), "1", nullptr, "1"},
    };
    for (const Case &c : cases) {
        qtest::Fb2Desc s;
        s.series = c.name;
        s.series_number = c.number;
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(s), r), 0);
        EXPECT_EQ(str(r.m.series), c.name.size() == 300 ? std::string(255, 's') : str(c.series));
        EXPECT_EQ(str(r.m.series_index), str(c.index));
    }
}

TEST(Fb2, CoverIdAndBinary) {
    const std::string jpeg = qtest::tiny_jpeg(), gif = qtest::tiny_gif();
    struct Case {
        const char *attr, *href;
        std::vector<qtest::Fb2Binary> binaries;
        int want, has_cover;
        std::string bytes;
        const char *mime;
    } cases[] = {
        {"l:href", "#c1", {{"c1", "", jpeg}}, 1, 1, jpeg, "image/jpeg"},
        {"xlink:href", "#c1", {{"c1", "", jpeg}}, 1, 1, jpeg, "image/jpeg"},
        {"href", "c1", {{"c1", "", jpeg}}, 1, 1, jpeg, "image/jpeg"},
        {"l:href", "#c1", {{"c1", "", gif}}, 1, 1, gif, "image/png"},
        {"l:href", "#c1", {{"c1", "image/webp", jpeg}}, 1, 1, jpeg, "image/webp"},
        {"l:href", "#c1", {{"c1", std::string(100, 't'), gif}}, 1, 1, gif, nullptr},
        {"l:href", "#c1", {{"c1x", "", gif}, {"c1", "", jpeg}}, 1, 1, jpeg, "image/jpeg"},
        {"l:href", "#c1", {{"c1x", "", jpeg}}, 1, 1, "", ""},  // named, not found
        {"l:href", "#c1", {}, 0, 1, "", ""},                   // not asked for
        {"l:href", "#c1", {{"c1", "", ""}}, 1, 0, "", ""},     // no Base64 data
        {"src", "#c1", {{"c1", "", jpeg}}, 1, 0, "", ""},
        {"l:href=\"\" xlink:href", "#c1", {{"c1", "", jpeg}}, 1, 0, "", ""},
    };
    for (const Case &c : cases) {
        qtest::Fb2Desc s;
        s.cover_href_attr = c.attr;
        s.cover_href = c.href;
        s.binaries = c.binaries;
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(s), r, c.want), 0);
        SCOPED_TRACE(std::string(c.attr) + " " + c.href);
        EXPECT_EQ(r.m.has_cover, c.has_cover);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(r.m.cover_data), r.m.cover_len), c.bytes);
        EXPECT_EQ(std::string(r.m.cover_mime), c.mime ? c.mime : std::string(63, 't'));
    }
    {  // a coverpage outside the section names no cover
        qtest::Fb2Desc s;
        s.extra_description = "<coverpage><image l:href=\"#c1\"/></coverpage>";
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(s), r, 1), 0);
        EXPECT_EQ(r.m.has_cover, 0);
    }
    {  // a broken binary start tag gives empty content, read safely
        qtest::Fb2Desc s;
        s.cover_href = "#c1";
        s.body = "<binary id=\"c1\" </binary>";
        Fb2Book r;
        ASSERT_EQ(parse(qtest::build_fb2(s), r, 1), 0);
        EXPECT_EQ(r.m.has_cover, 0);
        EXPECT_EQ(r.m.cover_data, nullptr);
    }
}

TEST(Fb2, DrmMarkers) {
    for (const char *marker : {"<encrypted>x</encrypted>", "FictionBookEncryption"}) {
        qtest::Fb2Desc s;
        s.body = std::string("<p>") + marker + "</p>";
        Fb2Book r;
        eb_clear_error();
        EXPECT_EQ(parse(qtest::build_fb2(s), r), -1) << marker;
        EXPECT_EQ(r.m.drm, 1);
        EXPECT_EQ(str(r.m.format), "fb2");
        EXPECT_EQ(r.m.title, nullptr);
        EXPECT_STREQ(ebook_last_error(), "DRM/encrypted FB2 detected; will not decrypt");
    }
    // The search stops at the first NUL byte.
    qtest::Fb2Desc s;
    s.body = "\0<encrypted/>"s;
    Fb2Book r;
    EXPECT_EQ(parse(qtest::build_fb2(s), r), 0);
    EXPECT_EQ(r.m.drm, 0);
}

TEST(Fb2, TextBytesCopiedUntranslated) {
    qtest::Fb2Desc cp;  // windows-1251: "Война и мир", "Лев Толстой"
    cp.encoding = "windows-1251";
    cp.title = "\xC2\xEE\xE9\xED\xE0 \xE8 \xEC\xE8\xF0";
    cp.authors = {{"\xCB\xE5\xE2", "", "\xD2\xEE\xEB\xF1\xF2\xEE\xE9", ""}};
    cp.lang = "ru";
    Fb2Book a;
    ASSERT_EQ(parse(qtest::build_fb2(cp), a), 0);
    EXPECT_EQ(str(a.m.title), cp.title);
    EXPECT_EQ(str(a.m.author), "\xCB\xE5\xE2 \xD2\xEE\xEB\xF1\xF2\xEE\xE9");

    qtest::Fb2Desc u;
    u.title = "Война и мир";
    u.authors = {{"Лев", "", "Толстой", ""}};
    u.series = "Épopée";
    Fb2Book b;
    ASSERT_EQ(parse(qtest::build_fb2(u), b), 0);
    EXPECT_EQ(str(b.m.title), "Война и мир");
    EXPECT_EQ(str(b.m.author), "Лев Толстой");
    EXPECT_EQ(str(b.m.series), "Épopée");

    // Through ebook_info the cp1251 bytes reach the JSON text unchanged.
    const qtest::TempDir dir_tmp("fb2-cp1251");
    const std::string &dir = dir_tmp.path;
    qtest::write_file(dir + "/war.fb2", qtest::build_fb2(cp));
    eb_unique<char> json(ebook_info((dir + "/war.fb2").c_str()));
    ASSERT_NE(json, nullptr) << ebook_last_error();
    EXPECT_NE(std::string(json.get()).find("\"title\":\"" + cp.title + "\""), std::string::npos);
}

TEST(Fb2, EbookInfoByExtensionAndContent) {
    qtest::Fb2Desc desc;
    desc.series = "Saga";
    desc.series_number = "2";
    desc.cover_href = "#c";
    desc.binaries = {{"c", "", qtest::tiny_jpeg()}};
    const std::string doc = qtest::build_fb2(desc);
    const std::string want =
        "{\"drm\":false,\"format\":\"fb2\",\"title\":\"Sample FB2 Book\",\"author\":\"Jane "
        "Doe\",\"language\":\"en\",\"series\":\"Saga\",\"series_index\":\"2\","
        "\"has_cover\":true}";
    const qtest::TempDir dir_tmp("fb2-info");
    const std::string &dir = dir_tmp.path;
    for (const char *name : {"a.fb2", "b.FB2", "c.Fb2", "d.txt", "e"}) {
        std::string path = dir + "/" + name;
        qtest::write_file(path, doc);
        eb_unique<char> json(ebook_info(path.c_str()));
        ASSERT_NE(json, nullptr) << name << ": " << ebook_last_error();
        EXPECT_EQ(std::string(json.get()), want) << name;
        EXPECT_STREQ(ebook_last_error(), "");
    }

    qtest::Fb2Desc drm;
    drm.extra_description = "<encrypted/>";
    qtest::write_file(dir + "/drm.fb2", qtest::build_fb2(drm));
    eb_unique<char> json(ebook_info((dir + "/drm.fb2").c_str()));
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(std::string(json.get()),
              "{\"drm\":true,\"format\":\"fb2\",\"title\":\"\",\"author\":\"\",\"language\":"
              "\"\",\"series\":\"\",\"series_index\":\"\",\"has_cover\":false}");
    EXPECT_STREQ(ebook_last_error(), "DRM/encrypted FB2 detected; will not decrypt");
}

}  // namespace

TEST(Fb2, NestedUnclosedSectionsReadToTheSameResult) {
    // Many nested title-info start tags without '>': no section end, so the
    // fields are looked up to the end of the document. A scan that searched
    // again for '>' at every nested tag took minutes here.
    struct Case {
        std::string doc, want;
    } cases[] = {
        {qtest::nested_title_info_fb2(200000), "-|-|-|-|-|0"},
        {qtest::nested_title_info_fb2(100000) +
             "<book-title>Deep</book-title><lang>en</lang><sequence name='S' number='4'/>"
             "<author><last-name>Lee</last-name></author>",
         "Deep|Lee|en|S|4|0"},
    };
    for (const Case &c : cases) {
        Fb2Book b;
        EXPECT_EQ(parse(c.doc, b), 0);
        EXPECT_EQ(summary(b.m), c.want);
    }
}
