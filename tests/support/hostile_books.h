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

#endif  // QEM_TEST_HOSTILE_BOOKS_H
