// hostile_books.h - books shaped to make a careless reader slow or greedy: nested and
// unclosed tags, markup members that inflate far. For tests, benchmarks and fuzz seeds.
#ifndef QEM_TEST_HOSTILE_BOOKS_H
#define QEM_TEST_HOSTILE_BOOKS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qtest {

// A package document with a title, then one open <dc:creator> followed by
// count nested "<dc:creator " start tags that never reach a '>'. 800,000 of
// them make a 10 MB document that deflates to some 19 KB.
std::string nested_creators_opf(std::size_t count);

// A package document with a title, then count unclosed
// <meta property="PROPERTY"> start tags: each asks for its element's text,
// and none has an end tag.
std::string unclosed_metas_opf(std::size_t count, const std::string &property);

// A minimal EPUB (mimetype, container, OEBPS/content.opf) around a package
// document.
std::string epub_around_opf(const std::string &opf);

// An FB2 document with one open <title-info> followed by count nested
// "<title-info " start tags without '>'; 400,000 of them make 4.8 MB.
std::string nested_title_info_fb2(std::size_t count);

// Writes to path an EPUB whose package document OEBPS/content.opf holds size
// zero bytes, streamed and deflated (500 MB deflate to about 500 KB).
void write_inflating_epub(const std::string &path, std::uint64_t size);

}  // namespace qtest


// ---- round two: the full record -------------------------------------------

namespace qtest {

// A FictionBook whose title-info holds a title and then `inner`.
std::string fb2_title_info(const std::string &inner, const std::string &encoding = "utf-8");

// FictionBooks with count distinct genres, count keywords (a thousand to an
// element, separated by commas), or
// count distinct sequences (160,000 genres make 3.7 MB).
std::string many_genres_fb2(std::size_t count);
std::string many_keywords_fb2(std::size_t count);
std::string many_sequences_fb2(std::size_t count);

// A MOBI book with count distinct EXTH records of one type (105 subjects,
// 104/113/504 identifiers, 524 languages).
std::string many_exth_mobi(std::uint32_t type, std::size_t count);

// A package document of about `size` bytes whose metadata holds a title,
// then count unclosed processing instructions ("<?a ") spread evenly, then a
// creator "After".
std::string unclosed_pis_opf(std::size_t count, std::size_t size);
// The same shape as a FictionBook: the instructions inside title-info, an
// author "After" at its end.
std::string unclosed_pis_fb2(std::size_t count, std::size_t size);

// A package document of about `size` bytes (at most 16 MiB) with a title,
// then `piece` repeated: "<a>" nests, "<meta/>" and "<item/>" pile up (the
// items inside a manifest).
std::string repeated_opf(const std::string &piece, std::size_t size);
// A FictionBook of about `size` bytes: a title, then "<p>" nested.
std::string nested_fb2(std::size_t size);

// A package document and a FictionBook that break once (a stray end
// tag) after declaring entity e as "X", then uses &e; as its author.
std::string entity_after_error_opf();
std::string entity_after_error_fb2();

// A FictionBook of about `size` bytes whose annotation has a broken spot
// (an end tag of no open element, an unquoted attribute: four errors) about
// every `every` bytes (at least 85), and an author "After" at its end.
std::string error_ridden_fb2(std::size_t size, std::size_t every);

}  // namespace qtest

#endif  // QEM_TEST_HOSTILE_BOOKS_H
