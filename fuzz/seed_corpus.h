// seed_corpus.h - one fuzz target's seed directory, and the count of seeds written into it.
#ifndef QEM_FUZZ_SEED_CORPUS_H
#define QEM_FUZZ_SEED_CORPUS_H

#include <filesystem>
#include <string>

#include "book_builders.h"

namespace qfuzz {

struct Corpus {
    std::filesystem::path dir;
    int count = 0;
    Corpus(const std::filesystem::path &root, const char *target) : dir(root / target) {
        std::filesystem::create_directories(dir);
    }
    void add(const std::string &name, const std::string &bytes) {
        qtest::write_file((dir / name).string(), bytes);
        ++count;
    }
};

}  // namespace qfuzz

#endif  // QEM_FUZZ_SEED_CORPUS_H
