// fuzz_zip.cpp - ZIP member access on arbitrary bytes: the archive test, the
// member-name search and the extraction of fixed and stored member names.
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "io/zip.h"
#include "io/zip_archive.h"
#include "zip_repair.h"

QFUZZ_ZIP_MUTATOR

namespace {

const char *const kNames[] = {"META-INF/container.xml", "mimetype", "OEBPS/content.opf", "OEBPS/",
                              ""};
const char *const kNeedles[] = {"encryption.xml", "", "/"};

// Up to a few member names as the archive stores them, so that extraction is
// tried on members that exist; on the way, every member the handle reads
// comes back with exactly its declared size.
std::vector<std::string> stored_names(const char *p, std::size_t n) {
    std::vector<std::string> names;
    eb_zip_archive za(p, n);
    for (std::uint64_t i = 0; i < za.count() && i < 8; ++i) {
        names.emplace_back(za.name(i));
        std::uint64_t declared = 0;
        qfuzz::check(za.size(i, &declared));
        std::string out;
        eb_zip_read r = za.read(i, 1u << 20, &out);
        qfuzz::check(r == eb_zip_read::ok ? out.size() == declared : out.empty());
        qfuzz::check(r != eb_zip_read::missing);
    }
    qfuzz::check(!za.source_failed());
    return names;
}

void extract(const char *p, std::size_t n, const char *name) {
    std::uint64_t len = 12345;
    char *block = eb_zip_extract(p, n, name, &len);
    qfuzz::check(block != nullptr || len == 0);
    std::free(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    char *p = qfuzz::copy_exact(data, size);
    int ok = eb_zip_ok(p, size);
    qfuzz::check(ok == 0 || ok == 1);
    for (const char *needle : kNeedles) {
        int r = eb_zip_name_contains(p, size, needle);
        qfuzz::check(ok ? (r == 0 || r == 1) : r == -1);
    }
    for (const char *name : kNames)
        extract(p, size, name);
    if (ok)
        for (const std::string &name : stored_names(p, size))
            extract(p, size, name.c_str());
    std::free(p);
    return 0;
}
