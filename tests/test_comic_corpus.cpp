// The real comic archives of ../shared/corpus/comics against what independent tools read from
// them (expected-pdf-comics.json): each record field the rules derive from those readings, and the
// extracted cover against 7z's own extraction of the expected member. Skipped when absent.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "book_builders.h"
#include "comic_builder.h"
#include "metadata_probe.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"

namespace {

const std::string kCorpus = QEM_CORPUS_DIR;

std::string str(yyjson_val *v) {
    if (yyjson_is_str(v)) return std::string(yyjson_get_str(v), yyjson_get_len(v));
    if (yyjson_is_int(v)) return std::to_string(yyjson_get_sint(v));
    return "";
}

// The record's values the rules give for one file's readings.
std::map<std::string, std::string> stated(yyjson_val *want) {
    std::map<std::string, std::string> s;
    s["/format"] = str(yyjson_obj_get(want, "format"));
    yyjson_val *f = yyjson_obj_get(yyjson_obj_get(want, "comicinfo"), "fields");
    auto field = [f](const char *k) { return str(yyjson_obj_get(f, k)); };
    s["/title"] = field("Title");
    s["/language"] = field("LanguageISO");
    const std::string number = field("Number"), volume = field("Volume");
    s["/series/0/name"] = field("Series").empty() ? "<missing>" : field("Series");
    if (!field("Series").empty()) s["/series/0/index"] = number.empty() ? volume : number;
    const std::string writer = field("Writer");
    s["/authors/0/name"] = writer.empty() ? "<missing>" : writer.substr(0, writer.find(','));
    s["/subjects/0"] =
        field("Genre").empty() ? "<missing>" : field("Genre").substr(0, field("Genre").find(','));
    s["/published"] = field("Year");  // the corpus states years alone
    // Pages: PageCount above 0, else the images; unknown when nothing could be listed.
    bool listed = true, encrypted = false;
    std::size_t i, n;
    yyjson_val *key, *tool;
    yyjson_obj_foreach(yyjson_obj_get(want, "listing_tools"), i, n, key, tool) {
        const std::string err = str(yyjson_obj_get(tool, "error"));
        listed = listed && err.empty();
        encrypted = encrypted || err.find("ncrypt") != std::string::npos;
    }
    const std::string count = field("PageCount");
    s["/pages"] = !count.empty() && count != "0" ? count
                  : listed                       ? str(yyjson_obj_get(want, "image_count"))
                                                 : "<null>";
    s["/drm"] = encrypted ? "true" : "false";
    const std::string cover = str(yyjson_obj_get(want, "cover"));
    s["/cover/from"] = cover.empty() ? "<missing>" : "first-image";
    return s;
}

TEST(ComicCorpus, RecordsAgreeWithIndependentReadings) {
    const std::string expected = kCorpus + "/expected-pdf-comics.json";
    if (!std::filesystem::exists(expected)) GTEST_SKIP() << "skipped: no corpus at " << kCorpus;
    const std::string text = qtest::read_file(expected);
    yyjson_doc *doc = yyjson_read(text.data(), text.size(), 0);
    ASSERT_NE(doc, nullptr);
    std::size_t i, n, books = 0;
    yyjson_val *key, *want;
    yyjson_obj_foreach(yyjson_doc_get_root(doc), i, n, key, want) {
        const std::string book = str(key);
        if (book.rfind("comics/", 0) != 0) continue;
        ++books;
        const std::string path = kCorpus + "/" + book;
        qtest::MetaProbe p = qtest::MetaProbe::from_file(path);
        ASSERT_TRUE(p.ok()) << book << ": " << p.error();
        EXPECT_EQ(p.schema_error(), "") << book;
        for (const auto &[pointer, value] : stated(want))
            EXPECT_EQ(p.at(pointer), value) << book << " " << pointer << "\n" << p.json();
        // The cover ebook_extract_cover writes is the member the readings
        // name, byte for byte as 7z extracts it.
        const std::string cover = str(yyjson_obj_get(want, "cover"));
        qtest::TempDir dir("comic-corpus");
        const std::string out = dir.path + "/cover";
        const int rc = ebook_extract_cover(path.c_str(), out.c_str());
        EXPECT_EQ(rc, cover.empty() ? -1 : 0) << book << ": " << ebook_last_error();
        if (rc != 0) continue;
        const std::string got = qtest::read_file(out);
        EXPECT_EQ(std::to_string(got.size()), p.at("/cover/size")) << book;
        const std::string cmd =
            "7z e -y -o'" + dir.path + "/x' '" + path + "' '" + cover + "' >/dev/null 2>&1";
        if (qtest::have_7z() && std::system(cmd.c_str()) == 0)
            EXPECT_EQ(got, qtest::read_file(dir.path + "/x/" + cover)) << book;
        else  // Debian's 7z has no codec for packed RAR data
            std::printf("%s: 7z cannot extract %s; its size alone is compared\n", book.c_str(),
                        cover.c_str());
    }
    yyjson_doc_free(doc);
    EXPECT_GT(books, 0u);
}

}  // namespace
