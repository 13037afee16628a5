// fb2_write.h - the FictionBook writer of the format table, and the edit of one document.
#ifndef QUENFOLD_FORMATS_FB2_FB2_WRITE_H
#define QUENFOLD_FORMATS_FB2_FB2_WRITE_H

#include <functional>
#include <string>
#include <string_view>

#include "ops/write/writer.h"

// .fb2 files and the one document of .fb2.zip / .fbz books.
extern const eb_format_writer eb_fb2_writer;

// Edits one FictionBook document (any encoding it declares) as c asks: only
// the first title-info (and publish-info for the publisher, the ISBN and a
// year, and the coverpage's binary) change; every other byte stays. New
// text is written in the declared encoding, a character it cannot hold as a
// numeric character reference. False with the error text set.
bool eb_fb2_edit(std::string_view doc, const eb_changes &c, std::string *out);
// The same with the new document handed to sink in pieces, in order.
bool eb_fb2_edit(std::string_view doc, const eb_changes &c,
                 const std::function<bool(std::string_view)> &sink);

// Whether s is one of FictionBook's genre codes ("sf_fantasy", "det_classic").
bool eb_fb2_genre_code(std::string_view s);

#endif  // QUENFOLD_FORMATS_FB2_FB2_WRITE_H
