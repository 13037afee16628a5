// fuzz_zip.cpp - ZIP member access on arbitrary bytes: the archive test, the
// member-name search and the extraction of fixed and stored member names.
#include <zip.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "io/zip.h"
#include "zip_repair.h"

QFUZZ_ZIP_MUTATOR

namespace {

const char *const kNames[] = {"META-INF/container.xml", "mimetype", "OEBPS/content.opf", "OEBPS/",
                              ""};
const char *const kNeedles[] = {"encryption.xml", "", "/"};

// Up to a few member names as the archive stores them, read with libzip
// itself, so that extraction is tried on members that exist.
std::vector<std::string> stored_names(const char *p, std::size_t n) {
    std::vector<std::string> names;
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *src = zip_source_buffer_create(p, n, 0, &err);
    zip_t *za = src ? zip_open_from_source(src, ZIP_RDONLY, &err) : nullptr;
    if (za) {
        zip_int64_t count = zip_get_num_entries(za, 0);
        for (zip_int64_t i = 0; i < count && i < 8; ++i) {
            const char *s = zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (s) names.emplace_back(s);
        }
        zip_discard(za);
    } else if (src) {
        zip_source_free(src);
    }
    zip_error_fini(&err);
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
