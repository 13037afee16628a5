// rar_builder.h - stored (uncompressed) RAR 4 and RAR 5 archives written after the published
// format descriptions, since no Debian tool writes RAR.
#ifndef QEM_TEST_RAR_BUILDER_H
#define QEM_TEST_RAR_BUILDER_H

#include <string>
#include <vector>

namespace qtest {

struct RarEntry {
    std::string name;  // '/' separates folders; stored with '\' in RAR 4 as WinRAR does
    std::string data;
    bool encrypted = false;  // flagged as password-protected; the data is filler of AES block size
    bool directory = false;
    bool size_unknown = false;  // RAR 5 only: the header states no unpacked size
};

struct RarDesc {
    int version = 5;  // 4 (the RAR 2.9 to 4.x layout) or 5
    bool solid = false;
    // Every header after the archive header encrypted: nothing but the
    // archive's kind and flags is readable without the password.
    bool header_encrypted = false;
    // RAR 4 only: non-ASCII names in WinRAR's compact UTF-16 form (an ASCII
    // stand-in, a NUL, then the encoded characters) instead of plain UTF-8.
    bool encoded_unicode = true;
    std::vector<RarEntry> entries;
};

std::string build_rar(const RarDesc &desc);

}  // namespace qtest

#endif  // QEM_TEST_RAR_BUILDER_H
