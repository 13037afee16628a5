// hostile.cpp - Google Benchmark over hostile books: nested and unclosed tags, a package
// document that inflates to 500 MB. Every read must stay linear in the book and bounded
// in memory; each benchmark checks the result it measures.
//
// Books are written once to a temporary directory (QEM_BENCH_TMP, else the
// system's). "doc_MB" is the size of the document the reader scans,
// "peak_rss_MB" the process's peak resident size after the benchmark.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "book_builders.h"
#include "hostile_books.h"
#include "quenfold_ebook.h"

namespace {

constexpr double MB = 1024.0 * 1024.0;

std::string &work_dir() {
    static std::string dir = [] {
        const char *root = std::getenv("QEM_BENCH_TMP");
        if (root && *root) setenv("QEM_TEST_TMP", root, 1);
        return qtest::make_temp_dir("qem-bench-hostile");
    }();
    return dir;
}

struct Shape {
    const char *name;
    const char *file;
    double doc_bytes;
    std::function<void(const std::string &path)> write;
    std::string want;  // the start of ebook_info's text, or "ERR:" and the message
};

std::string epub_json(const std::string &rest) {
    return R"({"drm":false,"format":"epub",)" + rest;
}

const std::vector<Shape> &shapes() {
    static const std::vector<Shape> v = {
        {"epub/nested_dc_creator/800k", "creators.epub", 800000 * 12.0,
         [](const std::string &p) {
             qtest::write_file(p, qtest::epub_around_opf(qtest::nested_creators_opf(800000)));
         },
         epub_json(R"("title":"Hostile","author":"",)")},
        {"fb2/nested_title_info/400k", "title-info-400k.fb2", 400000 * 12.0,
         [](const std::string &p) { qtest::write_file(p, qtest::nested_title_info_fb2(400000)); },
         R"({"drm":false,"format":"fb2","title":"",)"},
        {"fb2/nested_title_info/870k", "title-info-870k.fb2", 870000 * 12.0,
         [](const std::string &p) { qtest::write_file(p, qtest::nested_title_info_fb2(870000)); },
         R"({"drm":false,"format":"fb2","title":"",)"},
        {"epub/unclosed_meta_collection/270k", "collections.epub", 270000 * 39.0,
         [](const std::string &p) {
             qtest::write_file(p, qtest::epub_around_opf(
                                      qtest::unclosed_metas_opf(270000, "belongs-to-collection")));
         },
         epub_json(R"("title":"Hostile","author":"","language":"","series":"",)")},
        {"epub/unclosed_meta_cover/450k", "covers.epub", 450000 * 23.0,
         [](const std::string &p) {
             qtest::write_file(p,
                               qtest::epub_around_opf(qtest::unclosed_metas_opf(450000, "cover")));
         },
         epub_json(R"("title":"Hostile",)")},
        {"epub/package_inflating_to_500MB", "inflating.epub", 500.0 * MB,
         [](const std::string &p) { qtest::write_inflating_epub(p, 500ull * 1024 * 1024); },
         "ERR:missing zip entry: OEBPS/content.opf"},
    };
    return v;
}

std::string info_text(const std::string &path) {
    char *s = ebook_info(path.c_str());
    if (!s) return "ERR:" + std::string(ebook_last_error());
    std::string out = s;
    ebook_free_string(s);
    return out;
}

void bm_hostile(benchmark::State &state, const Shape *shape) {
    const std::string path = work_dir() + "/" + shape->file;
    static std::vector<std::string> written;
    bool have = false;
    for (const std::string &w : written)
        have = have || w == path;
    if (!have) {
        shape->write(path);
        written.push_back(path);
    }
    const std::string got = info_text(path);
    if (got.compare(0, shape->want.size(), shape->want) != 0) {
        state.SkipWithError(("unexpected result: " + got).c_str());
        return;
    }
    for (auto _ : state) {
        char *s = ebook_info(path.c_str());
        benchmark::DoNotOptimize(s);
        ebook_free_string(s);
    }
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    state.counters["doc_MB"] = shape->doc_bytes / MB;
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const Shape &s : shapes())
        benchmark::RegisterBenchmark((std::string("ebook_info/") + s.name).c_str(), bm_hostile, &s)
            ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qtest::remove_tree(work_dir());
    return 0;
}
