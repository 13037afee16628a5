// comic_builder.cpp - comic archives for tests: ZIP, RAR, 7z by Debian's 7z, tar by libarchive.
#include "comic_builder.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <stdexcept>

#include "rar_builder.h"
#include "temp_dir.h"
#include "zip_builder.h"

extern char **environ;

namespace qtest {

namespace {

// Runs a program with its arguments (no shell), output discarded; its exit status.
int run(const std::vector<std::string> &argv, const std::string &dir) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// 7z adds the plain members first, then the encrypted ones under a password
// in a second run: an archive may mix both, as real ones do.
std::string seven_zip(const ComicDesc &desc) {
    TempDir tmp("comic7z");
    std::vector<std::string> plain, secret;
    for (const ComicMember &m : desc.members) {
        std::filesystem::path p = std::filesystem::path(tmp.path) / "in" / m.name;
        std::filesystem::create_directories(p.parent_path());
        write_file(p.string(), m.data);
        (m.encrypted || desc.header_encrypted ? secret : plain).push_back(m.name);
    }
    const std::string out = tmp.path + "/out.7z";
    auto add = [&](const std::vector<std::string> &names, bool password) {
        if (names.empty()) return;
        std::vector<std::string> argv = {"7z", "a", "-t7z", "-ms=on", "-mx=1", out};
        if (password) argv.push_back("-psecret");
        if (password && desc.header_encrypted) argv.push_back("-mhe=on");
        argv.push_back("--");
        argv.insert(argv.end(), names.begin(), names.end());
        if (run(argv, tmp.path + "/in") != 0) throw std::runtime_error("7z failed");
    };
    add(plain, false);
    add(secret, true);
    return read_file(out);
}

la_ssize_t append(archive *, void *out, const void *buf, size_t n) {
    static_cast<std::string *>(out)->append(static_cast<const char *>(buf), n);
    return static_cast<la_ssize_t>(n);
}

std::string tar(const ComicDesc &desc) {
    std::string out;
    archive *a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_set_bytes_in_last_block(a, 1);
    if (archive_write_open(a, &out, nullptr, append, nullptr) != ARCHIVE_OK)
        throw std::runtime_error("tar: cannot open");
    for (const ComicMember &m : desc.members) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
        archive_write_header(a, e);
        archive_write_data(a, m.data.data(), m.data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return out;
}

}  // namespace

const char *comic_ext(ComicKind kind) {
    switch (kind) {
        case ComicKind::Zip:
            return "cbz";
        case ComicKind::Rar4:
        case ComicKind::Rar5:
            return "cbr";
        case ComicKind::SevenZip:
            return "cb7";
        case ComicKind::Tar:
            return "cbt";
    }
    return "";
}

const char *comic_kind_name(ComicKind kind) {
    static const char *const names[] = {"zip", "rar4", "rar5", "7z", "tar"};
    return names[static_cast<int>(kind)];
}

std::string comic_info(const std::vector<std::pair<std::string, std::string>> &elements,
                       const std::string &inner) {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ComicInfo "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    for (const auto &[name, text] : elements)
        s += "  <" + name + ">" + text + "</" + name + ">\n";
    return s + inner + "</ComicInfo>\n";
}

bool have_7z() {
    static const bool found = run({"7z", "i"}, "") == 0;
    return found;
}

std::string build_comic(ComicKind kind, const ComicDesc &desc) {
    switch (kind) {
        case ComicKind::Zip: {
            std::vector<ZipEntry> entries;
            for (const ComicMember &m : desc.members) {
                ZipEntry e = zip_file(m.name, m.data);
                e.encrypted = m.encrypted;
                entries.push_back(e);
            }
            return build_zip(entries, desc.comment);
        }
        case ComicKind::Rar4:
        case ComicKind::Rar5: {
            RarDesc r;
            r.version = kind == ComicKind::Rar4 ? 4 : 5;
            r.solid = desc.solid;
            r.header_encrypted = desc.header_encrypted;
            for (const ComicMember &m : desc.members)
                r.entries.push_back({m.name, m.data, m.encrypted, false});
            return build_rar(r);
        }
        case ComicKind::SevenZip:
            return seven_zip(desc);
        case ComicKind::Tar:
            return tar(desc);
    }
    return {};
}

}  // namespace qtest
