// fb2_full_builder.h - FictionBook documents with a complete description (every section the full
// record reads), for the full-record tests.
#ifndef QEM_TEST_FB2_FULL_BUILDER_H
#define QEM_TEST_FB2_FULL_BUILDER_H

#include <string>
#include <vector>

#include "fb2_builder.h"

namespace qtest {

// The children of each section are given as raw XML text, in order, so a
// test may write them broken, prefixed or in any encoding. A section whose
// list is empty is not written (title-info is always written).
struct Fb2FullDesc {
    std::string encoding = "utf-8";  // XML declaration; empty writes none
    std::string prefix;              // e.g. "fb": every frame element as fb:name, with xmlns:fb
    std::vector<std::string> title_info;
    std::vector<std::string> document_info;
    std::vector<std::string> publish_info;
    std::string body = "<section><p>Text.</p></section>";
    std::vector<Fb2Binary> binaries;  // after the body
};

std::string build_fb2_full(const Fb2FullDesc &desc);

// <tag><first-name>..</first-name>...</tag> with the parts that are not
// empty (tag is "author" or "translator").
std::string fb2_person(const std::string &tag, const std::string &first, const std::string &middle,
                       const std::string &last, const std::string &nickname = "");

}  // namespace qtest

#endif
