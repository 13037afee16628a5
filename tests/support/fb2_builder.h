// fb2_builder.h - FictionBook 2 documents as text, for tests, fuzz seeds and
// sample books.
#ifndef QEM_TEST_FB2_BUILDER_H
#define QEM_TEST_FB2_BUILDER_H

#include <cstddef>
#include <string>
#include <vector>

namespace qtest {

struct Fb2Author {
    std::string first;  // each part is written only when not empty
    std::string middle;
    std::string last;
    std::string nickname;
};

struct Fb2Binary {
    std::string id;
    std::string content_type;  // empty writes no content-type attribute
    std::string bytes;         // written Base64-encoded
};

// What build_fb2 writes. Text values go into the document as given, so a
// caller may put entity references or raw bytes of any encoding in them.
// Defaults give an ordinary UTF-8 book without a cover.
struct Fb2Desc {
    std::string encoding = "utf-8";         // XML declaration; empty writes none
    std::string root = "FictionBook";       // root element name
    std::string section = "title-info";     // e.g. "Title-info"; empty: no section
    bool close_section = true;              // false leaves the section unclosed
    std::string title = "Sample FB2 Book";  // empty writes no book-title
    std::vector<Fb2Author> authors = {{"Jane", "", "Doe", ""}};
    std::string lang = "en";                 // empty writes no lang
    std::string series;                      // sequence name; empty and no number:
    std::string series_number;               //   no sequence element
    std::string cover_href;                  // e.g. "#cover.jpg"; empty: no coverpage
    std::string cover_href_attr = "l:href";  // or "xlink:href", "href"
    std::string extra_description;           // raw text after the section
    std::string body = "<section><p>Hello.</p></section>";
    std::vector<Fb2Binary> binaries;  // after the body, in this order
};

std::string build_fb2(const Fb2Desc &desc);

// Standard Base64 with '=' padding; a line break after every line_width
// output characters (0: one line).
std::string base64_encode(const std::string &bytes, std::size_t line_width = 76);

}  // namespace qtest

#endif
