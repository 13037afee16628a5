// test_write_comic.cpp - ComicInfo.xml edited in place or made, unmanaged elements and pages kept.
#include <gtest/gtest.h>

#include "comic_builder.h"
#include "io/zip_archive.h"
#include "metadata_probe.h"
#include "temp_dir.h"

namespace {

std::string member(const std::string &zip, const char *name) {
    eb_zip_archive za(zip.data(), zip.size());
    std::string out;
    const std::int64_t i = za.find(name);
    if (i >= 0) za.read(static_cast<std::uint64_t>(i), 1 << 20, &out);
    return i < 0 ? "<missing>" : out;
}

TEST(WriteComic, ComicInfoInPlaceOrMade) {
    const std::string page = qtest::tiny_jpeg();
    const std::string info =
        qtest::comic_info({{"title", "Old"},
                           {"Series", "Saga"},
                           {"Volume", "4"},
                           {"Tags", "t1"},
                           {"PageCount", "2"},
                           {"Characters", "Ann, Bo"},
                           {"Imprint", "Imp"}},
                          "<Pages><Page Image=\"1\" Type=\"FrontCover\"/></Pages>");
    const struct {
        const char *name;
        std::string info_at;  // "" for none
        const char *changes;
        std::vector<std::pair<const char *, const char *>> record;
        std::vector<const char *> kept;  // in the new ComicInfo.xml
    } rows[] = {
        {"in place",
         "ComicInfo.xml",
         R"({"title":"New","series":[{"name":"Saga"},{"name":"Arc","index":"2"}],
             "authors":["Stan Lee"],"contributors":[{"name":"Ink","role":"inker"},
             {"name":"Col","role":"clr"}],"subjects":["Action"],"published":"2001-02",
             "description":"One.\n\nTwo.","isbn":"0-306-40615-2","language":"fr",
             "identifiers":[{"scheme":"url","value":"https://x.org/a"}]})",
         {{"/title", "New"},
          {"/series/0/index", ""},
          {"/series/1/name", "Arc"},
          {"/contributors/0/role", "inker"},
          {"/subjects/0", "Action"},
          {"/published", "2001-02"},
          {"/description", "One.\n\nTwo."},
          {"/isbn", "9780306406157"},
          {"/pages", "2"},
          {"/cover/from", "front-cover"}},
         {"<PageCount>2</PageCount>", "<Characters>Ann, Bo</Characters>", "<Pages>",
          "<title>New</title>", "<AlternateNumber>2</AlternateNumber>", "<Month>02</Month>"}},
        {"a folder down",
         "book/ComicInfo.xml",
         R"({"publisher":null})",
         {{"/publisher", ""}},
         {"<Characters>"}},
        {"made at the root",
         "",
         R"({"title":"Made","series":[{"name":"S","index":"1"}]})",
         {{"/title", "Made"}, {"/series/0/index", "1"}, {"/pages", "2"}},
         {"<ComicInfo xmlns:xsd=", "<Title>Made</Title>\n  <Series>S</Series>"}},
    };
    for (const auto &r : rows) {
        qtest::TempDir dir("write-comic");
        qtest::ComicDesc d;
        d.members = {{"p1.jpg", page}, {"p2.jpg", page}};
        if (!r.info_at.empty()) d.members.push_back({r.info_at, info});
        const std::string path = dir.put("c.cbz", qtest::build_comic(qtest::ComicKind::Zip, d));
        const qtest::MetaProbe p = qtest::MetaProbe::from_write(path, r.changes);
        ASSERT_TRUE(p.ok()) << r.name << ": " << p.error();
        for (const auto &[ptr, want] : r.record)
            EXPECT_EQ(p.at(ptr), want) << r.name << " " << ptr;
        const std::string now = qtest::read_file(path);
        const std::string ci = member(now, r.info_at.empty() ? "ComicInfo.xml" : r.info_at.c_str());
        for (const char *k : r.kept)
            EXPECT_NE(ci.find(k), std::string::npos) << r.name << ": " << k << "\n" << ci;
        EXPECT_EQ(member(now, "p2.jpg"), page);
    }
}

TEST(WriteComic, WhatComicInfoCannotHold) {
    const struct {
        const char *changes, *error;
    } rows[] = {
        {R"({"authors":["Lee, Stan"]})",
         "authors: a ComicInfo list cannot hold a comma: Lee, Stan"},
        {R"({"contributors":[{"name":"E","role":"ill"}]})",
         "contributors: role ill not stored by comic books"},
        {R"({"series":[{"name":"a"},{"name":"b"},{"name":"c"},{"name":"d"}]})",
         "series: comic books store three series at most"},
        {R"({"published":"2001-02-03T10:00Z"})",
         "published: comic books store a date without a time"},
        {R"({"identifiers":[{"scheme":"doi","value":"10.1/x"}]})",
         "identifiers: comic books store one ISBN or GTIN and Web addresses, not doi"},
        {R"({"rights":"R"})", "rights: not stored by comic books"},
    };
    qtest::TempDir dir("write-comic-refused");
    qtest::ComicDesc d;
    d.members = {{"p1.jpg", qtest::tiny_jpeg()}};
    const std::string bytes = qtest::build_comic(qtest::ComicKind::Zip, d);
    const std::string path = dir.put("c.cbz", bytes);
    for (const auto &r : rows) {
        EXPECT_EQ(qtest::MetaProbe::from_write(path, r.changes).error(), r.error);
        EXPECT_EQ(qtest::read_file(path), bytes);
    }
}

}  // namespace
