// fb2_text.h - FictionBook helpers of the full record: trimming, rich text to paragraphs, the
// cover.
#ifndef QUENFOLD_FORMATS_FB2_TEXT_H
#define QUENFOLD_FORMATS_FB2_TEXT_H

#include <string>
#include <string_view>
#include <vector>

#include "full_record.h"

// The offset of the first needle in hay at or after from, npos when there
// is none: hay.find(needle, from), made for megabytes of pictures' text.
std::size_t fb2_find(std::string_view hay, std::string_view needle, std::size_t from = 0);

// True when doc holds "<encrypted" or "FictionBookEncryption" before its
// first NUL byte (where the text ends for C string functions): the markers
// of a protected FictionBook. One pass over doc.
bool fb2_marked_encrypted(std::string_view doc);

// s without the spaces, tabs and line breaks at either end.
std::string fb2_trim(std::string_view s);

// Plain text of FictionBook rich text (an annotation): the text of each
// block (p, v, subtitle, text-author, a table cell...) with its runs of white
// space made one space; blocks separated by a blank line. Bounded to a little
// more than the record keeps of any text (EB_TEXT_LIMIT).
class fb2_paragraphs {
  public:
    void start(std::string_view name) { block_edge(name); }
    void end(std::string_view name) { block_edge(name); }
    void text(std::string_view t);
    std::string finish();

  private:
    std::vector<std::string> done_;
    std::string cur_;
    bool space_ = false;
    std::size_t total_ = 0;
    void block_edge(std::string_view name);
    void flush();
};

// Sets r.cover from the binary element that the coverpage image href names:
// its media type (content-type, else sniffed from the first bytes) and its
// size counted from the Base64 text without decoding it. No matching element,
// or one without data, leaves r.cover empty. encoding is the document's
// declared encoding ("" for UTF-8); the search starts at byte `from` (the
// end of the description, before which no picture lies).
void fb2_cover(std::string_view doc, const std::string &encoding, const std::string &href,
               eb_record &r, std::size_t from = 0);

#endif  // QUENFOLD_FORMATS_FB2_TEXT_H
