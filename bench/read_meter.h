// read_meter.h - bytes and read requests of a benchmark's calls, from the kernel's counts for
// this process.
#ifndef QEM_BENCH_READ_METER_H
#define QEM_BENCH_READ_METER_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace qbench {

// rchar and syscr of this process (/proc/self/io): every byte read() and
// pread() gave, and how many such calls were made; -1 when the kernel does
// not say.
struct io_counts {
    long long bytes = -1, calls = -1;
};

inline io_counts io_so_far() {
    io_counts c;
    std::FILE *f = std::fopen("/proc/self/io", "r");
    if (!f) return c;
    long long v = -1;
    char key[32];
    while (std::fscanf(f, "%31s %lld", key, &v) == 2) {
        if (std::strcmp(key, "rchar:") == 0) c.bytes = v;
        if (std::strcmp(key, "syscr:") == 0) c.calls = v;
    }
    std::fclose(f);
    return c;
}

// Bytes and read calls per iteration as the counters "read_KiB" and "reads",
// measured around the timed loop. The meter's own reads of /proc/self/io are
// measured once with nothing between them and taken off.
struct read_meter {
    long long own_calls = [] {
        io_counts a = io_so_far(), b = io_so_far();
        return a.calls >= 0 && b.calls >= 0 ? b.calls - a.calls : 0;
    }();
    io_counts before = io_so_far();
    void report(benchmark::State &state) const {
        io_counts after = io_so_far();
        const double n = static_cast<double>(state.iterations());
        if (n <= 0) return;
        if (before.bytes >= 0 && after.bytes >= 0)
            state.counters["read_KiB"] =
                static_cast<double>(after.bytes - before.bytes) / 1024.0 / n;
        if (before.calls >= 0 && after.calls >= 0)
            state.counters["reads"] =
                static_cast<double>(after.calls - before.calls - own_calls) / n;
    }
};

}  // namespace qbench

#endif
