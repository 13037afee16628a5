// zip_libs.cpp - Google Benchmark of the ZIP layer: libzip against our own directory reader
// over the same EPUB files, opening the archive and reading META-INF/container.xml.
//
// The figures behind the choice of reading the directory ourselves
// (docs/PERFORMANCE.md). Books are made in a temporary directory
// (QEM_BENCH_TMP, else the system's).
#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_books.h"
#include "book_builders.h"
#include "io/source.h"
#include "io/zip_archive.h"
#include "read_meter.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * 1024;

struct BookFile {
    std::string name;
    std::string path;
};

// What decided the ZIP library: open a book's archive from its file and read
// META-INF/container.xml. libzip reads the file through its own stdio source
// and converts every member's DOS time with mktime (a stat of /etc/localtime
// each, as TZ is unset here); ours reads the tail once through our pread
// source and converts no time.
void bm_zip_libzip(benchmark::State &state, const BookFile *c) {
    const BookFile &f = *c;
    qbench::read_meter meter;
    for (auto _ : state) {
        int err = 0;
        zip_t *za = zip_open(f.path.c_str(), ZIP_RDONLY, &err);
        zip_int64_t i = za ? zip_name_locate(za, "META-INF/container.xml", ZIP_FL_NOCASE) : -1;
        zip_file_t *zf = i >= 0 ? zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0) : nullptr;
        char buf[4096];
        zip_int64_t n = zf ? zip_fread(zf, buf, sizeof buf) : -1;
        if (zf) zip_fclose(zf);
        if (za) zip_discard(za);
        if (n <= 0) {
            state.SkipWithError("libzip did not read the container");
            break;
        }
    }
    meter.report(state);
}

void bm_zip_ours(benchmark::State &state, const BookFile *c) {
    const BookFile &f = *c;
    qbench::read_meter meter;
    for (auto _ : state) {
        eb_source src;
        if (!src.open(f.path.c_str())) break;
        eb_zip_archive za(src);
        std::string out;
        std::int64_t i = za.find("META-INF/container.xml");
        if (i < 0 ||
            za.read(static_cast<std::uint64_t>(i), EB_ZIP_DOC_CAP, &out) != eb_zip_read::ok) {
            state.SkipWithError("our reader did not read the container");
            break;
        }
    }
    meter.report(state);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const char *root = std::getenv("QEM_BENCH_TMP");
    if (root && *root) setenv("QEM_TEST_TMP", root, 1);
    const std::string dir = qtest::make_temp_dir("qem-bench-zip");
    const qbench::Meta meta{"The Quiet Sea", "H\xc3\xa9l\xc3\xa8ne", "Marchand", "fr", "", "", ""};
    qbench::Rng rng(42);
    std::vector<BookFile> books = {
        {"60KB", ""},
        {"30MB", ""},
        {"300KB_pictures", ""},
        {"20MB_80_pictures", ""},
    };
    const std::string bytes[] = {
        qbench::plated_epub(rng, 24 * KB), qbench::plated_epub(rng, 30 * MB),
        qbench::make_epub(rng, meta, {400 * KB, 80 * KB, 80 * KB, 0, false}),
        qbench::make_epub(rng, meta, {900 * KB, 19 * MB, 300 * KB, 0, false})};
    for (std::size_t i = 0; i < books.size(); ++i) {
        books[i].path = dir + "/" + books[i].name + ".epub";
        qtest::write_file(books[i].path, bytes[i]);
    }
    for (const BookFile &b : books)
        for (const char *lib : {"libzip", "ours"}) {
            std::string name = std::string("zip_open+container/") + lib + "/" + b.name;
            benchmark::RegisterBenchmark(name.c_str(), lib[0] == 'l' ? bm_zip_libzip : bm_zip_ours,
                                         &b)
                ->Unit(benchmark::kMicrosecond);
        }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtest::remove_tree(dir);
    return 0;
}
