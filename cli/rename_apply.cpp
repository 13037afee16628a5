// rename_apply.cpp - carries out a rename plan: atomic renames that never replace a file, into
// folders made as needed, each on record.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <cerrno>
#include <cstdlib>

#include "cli.h"
#include "json_doc.h"

namespace qcli {

namespace {

std::string join_to(std::string_view from, std::string_view to_name) {
    std::size_t slash = from.rfind('/');
    std::string to(slash == std::string_view::npos ? std::string_view{}
                                                   : from.substr(0, slash + 1));
    to += to_name;
    return to;
}

bool plain_name(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A plan entry is carried out only when it renames the file that was asked
// about within its own directory or, with folders, into folders each of one
// plain name below its base: nothing can lead outside it.
bool sane_entry(const Entry &e, const std::string &asked) {
    if (e.from != asked || !plain_name(e.to_name)) return false;
    if (!e.in_folders) return e.to == join_to(e.from, e.to_name);
    std::string to = e.base;
    for (const std::string &f : e.folders) {
        if (!plain_name(f)) return false;
        to += f + "/";
    }
    return e.to == to + e.to_name;
}

void remove_folders(const std::vector<std::string> &made) {
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        rmdir(it->c_str());  // only when empty
}

// Opens the entry's folders below its base, making those that are missing
// (`made` gets their paths, the outermost first), and never through a link:
// a folder that is a link or a file fails with ENOTDIR, so that no book
// leaves the base. The descriptor of the innermost, or -1 with errno.
int open_folders(const Entry &e, std::vector<std::string> &made) {
    int dir = open(e.base.empty() ? "." : e.base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string path = e.base;
    for (std::size_t i = 0; dir >= 0 && i < e.folders.size(); ++i) {
        const char *name = e.folders[i].c_str();
        path += e.folders[i];
        int next = -1;
        if (mkdirat(dir, name, 0777) == 0)
            made.push_back(path);
        else if (errno != EEXIST)
            next = -2;
        if (next == -1) {
            next = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ELOOP) errno = ENOTDIR;
        }
        const int err = errno;
        close(dir);
        errno = err;
        dir = next < 0 ? -1 : next;
        path += '/';
    }
    return dir;
}

// Moves one entry's book; 0, or -1 with errno. `made` gets the folders made
// for it, which are removed again when the move fails.
int move_entry(const Entry &e, std::vector<std::string> &made) {
    if (!e.in_folders) return rename_noreplace(AT_FDCWD, e.from.c_str(), AT_FDCWD, e.to.c_str());
    int dir = open_folders(e, made);
    int rc = dir < 0 ? -1 : rename_noreplace(AT_FDCWD, e.from.c_str(), dir, e.to_name.c_str());
    const int err = errno;
    if (dir >= 0) close(dir);
    if (rc != 0) {
        remove_folders(made);
        made.clear();
    }
    errno = err;
    return rc;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Puts one finished rename on record at once, should the run be cut short:
// in the log and on standard output, each a line of the plan's own keys
// ("from", "to") that --undo takes back. What could not take it, or null.
const char *report_renamed(const Entry &e, const std::vector<std::string> &made,
                           const ApplyOutput &out) {
    const std::string line = move_line(e.from, e.to, made);
    errno = 0;
    if (out.log_fd >= 0 && !write_all(out.log_fd, line)) return "the log";
    const bool ok = (out.table ? write_out(stdout, shown(e.from) + " \u2192 " + shown(e.to) + "\n")
                               : write_json(line)) &&
                    std::fflush(stdout) == 0 && !std::ferror(stdout);
    return ok ? nullptr : "standard output";
}

}  // namespace

std::string move_line(std::string_view from, std::string_view to,
                      const std::vector<std::string> &made) {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *obj = doc ? yyjson_mut_obj(doc.get()) : nullptr;
    if (!obj) throw std::bad_alloc();
    yyjson_mut_doc_set_root(doc.get(), obj);
    yyjson_mut_obj_add_strncpy(doc.get(), obj, "from", from.data(), from.size());
    yyjson_mut_obj_add_strncpy(doc.get(), obj, "to", to.data(), to.size());
    if (!made.empty()) {
        yyjson_mut_val *arr = yyjson_mut_obj_add_arr(doc.get(), obj, "made_folders");
        for (const std::string &m : made)
            yyjson_mut_arr_add_strncpy(doc.get(), arr, m.data(), m.size());
    }
    std::size_t len = 0;
    char *text = yyjson_mut_write(doc.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, &len);
    if (!text) throw std::bad_alloc();
    std::string line(text, len);
    std::free(text);
    return line + '\n';
}

int rename_noreplace(int from_dir, const char *from, int to_dir, const char *to) {
    if (renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the no-replace flag: a hard link fails with
    // EEXIST on a taken name, so the target is never replaced either.
    if (linkat(from_dir, from, to_dir, to, 0) != 0) return -1;
    if (unlinkat(from_dir, from, 0) != 0) {
        int err = errno;
        unlinkat(to_dir, to, 0);  // still a second name of `from`, which is intact
        errno = err;
        return -1;
    }
    return 0;
}

// Renames that find their target taken are tried again once other renames
// have moved files away (a book taking the old name of another); what still
// finds its target taken is a conflict. When the record of a rename cannot
// be written, nothing more is renamed: the user could not learn what moved.
bool apply_plan(const std::vector<Entry> &plan, const std::vector<std::string> &asked,
                const ApplyOutput &output) {
    if (plan.size() != asked.size()) {
        complain("the rename plan does not match the request (%zu entries for %zu books)",
                 plan.size(), asked.size());
        return false;
    }
    std::size_t renamed = 0, unchanged = 0, failed = 0;
    std::vector<const Entry *> pending;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const Entry &e = plan[i];
        if (!sane_entry(e, asked[i])) {
            complain("not renamed: %s: unexpected plan entry (to %s)", e.from.c_str(),
                     e.to.c_str());
            ++failed;
        } else if (e.to == e.from) {
            ++unchanged;
        } else {
            pending.push_back(&e);
        }
    }
    bool out_ok = true;
    for (bool progress = true; out_ok && progress && !pending.empty();) {
        progress = false;
        std::vector<const Entry *> taken;
        for (std::size_t k = 0; k < pending.size(); ++k) {
            const Entry *e = pending[k];
            std::vector<std::string> made;
            if (!out_ok) {
                taken.push_back(e);
            } else if (move_entry(*e, made) == 0) {
                ++renamed;
                progress = true;
                if (const char *what = report_renamed(*e, made, output)) {
                    int err = errno ? errno : EIO;
                    complain("cannot write to %s (%s); stopped after renaming %s \u2192 %s", what,
                             errno_text(err).c_str(), e->from.c_str(), e->to.c_str());
                    out_ok = false;
                }
            } else if (errno == EEXIST) {
                taken.push_back(e);
            } else {
                complain("not renamed: %s \u2192 %s: %s", e->from.c_str(), e->to.c_str(),
                         errno_text(errno).c_str());
                ++failed;
            }
        }
        pending.swap(taken);
    }
    for (const Entry *e : pending) {
        if (out_ok)
            complain("not renamed: %s \u2192 %s: target exists", e->from.c_str(), e->to.c_str());
        ++failed;
    }
    complain("%zu renamed, %zu unchanged, %zu not renamed", renamed, unchanged, failed);
    return failed == 0 && out_ok;
}

}  // namespace qcli
