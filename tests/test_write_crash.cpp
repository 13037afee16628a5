// test_write_crash.cpp - kill -9 at random moments of a CLI write of a 30 MB book: the book is
// always whole, the old one or the new one; what a crash leaves is recognisable by its name.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "io/zip_archive.h"
#include "test_cli_harness.h"

namespace {

using namespace qcli_test;
using Clock = std::chrono::steady_clock;

pid_t start(const std::vector<std::string> &args) {
    std::vector<std::string> a = args;
    a.insert(a.begin(), kBinary);
    std::vector<char *> argv;
    for (std::string &s : a)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, kBinary, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// The book's title when it is whole: every member reads with its CRC.
std::string whole_title(const std::string &path) {
    const std::string bytes = qtest::read_file(path);
    eb_zip_archive za(bytes.data(), bytes.size());
    std::string data;
    for (std::uint64_t i = 0; za.ok() && i < za.count(); ++i)
        if (za.read(i, 64u << 20, &data) != eb_zip_read::ok)
            return "<broken: " + std::string(za.name(i)) + ">";
    char *t = ebook_metadata(path.c_str());
    const std::string title = t ? member(t, "title") : "<unreadable>";
    ebook_free_string(t);
    return za.ok() ? title : "<no archive>";
}

using CliCrash = Cli;

TEST_F(CliCrash, KilledAtRandomTheBookStaysWhole) {
    TempDir dir("cli-crash");
    qtest::EpubDesc d;
    d.members.push_back(
        qtest::zip_file("OEBPS/images/big.bin", qtest::incompressible(30 << 20), false));
    const std::string book = dir.put("b.epub", qtest::build_epub(d));

    // One write whole, to know how long one takes.
    const auto t0 = Clock::now();
    ASSERT_EQ(run({"set", book, "--title", "T0"}).rc, 0);
    const auto full = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
    std::string title = "T0";
    std::mt19937 rng(31);
    std::uniform_int_distribution<long> when(0, full.count() * 5 / 4);
    int old_kept = 0, new_made = 0;
    for (int i = 1; i <= 16; ++i) {
        const std::string next = "T" + std::to_string(i);
        const pid_t pid = start({"set", book, "--title", next});
        std::this_thread::sleep_for(std::chrono::microseconds(when(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const std::string now = whole_title(book);
        EXPECT_TRUE(now == title || now == next) << "after kill " << i << ": " << now;
        (now == next ? new_made : old_kept) += 1;
        title = now;
        for (const auto &e : std::filesystem::directory_iterator(dir.path)) {
            const std::string name = e.path().filename().string();
            if (name == "b.epub") continue;
            EXPECT_EQ(name.rfind(".b.epub.quenfold-", 0), 0u) << name;
            std::filesystem::remove(e.path());
        }
    }
    std::cout << "[ killed ] old book kept " << old_kept << " times, new one made " << new_made
              << " times (a write takes " << full.count() / 1000 << " ms)\n";
}

}  // namespace
