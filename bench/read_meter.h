// read_meter.h - bytes a benchmark's calls read, from the kernel's count for this process.
#ifndef QEM_BENCH_READ_METER_H
#define QEM_BENCH_READ_METER_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace qbench {

// rchar of this process (/proc/self/io): every byte read() and pread() gave;
// -1 when the kernel does not say.
inline long long bytes_read_so_far() {
    std::FILE *f = std::fopen("/proc/self/io", "r");
    if (!f) return -1;
    long long v = -1;
    char key[32];
    while (std::fscanf(f, "%31s %lld", key, &v) == 2 && std::strcmp(key, "rchar:") != 0)
        v = -1;
    std::fclose(f);
    return v;
}

// Bytes read per call as the counter "read_KiB", measured around the timed
// loop (the meter's own reads of /proc/self/io fall outside it).
struct read_meter {
    long long before = bytes_read_so_far();
    void report(benchmark::State &state) const {
        long long after = bytes_read_so_far();
        if (before >= 0 && after >= 0 && state.iterations() > 0)
            state.counters["read_KiB"] = static_cast<double>(after - before) / 1024.0 /
                                         static_cast<double>(state.iterations());
    }
};

}  // namespace qbench

#endif
