// comic_seeds.h - seed archives for the comic fuzz target: every archive kind, the metadata
// sources, protection, solid RAR and look-alike names, all with tiny pages.
#ifndef QEM_FUZZ_COMIC_SEEDS_H
#define QEM_FUZZ_COMIC_SEEDS_H

#include <functional>
#include <string>

#include "book_builders.h"
#include "comic_builder.h"
#include "comic_hostile.h"

namespace qfuzz {

inline void comic_seeds(const std::function<void(const std::string &, const std::string &)> &add) {
    using qtest::ComicKind;
    qtest::ComicDesc full;
    full.members = {{"ComicInfo.xml",
                     qtest::comic_info({{"Title", "T"},
                                        {"Series", "S"},
                                        {"Number", "1"},
                                        {"Volume", "2"},
                                        {"AlternateSeries", "A"},
                                        {"StoryArc", "Arc"},
                                        {"Year", "2001"},
                                        {"Month", "2"},
                                        {"Day", "3"},
                                        {"Writer", "W1, W2"},
                                        {"Penciller", "P"},
                                        {"CoverArtist", "C"},
                                        {"Genre", "G1,G2"},
                                        {"Tags", "T1"},
                                        {"PageCount", "3"},
                                        {"GTIN", "9780306406157"},
                                        {"Web", "https://a https://b"},
                                        {"LanguageISO", "en"},
                                        {"Summary", "&lt;p&gt;x&lt;/p&gt;"}},
                                       "<Pages><Page Image=\"1\" Type=\"FrontCover\"/></Pages>")},
                    {"comet.xml",
                     "<comet><title>C</title><pages>2</pages><coverImage>p2.png</coverImage>"
                     "<writer>W</writer><genre>G</genre></comet>"},
                    {"p10.jpg", qtest::tiny_jpeg()},
                    {"p2.png", qtest::tiny_png()},
                    {"__MACOSX/._p1.jpg", "x"},
                    {"sub/ComicInfo.xml", "<ComicInfo/>"}};
    full.comment = R"({"ComicBookInfo/1.0":{"title":"B","issue":3,"credits":[{"person":"L, S",)"
                   R"("role":"Writer"}],"tags":["t"]}})";
    for (ComicKind k :
         {ComicKind::Zip, ComicKind::Rar4, ComicKind::Rar5, ComicKind::SevenZip, ComicKind::Tar}) {
        if (k == ComicKind::SevenZip && !qtest::have_7z()) continue;
        const std::string kind = qtest::comic_kind_name(k);
        add(kind + "-full", qtest::build_comic(k, full));
        qtest::ComicDesc locked = full;
        locked.members[0].encrypted = locked.members[3].encrypted = true;
        if (k != ComicKind::Tar) add(kind + "-encrypted", qtest::build_comic(k, locked));
        if (k == ComicKind::Rar4 || k == ComicKind::Rar5 || k == ComicKind::SevenZip) {
            locked.header_encrypted = true;
            add(kind + "-headers", qtest::build_comic(k, locked));
        }
        if (k == ComicKind::Rar4 || k == ComicKind::Rar5) {
            qtest::ComicDesc solid = full;
            solid.solid = true;
            add(kind + "-solid", qtest::build_comic(k, solid));
        }
    }
    // 7z directories made by hand: packed with LZMA, and stored.
    add("7z-lzma-directory", qtest::sevenzip_empty_files(100, qtest::SevenZipHeader::lzma));
    add("7z-plain-directory", qtest::sevenzip_empty_files(100, qtest::SevenZipHeader::plain));
}

}  // namespace qfuzz

#endif
