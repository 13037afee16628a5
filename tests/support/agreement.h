// agreement.h - does the full record agree with ebook_info (title, first author, language)?
#ifndef QEM_TEST_AGREEMENT_H
#define QEM_TEST_AGREEMENT_H

#include <string>
#include <vector>

namespace qtest {

struct Agreement {
    bool info_ok = false;    // ebook_info succeeded and reported no DRM
    bool meta_ok = false;    // ebook_metadata succeeded
    std::string meta_error;  // its error text when it failed
    std::string schema_error;
    // "field: info 'x' vs full 'y'" for title, author and language, after
    // decoding ebook_info's bytes by the encoding the full record names and
    // folding their white space as the full record does. A
    // first author that differs because ebook_info's author is a contributor
    // of another role in the full record is not listed.
    std::vector<std::string> differences;
};

Agreement compare_with_info(const std::string &path);

}  // namespace qtest

#endif
