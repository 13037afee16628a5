// rename_apply.cpp - carries out a rename plan: atomic renames that never replace a file, each on
// record.
#include <fcntl.h>
#include <stdio.h>
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

// A plan entry is carried out only when it renames the file that was asked
// about within its own directory.
bool sane_entry(const Entry &e, const std::string &asked) {
    if (e.from != asked) return false;
    if (e.to_name.empty() || e.to_name == "." || e.to_name == ".." ||
        e.to_name.find('/') != std::string::npos)
        return false;
    return e.to == join_to(e.from, e.to_name);
}

// Puts one finished rename on record at once, should the run be cut short;
// false when standard output cannot take it.
bool report_renamed(const Entry &e, bool table) {
    std::string line;
    if (table) {
        line = shown(e.from) + " \u2192 " + shown(e.to) + "\n";
    } else {
        eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
        yyjson_mut_val *obj = doc ? yyjson_mut_obj(doc.get()) : nullptr;
        if (!obj) throw std::bad_alloc();
        yyjson_mut_doc_set_root(doc.get(), obj);
        add_path_members(doc.get(), obj, e.from);
        yyjson_mut_obj_add_strncpy(doc.get(), obj, "to", e.to.data(), e.to.size());
        std::size_t len = 0;
        char *text = yyjson_mut_write(doc.get(), YYJSON_WRITE_ALLOW_INVALID_UNICODE, &len);
        if (!text) throw std::bad_alloc();
        line.assign(text, len);
        line += '\n';
        std::free(text);
    }
    errno = 0;
    return (table ? write_out(stdout, line) : write_json(line)) && std::fflush(stdout) == 0 &&
           !std::ferror(stdout);
}

}  // namespace

int rename_noreplace(const char *from, const char *to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the no-replace flag: a hard link fails with
    // EEXIST on a taken name, so the target is never replaced either.
    if (link(from, to) != 0) return -1;
    if (unlink(from) != 0) {
        int err = errno;
        unlink(to);  // still a second name of `from`, which is intact
        errno = err;
        return -1;
    }
    return 0;
}

// Renames that find their target taken are tried again once other renames
// have moved files away (a book taking the old name of another); what still
// finds its target taken is a conflict. When the record of a rename cannot
// be written, nothing more is renamed: the user could not learn what moved.
bool apply_plan(const std::vector<Entry> &plan, const std::vector<std::string> &asked, bool table) {
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
            if (!out_ok) {
                taken.push_back(e);
            } else if (rename_noreplace(e->from.c_str(), e->to.c_str()) == 0) {
                ++renamed;
                progress = true;
                if (!report_renamed(*e, table)) {
                    int err = errno ? errno : EIO;
                    complain(
                        "cannot write to standard output (%s); stopped after renaming %s "
                        "\u2192 %s",
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
