// temp_dir.h - a scratch directory for one test, removed with everything in it afterwards.
#ifndef QEM_TEST_TEMP_DIR_H
#define QEM_TEST_TEMP_DIR_H

#include <string>

#include "book_builders.h"

namespace qtest {

struct TempDir {
    explicit TempDir(const std::string &tag) : path(make_temp_dir(tag)) {}
    ~TempDir() { remove_tree(path); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // Writes bytes to a file named name in the directory; its path.
    std::string put(const std::string &name, const std::string &bytes) const {
        std::string p = path + "/" + name;
        write_file(p, bytes);
        return p;
    }
    std::string path;
};

}  // namespace qtest

#endif  // QEM_TEST_TEMP_DIR_H
