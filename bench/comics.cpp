// comics.cpp - comic archives for the benchmarks: a CBZ's cost against the number and weight of
// its pages (Google Benchmark), and a seeded comic library for bench/compare's exiftool rows.
//
//   qem_bench_comics [benchmark flags]    CBZs of 5 MB and 300 MB, same metadata, timed
//   qem_bench_comics cbz DIR              the same CBZs into DIR (for callgrind)
//   qem_bench_comics library DIR N [SEED] N comics (cbz, cbr, cb7, cbt) into DIR
#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_books.h"
#include "book_builders.h"
#include "comic_builder.h"
#include "quenfold_ebook.h"

namespace {

constexpr std::size_t KiB = 1024, MiB = 1024 * 1024;

std::string comic_info_for(const qbench::Meta &m, int pages) {
    return qtest::comic_info({{"Title", m.title},
                              {"Series", m.series.empty() ? m.title : m.series},
                              {"Number", m.series_index.empty() ? "1" : m.series_index},
                              {"Writer", m.author_first + " " + m.author_last},
                              {"Penciller", "Tom Bell"},
                              {"Colorist", "Kay Rowe"},
                              {"Year", "2019"},
                              {"Genre", "Adventure, Mystery"},
                              {"LanguageISO", m.language},
                              {"PageCount", std::to_string(pages)}},
                             "  <Pages><Page Image=\"0\" Type=\"FrontCover\"/></Pages>\n");
}

// One page's bytes, made while libzip reads them: a JPEG header and an
// incompressible body, never held whole.
struct page_stream {
    std::uint64_t size, pos = 0, x;
    zip_error_t error;
};

zip_int64_t page_source(void *ud, void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto *p = static_cast<page_stream *>(ud);
    switch (cmd) {
        case ZIP_SOURCE_OPEN:
            p->pos = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            const zip_uint64_t n = std::min<zip_uint64_t>(len, p->size - p->pos);
            auto *out = static_cast<unsigned char *>(data);
            for (zip_uint64_t i = 0; i < n; ++i) {
                p->x ^= p->x << 13, p->x ^= p->x >> 7, p->x ^= p->x << 17;
                out[i] = static_cast<unsigned char>(p->x);
            }
            if (p->pos == 0 && n >= 3) std::memcpy(out, "\xFF\xD8\xFF", 3);
            p->pos += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &p->error);
            if (!st) return -1;
            zip_stat_init(st);
            st->size = p->size;
            st->valid |= ZIP_STAT_SIZE;
            return sizeof *st;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&p->error, data, len);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                  ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            return -1;
    }
}

// A CBZ of `pages` stored pages of `page_bytes` each behind one ComicInfo.xml,
// written to path as libzip streams it.
void write_cbz(const std::string &path, int pages, std::uint64_t page_bytes) {
    int code = 0;
    zip_t *za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) throw std::runtime_error("cannot create " + path);
    const qbench::Meta m{"The Long Night", "Mara", "Quinn", "en", "Harbour Watch", "7", ""};
    const std::string info = comic_info_for(m, pages);
    zip_file_add(za, "ComicInfo.xml", zip_source_buffer(za, info.data(), info.size(), 0), 0);
    std::vector<page_stream> streams(static_cast<std::size_t>(pages));
    for (int i = 0; i < pages; ++i) {
        page_stream &s = streams[static_cast<std::size_t>(i)];
        s.size = page_bytes;
        s.x = 88172645463325252ull + static_cast<std::uint64_t>(i);
        zip_error_init(&s.error);
        char name[32];
        std::snprintf(name, sizeof name, "pages/%04d.jpg", i + 1);
        zip_int64_t idx = zip_file_add(za, name, zip_source_function(za, page_source, &s), 0);
        zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_STORE, 0);
    }
    if (zip_close(za) != 0) throw std::runtime_error("cannot write " + path);
}

struct cbz_shape {
    const char *label;
    int pages;
    std::uint64_t page_bytes;
};
const cbz_shape kShapes[] = {
    {"5MB_50pages", 50, 100 * KiB},
    {"300MB_50pages", 50, 6 * MiB},
    {"300MB_3000pages", 3000, 100 * KiB},
};

std::string bench_dir() {
    static const std::string dir = qtest::make_temp_dir("qem-bench-comics");
    return dir;
}

void BM_CbzMetadata(benchmark::State &state, const cbz_shape &shape) {
    const std::string path = bench_dir() + "/" + shape.label + ".cbz";
    if (!std::filesystem::exists(path)) write_cbz(path, shape.pages, shape.page_bytes);
    for (auto _ : state) {
        char *json = ebook_metadata(path.c_str());
        if (!json) state.SkipWithError(ebook_last_error());
        benchmark::DoNotOptimize(json);
        ebook_free_string(json);
    }
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

// N comics with the mix a collection has: mostly CBZ, then CBR, some CB7
// and CBT; 20 to 40 pages of 40 to 250 KiB.
int write_library(const std::string &dir, int n, std::uint64_t seed) {
    std::filesystem::create_directories(dir);
    const bool seven = qtest::have_7z();
    for (int i = 0; i < n; ++i) {
        qbench::Rng rng(seed * 1000003u + static_cast<std::uint64_t>(i));
        const qbench::Meta m = qbench::random_meta(rng);
        const int pages = static_cast<int>(rng.range(20, 40));
        qtest::ComicDesc d;
        d.members.push_back({"ComicInfo.xml", comic_info_for(m, pages)});
        for (int p = 1; p <= pages; ++p) {
            char name[32];
            std::snprintf(name, sizeof name, "page%d.jpg", p);
            d.members.push_back({name, qbench::fake_jpeg(rng, rng.range(40 * KiB, 250 * KiB))});
        }
        const std::size_t roll = rng.range(0, 99);
        qtest::ComicKind kind = roll < 60            ? qtest::ComicKind::Zip
                                : roll < 80          ? qtest::ComicKind::Rar5
                                : roll < 90 && seven ? qtest::ComicKind::SevenZip
                                : roll < 90          ? qtest::ComicKind::Zip
                                                     : qtest::ComicKind::Tar;
        char name[64];
        std::snprintf(name, sizeof name, "%05d.%s", i, qtest::comic_ext(kind));
        qtest::write_file(dir + "/" + name, qtest::build_comic(kind, d));
    }
    std::printf("%d comics written to %s\n", n, dir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 4 && std::string(argv[1]) == "library")
        return write_library(argv[2], std::atoi(argv[3]),
                             argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
    if (argc == 3 && std::string(argv[1]) == "cbz") {
        std::filesystem::create_directories(argv[2]);
        for (const cbz_shape &s : kShapes)
            write_cbz(std::string(argv[2]) + "/" + s.label + ".cbz", s.pages, s.page_bytes);
        return 0;
    }
    for (const cbz_shape &s : kShapes)
        benchmark::RegisterBenchmark((std::string("CbzMetadata/") + s.label).c_str(),
                                     BM_CbzMetadata, s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtest::remove_tree(bench_dir());
    return 0;
}
