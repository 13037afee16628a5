// test_cli_harness.h - runs the built quenfold-ebook-meta tool on generated books, for its
// end-to-end tests.
#ifndef QEM_TEST_CLI_HARNESS_H
#define QEM_TEST_CLI_HARNESS_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <yyjson.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "book_builders.h"
#include "fb2_builder.h"
#include "quenfold_ebook.h"
#include "zip_builder.h"
#include "temp_dir.h"

extern char **environ;

namespace qcli_test {

#ifdef QEM_CLI_BINARY
inline const char *const kBinary = QEM_CLI_BINARY;
#else
inline const char *const kBinary = nullptr;
#endif

struct Outcome {
    int rc = -1;
    std::string out, err;
    long peak_kib = 0;  // the tool's peak resident memory
};

// How to run the tool: its arguments, additions to the environment, a file
// to take standard output instead of capturing it (such as /dev/full), and
// shell commands to run first (such as "ulimit -v 100000").
struct Spawn {
    std::vector<std::string> args;
    std::vector<std::string> env_extra;
    std::string stdout_path;
    std::string shell_setup;
};

// Runs the tool with stdin from /dev/null and stdout/stderr captured in
// files (so neither is a terminal).
inline Outcome run(Spawn s) {
    std::string io = qtest::make_temp_dir("cli-io");
    std::string out_path = s.stdout_path.empty() ? io + "/out" : s.stdout_path;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, (io + "/err").c_str(), O_WRONLY | O_CREAT, 0644);
    std::vector<std::string> args = std::move(s.args);
    args.insert(args.begin(), kBinary);
    const char *program = kBinary;
    if (!s.shell_setup.empty()) {
        args.insert(args.begin(), {"/bin/sh", "-c", s.shell_setup + "; exec \"$@\"", "sh"});
        program = "/bin/sh";
    }
    std::vector<std::string> env = std::move(s.env_extra);
    for (char **e = environ; *e; ++e)
        env.insert(env.begin(), *e);
    auto c_array = [](std::vector<std::string> &v) {
        std::vector<char *> p;
        for (auto &x : v)
            p.push_back(x.data());
        p.push_back(nullptr);
        return p;
    };
    pid_t pid;
    Outcome r;
    int rc = posix_spawn(&pid, program, &fa, nullptr, c_array(args).data(), c_array(env).data());
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    rusage ru{};
    if (rc == 0 && wait4(pid, &status, 0, &ru) == pid) {
        r.peak_kib = ru.ru_maxrss;
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (s.stdout_path.empty()) r.out = qtest::read_file(io + "/out");
        r.err = qtest::read_file(io + "/err");
    } else {
        ADD_FAILURE() << "cannot run " << program << ": " << std::strerror(rc);
    }
    qtest::remove_tree(io);
    return r;
}

inline Outcome run(std::vector<std::string> args, std::vector<std::string> env_extra = {}) {
    return run(Spawn{std::move(args), std::move(env_extra), "", ""});
}

using qtest::TempDir;

inline std::string mobi(const std::string &title, const std::string &author, bool cover = false) {
    qtest::MobiDesc s;
    s.full_name = title;
    if (!author.empty()) s.exth_records = {{100, author}};
    if (cover) {
        s.images = {qtest::tiny_jpeg()};
        s.cover_image = 0;
    }
    return qtest::build_mobi(s);
}

inline std::string fb2(const std::string &title, const std::string &series,
                       const std::string &idx) {
    qtest::Fb2Desc s;
    s.title = title;
    s.series = series;
    s.series_number = idx;
    return qtest::build_fb2(s);
}

inline std::string epub(const std::string &title, const std::string &author,
                        const std::string &series = "", const std::string &idx = "",
                        const std::string &cover = "") {
    qtest::EpubDesc s;
    s.title = title;
    s.creator = author;
    s.calibre_series = series;
    s.calibre_index = idx;
    s.cover = cover;
    return qtest::build_epub(s);
}

inline std::string lib_info(const std::string &path) {
    char *t = ebook_info(path.c_str());
    std::string s = t ? t : "";
    ebook_free_string(t);
    return s;
}

// The compact text of each element of a JSON array, in order.
inline std::vector<std::string> elements(const std::string &array) {
    std::vector<std::string> out;
    yyjson_doc *doc = yyjson_read(array.data(), array.size(), YYJSON_READ_ALLOW_INVALID_UNICODE);
    EXPECT_TRUE(doc && yyjson_is_arr(yyjson_doc_get_root(doc))) << array;
    if (!doc) return out;
    std::size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, n, v) {
        char *t = yyjson_val_write(v, YYJSON_WRITE_ALLOW_INVALID_UNICODE, nullptr);
        out.emplace_back(t);
        std::free(t);
    }
    yyjson_doc_free(doc);
    return out;
}

inline std::string member(const std::string &obj, const char *key) {
    yyjson_doc *doc = yyjson_read(obj.data(), obj.size(), YYJSON_READ_ALLOW_INVALID_UNICODE);
    yyjson_val *v = doc ? yyjson_obj_get(yyjson_doc_get_root(doc), key) : nullptr;
    std::string s = yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : "";
    yyjson_doc_free(doc);
    return s;
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// Terminal columns for the characters these tests use: CJK ideographs take
// two, combining accents none, the rest one.
inline std::size_t columns(const std::string &s) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (std::size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (s[i + k] & 0x3F);
        w += (cp >= 0x4E00 && cp <= 0x9FFF) ? 2 : (cp >= 0x300 && cp <= 0x36F) ? 0 : 1;
        i += n;
    }
    return w;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!kBinary) GTEST_SKIP() << "the command-line tool is not built";
    }
};

}  // namespace qcli_test

#endif
