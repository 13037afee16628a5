// book_info.h - ebook_info's answer as one text, so that a test compares a result and a failure
// alike.
#ifndef QEM_TEST_BOOK_INFO_H
#define QEM_TEST_BOOK_INFO_H

#include <string>

#include "quenfold_ebook.h"

namespace qtest {

// ebook_info's text, or "ERR:" and the error text.
inline std::string info(const std::string &path) {
    char *s = ebook_info(path.c_str());
    std::string out = s ? s : "ERR:" + std::string(ebook_last_error());
    ebook_free_string(s);
    return out;
}

}  // namespace qtest

#endif
