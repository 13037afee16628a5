// hostile_seeds.h - seeds of the shapes that once made a reader quadratic, greedy or deep: for
// the single-book, archive and tag-scanner targets and for the full record's.
#ifndef QEM_FUZZ_HOSTILE_SEEDS_H
#define QEM_FUZZ_HOSTILE_SEEDS_H

#include <cstdint>
#include <string>

#include "fb2_builder.h"
#include "hostile_books.h"
#include "seed_corpus.h"
#include "zip_builder.h"

namespace qfuzz {

// Shapes that once made a reader quadratic or greedy: the EPUBs at full size
// (they deflate to a few KB), the plain texts smaller so that mutations stay
// quick.
inline void hostile_book_seeds(Corpus &epub, Corpus &fb2) {
    epub.add("hostile-nested-creators", qtest::epub_around_opf(qtest::nested_creators_opf(800000)));
    for (const char *property : {"belongs-to-collection", "group-position", "cover"})
        epub.add(std::string("hostile-unclosed-meta-") + property,
                 qtest::epub_around_opf(qtest::unclosed_metas_opf(100000, property) + "x</meta>"));
    // Just past the 16 MiB ceiling of a package document.
    qtest::write_inflating_epub((epub.dir / "hostile-inflating-package").string(),
                                16 * 1024 * 1024 + 1);
    ++epub.count;
    fb2.add("hostile-nested-title-info", qtest::nested_title_info_fb2(20000));
    fb2.add("hostile-nested-title-info-then-fields",
            qtest::nested_title_info_fb2(20000) +
                "<book-title>T</book-title><author><nickname>N</nickname></author>");
}

// The full record's hostile rows, at sizes that keep mutations quick: long
// lists, unclosed instructions, nesting, entities after an error, a lying
// cover size, wide-encoding claims, odd package orders.
inline void full_record_hostile_seeds(Corpus &epub, Corpus &fb2, Corpus &mobi) {
    fb2.add("hostile-genres", qtest::many_genres_fb2(2000));
    fb2.add("hostile-keywords", qtest::many_keywords_fb2(3000));
    fb2.add("hostile-sequences", qtest::many_sequences_fb2(2000));
    fb2.add("hostile-unclosed-pis", qtest::unclosed_pis_fb2(1100, 16 * 1024));
    fb2.add("hostile-nested-p", qtest::nested_fb2(16 * 1024));
    fb2.add("hostile-entity-after-error", qtest::entity_after_error_fb2());
    fb2.add("hostile-utf32-claim", qtest::fb2_title_info("", "UTF-32"));
    fb2.add("hostile-error-ridden", qtest::error_ridden_fb2(240 * 1024, 600));
    for (std::uint32_t type : {105u, 104u, 113u, 524u})
        mobi.add("hostile-exth-" + std::to_string(type), qtest::many_exth_mobi(type, 2000));
    epub.add("hostile-unclosed-pis", qtest::epub_around_opf(qtest::unclosed_pis_opf(1100, 4 << 20)));
    epub.add("hostile-nested-a", qtest::epub_around_opf(qtest::repeated_opf("<a>", 512 << 10)));
    epub.add("hostile-empty-metas", qtest::epub_around_opf(qtest::repeated_opf("<meta/>", 256 << 10)));
    epub.add("hostile-empty-items", qtest::epub_around_opf(qtest::repeated_opf("<item/>", 256 << 10)));
    epub.add("hostile-entity-after-error", qtest::epub_around_opf(qtest::entity_after_error_opf()));
    epub.add("hostile-manifest-first",
             qtest::epub_around_opf(
                 "<package version=\"3.0\"><manifest><item id=\"i\" href=\"c.png\" "
                 "media-type=\"image/png\" properties=\"cover-image\"/></manifest><metadata "
                 "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>T</dc:title>"
                 "<meta name=\"cover\" content=\"i\"/></metadata></package>"));
    epub.add("hostile-oeb12",
             qtest::epub_around_opf(
                 "<package><metadata><dc-metadata xmlns:dc=\"http://purl.org/dc/elements/1.0/\">"
                 "<dc:Title>T</dc:Title><dc:Creator>C</dc:Creator></dc-metadata></metadata>"
                 "</package>"));
    qtest::EpubDesc lying;
    lying.cover = "abc";
    lying.cover_href = "c.jpg";
    epub.add("hostile-cover-4gib",
             qtest::patch_member_header(qtest::build_epub(lying), "OEBPS/c.jpg", 0xFFFFFFFFu,
                                        qtest::crc32_of("abc")));
}

// The same books for the archive target, and the plain texts.
inline void hostile_seeds(Corpus &epub, Corpus &fb2, Corpus &zip, Corpus &text) {
    hostile_book_seeds(epub, fb2);
    zip.add("hostile-nested-creators", qtest::epub_around_opf(qtest::nested_creators_opf(800000)));
    qtest::write_inflating_epub((zip.dir / "hostile-inflating-package").string(),
                                16 * 1024 * 1024 + 1);
    ++zip.count;
    text.add("hostile-nested-creators",
             "dc:creator" + std::string(1, '\0') + qtest::nested_creators_opf(20000));
    text.add("hostile-unclosed-meta",
             "meta" + std::string(1, '\0') + qtest::unclosed_metas_opf(20000, "cover"));
    text.add("hostile-unclosed-pis",
             "dc:creator" + std::string(1, '\0') + qtest::unclosed_pis_opf(1100, 16 * 1024));
    text.add("hostile-genres", "genre" + std::string(1, '\0') + qtest::many_genres_fb2(2000));
}

}  // namespace qfuzz

#endif  // QEM_FUZZ_HOSTILE_SEEDS_H
