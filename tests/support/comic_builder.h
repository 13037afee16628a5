// comic_builder.h - comic archives of every kind from one description: ZIP (libzip), RAR 4 and 5
// (the RAR builder), 7z (Debian's 7z program) and tar (libarchive's writer).
#ifndef QEM_TEST_COMIC_BUILDER_H
#define QEM_TEST_COMIC_BUILDER_H

#include <string>
#include <utility>
#include <vector>

namespace qtest {

enum class ComicKind { Zip, Rar4, Rar5, SevenZip, Tar };

// The extension a comic of that kind carries: cbz, cbr, cb7, cbt.
const char *comic_ext(ComicKind kind);
const char *comic_kind_name(ComicKind kind);

struct ComicMember {
    std::string name;
    std::string data;
    bool encrypted = false;
};

struct ComicDesc {
    std::vector<ComicMember> members;  // archive order (7z orders them its own way)
    std::string comment;               // the ZIP archive comment
    bool solid = false;                // RAR; 7z archives are solid anyway
    bool header_encrypted = false;     // RAR and 7z: the names need the password too
};

// A ComicInfo.xml: the elements in order (name, text written as given), then
// `inner` (a <Pages> list, say) inside the root.
std::string comic_info(const std::vector<std::pair<std::string, std::string>> &elements,
                       const std::string &inner = "");

// Whether Debian's 7z program runs here; the 7z cases skip without it.
bool have_7z();

// The archive's bytes; throws std::runtime_error on failure.
std::string build_comic(ComicKind kind, const ComicDesc &desc);

}  // namespace qtest

#endif  // QEM_TEST_COMIC_BUILDER_H
