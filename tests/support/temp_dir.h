// temp_dir.h - a scratch directory for one test, removed with everything in it afterwards.
#ifndef QEM_TEST_TEMP_DIR_H
#define QEM_TEST_TEMP_DIR_H

#include <filesystem>
#include <set>
#include <string>

#include "book_builders.h"

namespace qtest {

// Removed even when an assertion ends the test early.
struct TempDir {
    explicit TempDir(const std::string &tag = "test") : path(make_temp_dir(tag)) {}
    ~TempDir() { remove_tree(path); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    // Writes bytes to a file named name in the directory; its path.
    std::string put(const std::string &name, const std::string &bytes) const {
        std::string p = path + "/" + name;
        write_file(p, bytes);
        return p;
    }
    // The names of the entries directly inside.
    std::set<std::string> names() const {
        std::set<std::string> s;
        for (const auto &e : std::filesystem::directory_iterator(path))
            s.insert(e.path().filename().string());
        return s;
    }
    std::string path;
};

}  // namespace qtest

#endif  // QEM_TEST_TEMP_DIR_H
