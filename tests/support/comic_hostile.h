// comic_hostile.h - comic archives whose directories claim more than a reader should allocate, for
// the tests, the hostile benchmark and the fuzz seeds.
#ifndef QEM_TEST_COMIC_HOSTILE_H
#define QEM_TEST_COMIC_HOSTILE_H

#include <cstddef>
#include <string>

namespace qtest {

// How a hand-made 7z archive stores its directory.
enum class SevenZipHeader {
    lzma,       // compressed with LZMA, as 7z does
    plain,      // stored as it is
    oversized,  // LZMA, but declared to decode to 100 MiB
    bzip2,      // declared compressed by BZip2
};

// A 7z archive of n empty files, all named "a".
std::string sevenzip_empty_files(std::size_t n, SevenZipHeader how);

}  // namespace qtest

#endif  // QEM_TEST_COMIC_HOSTILE_H
