// make_library.cpp - writes a seeded library of books with the sizes and mix of a real
// collection (mostly EPUB with pictures, FB2 with covers, MOBI/AZW3), for bench/compare.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_books.h"
#include "book_builders.h"

namespace {

constexpr std::size_t KB = 1024, MB = 1024 * 1024;

struct Made {
    std::string name;
    std::string bytes;
};

std::string file_name(std::size_t i, const qbench::Meta &m, const char *ext) {
    char num[16];
    std::snprintf(num, sizeof num, "%05zu", i);
    return std::string(num) + " " + m.author_first + " " + m.author_last + " - " + m.title + "." +
           ext;
}

// Book i of the library: its own generator, so that the library does not
// depend on how the work is shared between threads.
Made make_book(std::uint64_t seed, std::size_t i) {
    qbench::Rng rng(seed * 1000003u + i);
    qbench::Meta m = qbench::random_meta(rng);
    double kind = static_cast<double>(rng.next() % 10000) / 10000.0;

    if (kind < 0.70) {
        // EPUB: most between 100 KB and 2 MB, a few large illustrated ones.
        std::size_t total =
            rng.chance(0.02) ? rng.log_range(5 * MB, 25 * MB) : rng.log_range(100 * KB, 2 * MB);
        qbench::EpubShape shape;
        shape.cover_bytes =
            rng.chance(0.95) ? std::min(total / 3, rng.range(40 * KB, 300 * KB)) : 0;
        std::size_t text_packed = std::min(total - shape.cover_bytes, rng.range(60 * KB, 300 * KB));
        shape.text_bytes = text_packed * 3;  // prose deflates about 3:1
        shape.image_bytes = total - shape.cover_bytes - text_packed;
        shape.encrypted = rng.chance(0.005);
        return {file_name(i, m, "epub"), qbench::make_epub(rng, m, shape)};
    }
    if (kind < 0.84) {
        qbench::Fb2Shape shape;
        shape.text_bytes = rng.log_range(150 * KB, 1200 * KB);
        shape.cover_bytes = rng.chance(0.9) ? rng.range(40 * KB, 400 * KB) : 0;
        shape.image_bytes = rng.chance(0.1) ? rng.log_range(200 * KB, 2 * MB) : 0;
        return {file_name(i, m, "fb2"), qbench::make_fb2(rng, m, shape)};
    }
    qbench::MobiShape shape;
    shape.kf8 = kind >= 0.93;
    shape.text_bytes = rng.log_range(200 * KB, 1500 * KB);
    shape.cover_bytes = rng.chance(0.95) ? rng.range(40 * KB, 300 * KB) : 0;
    shape.image_bytes = rng.chance(0.3) ? rng.log_range(100 * KB, 3 * MB) : 0;
    shape.encryption = rng.chance(0.02) ? 2 : 0;
    if (shape.kf8 || rng.chance(0.5)) {
        char asin[16];
        std::snprintf(asin, sizeof asin, "B0%08llu",
                      static_cast<unsigned long long>(rng.next() % 100000000ull));
        m.asin = asin;
    }
    const char *ext = shape.encryption ? "azw" : shape.kf8 ? "azw3" : "mobi";
    return {file_name(i, m, ext), qbench::make_mobi(rng, m, shape)};
}

int usage() {
    std::fprintf(stderr,
                 "usage: qem_bench_library DIR [--books N] [--seed S] [--jobs N]\n"
                 "Writes N books (default 2000) into DIR, which must be empty or absent.\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    std::string dir = argv[1];
    std::size_t books = 2000;
    std::uint64_t seed = 1;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    for (int a = 2; a < argc; ++a) {
        if (a + 1 >= argc) return usage();
        if (!std::strcmp(argv[a], "--books"))
            books = std::strtoull(argv[++a], nullptr, 10);
        else if (!std::strcmp(argv[a], "--seed"))
            seed = std::strtoull(argv[++a], nullptr, 10);
        else if (!std::strcmp(argv[a], "--jobs"))
            jobs = static_cast<unsigned>(std::max(1ull, std::strtoull(argv[++a], nullptr, 10)));
        else
            return usage();
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir) || !std::filesystem::is_empty(dir)) {
        std::fprintf(stderr, "qem_bench_library: %s is not an empty directory\n", dir.c_str());
        return 1;
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex mu;
    std::uint64_t total = 0, largest = 0;
    std::string largest_name;
    auto work = [&] {
        for (std::size_t i; (i = next++) < books && !failed;) {
            try {
                Made b = make_book(seed, i);
                const std::string path = dir + "/" + b.name;
                qtest::write_file(path, b.bytes);
                // The writer does not report a short write (a full disk): check the size.
                if (std::filesystem::file_size(path) != b.bytes.size())
                    throw std::runtime_error("short write: " + path);
                std::lock_guard<std::mutex> lock(mu);
                total += b.bytes.size();
                if (b.bytes.size() > largest) {
                    largest = b.bytes.size();
                    largest_name = b.name;
                }
            } catch (const std::exception &e) {
                std::fprintf(stderr, "qem_bench_library: book %zu: %s\n", i, e.what());
                failed = true;
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < jobs; ++t)
        pool.emplace_back(work);
    for (std::thread &t : pool)
        t.join();
    if (failed) return 1;
    std::printf("%zu books, %llu bytes, largest %llu bytes (%s)\n", books,
                static_cast<unsigned long long>(total), static_cast<unsigned long long>(largest),
                largest_name.c_str());
    return 0;
}
