// rename.cpp - the rename subcommand: plans new names through the library, renames without loss.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

// The planner keeps a book's path in a field of this many bytes; a longer
// one would come back cut, naming another file than the one asked about.
constexpr std::size_t kMaxPlanPath = 511;

struct DocFree {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
    void operator()(yyjson_mut_doc *d) const { yyjson_mut_doc_free(d); }
};
using Doc = std::unique_ptr<yyjson_doc, DocFree>;
using MutDoc = std::unique_ptr<yyjson_mut_doc, DocFree>;

struct LibString {
    void operator()(char *s) const { ebook_free_string(s); }
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// The planner reads and writes JSON that must be valid UTF-8 throughout.
bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        unsigned lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i - 1 < n) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if (k == 1 ? (cc < lo || cc > hi) : (cc < 0x80 || cc > 0xBF)) return false;
        }
        i += n + 1;
    }
    return true;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Compares names with runs of digits taken by value, so that "X (2)" comes
// before "X (10)" and a bare "X" before both.
int natural_cmp(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && is_digit(a[ie]))
                ++ie;
            while (je < b.size() && is_digit(b[je]))
                ++je;
            std::string_view da = a.substr(i, ie - i), db = b.substr(j, je - j);
            while (da.size() > 1 && da.front() == '0')
                da.remove_prefix(1);
            while (db.size() > 1 && db.front() == '0')
                db.remove_prefix(1);
            if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
            if (int c = da.compare(db)) return c;
            i = ie;
            j = je;
            continue;
        }
        auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return a.compare(b);
}

struct PathParts {
    std::string_view dir, stem, ext;
};

PathParts split(std::string_view path) {
    std::size_t slash = path.rfind('/');
    std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    std::string_view file = path.substr(start);
    std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {path.substr(0, start), file, {}};
    return {path.substr(0, start), file.substr(0, dot), file.substr(dot)};
}

// Request order decides which of two clashing books gets the plain name and
// which the numbered one. Ordering by directory, then by name with numbers
// by value, makes a second run over already renamed books plan exactly the
// names they have, so it changes nothing.
bool request_order(const std::string &a, const std::string &b) {
    PathParts pa = split(a), pb = split(b);
    if (int c = pa.dir.compare(pb.dir)) return c < 0;
    if (int c = natural_cmp(pa.stem, pb.stem)) return c < 0;
    if (int c = pa.ext.compare(pb.ext)) return c < 0;
    return a < b;
}

struct Entry {
    std::string from, to, to_name;
};

std::string str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return {};
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

// Gathers the book files named on the command line or lying in the named
// directories, each file once even when reached by two names.
bool gather(const RenameOptions &opt, std::vector<std::string> &out) {
    bool ok = true;
    Visited dirs;
    std::set<std::pair<dev_t, ino_t>> files;
    auto add = [&](const std::string &p) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0 && !files.insert({st.st_dev, st.st_ino}).second) return;
        out.push_back(p);
    };
    for (const std::string &arg : opt.paths) {
        struct stat st;
        if (stat(arg.c_str(), &st) != 0) {
            complain("%s: %s", arg.c_str(), std::strerror(errno));
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            std::vector<std::string> found;
            ok = collect_books(arg, opt.recursive, dirs, found) && ok;
            for (const std::string &p : found)
                add(p);
        } else {
            add(arg);
        }
    }
    return ok;
}

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

void report_renamed(const Entry &e, bool table) {
    if (table) {
        std::string line = e.from + " \u2192 " + e.to + "\n";
        write_out(stdout, line);
    } else {
        MutDoc doc(yyjson_mut_doc_new(nullptr));
        if (doc) {
            yyjson_mut_val *obj = yyjson_mut_obj(doc.get());
            yyjson_mut_doc_set_root(doc.get(), obj);
            yyjson_mut_obj_add_strncpy(doc.get(), obj, "from", e.from.data(), e.from.size());
            yyjson_mut_obj_add_strncpy(doc.get(), obj, "to", e.to.data(), e.to.size());
            std::size_t len = 0;
            if (char *text = yyjson_mut_write(doc.get(), 0, &len)) {
                write_out(stdout, std::string_view(text, len));
                write_out(stdout, "\n");
                std::free(text);
            }
        }
    }
    // Each finished rename is on record at once, should the run be cut short.
    std::fflush(stdout);
}

// Carries out the plan. Renames that find their target taken are tried again
// once other renames have moved files away (a book taking the old name of
// another); what still finds its target taken is a conflict.
bool apply_plan(const std::vector<Entry> &plan, const std::vector<std::string> &asked, bool table) {
    if (plan.size() != asked.size()) {
        complain("the rename plan does not match the request (%zu entries for %zu books)",
                 plan.size(), asked.size());
        return false;
    }
    bool ok = true;
    std::size_t renamed = 0, unchanged = 0, failed = 0;
    std::vector<const Entry *> pending;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const Entry &e = plan[i];
        if (!sane_entry(e, asked[i])) {
            complain("not renamed: %s: unexpected plan entry (to %s)", e.from.c_str(),
                     e.to.c_str());
            ++failed;
            continue;
        }
        if (e.to == e.from) {
            ++unchanged;
            continue;
        }
        pending.push_back(&e);
    }
    for (bool progress = true; progress && !pending.empty();) {
        progress = false;
        std::vector<const Entry *> taken;
        for (const Entry *e : pending) {
            if (rename_noreplace(e->from.c_str(), e->to.c_str()) == 0) {
                report_renamed(*e, table);
                ++renamed;
                progress = true;
            } else if (errno == EEXIST) {
                taken.push_back(e);
            } else {
                complain("not renamed: %s \u2192 %s: %s", e->from.c_str(), e->to.c_str(),
                         std::strerror(errno));
                ++failed;
            }
        }
        pending.swap(taken);
    }
    for (const Entry *e : pending) {
        complain("not renamed: %s \u2192 %s: target exists", e->from.c_str(), e->to.c_str());
        ++failed;
    }
    if (failed) ok = false;
    complain("%zu renamed, %zu unchanged, %zu not renamed", renamed, unchanged, failed);
    return ok;
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

int run_rename(const RenameOptions &opt) {
    std::vector<std::string> paths;
    bool ok = gather(opt, paths);

    std::vector<std::string> usable;
    for (const std::string &p : paths) {
        if (p.size() > kMaxPlanPath) {
            complain("%s: path too long to plan a new name", p.c_str());
            ok = false;
        } else if (!valid_utf8(p)) {
            complain("%s: name is not valid UTF-8; not planned", p.c_str());
            ok = false;
        } else {
            usable.push_back(p);
        }
    }
    std::sort(usable.begin(), usable.end(), request_order);

    // Books the library cannot describe, or whose texts are not UTF-8, would
    // be planned as "Unknown - untitled": they keep their names and count as
    // failures.
    std::vector<Book> books = describe_all(usable, opt.jobs, {});
    std::vector<std::string> asked;
    for (const Book &b : books) {
        if (!b.ok) {
            complain("%s: %s", b.path.c_str(), b.error.c_str());
            ok = false;
            continue;
        }
        Doc strict(yyjson_read(b.object.data(), b.object.size(), 0));
        if (!strict) {
            complain("%s: book texts are not valid UTF-8; not planned", b.path.c_str());
            ok = false;
            continue;
        }
        if (b.title.empty()) {
            // Nothing to name it by: "untitled" would replace a name that
            // may be all the user knows about the file.
            complain("%s: the book has no title; it keeps its name", b.path.c_str());
            continue;
        }
        asked.push_back(b.path);
    }

    MutDoc req(yyjson_mut_doc_new(nullptr));
    if (!req) {
        complain("out of memory");
        return kExitFailed;
    }
    yyjson_mut_val *arr = yyjson_mut_arr(req.get());
    yyjson_mut_doc_set_root(req.get(), arr);
    for (const std::string &p : asked)
        yyjson_mut_arr_add_strn(req.get(), arr, p.data(), p.size());
    std::unique_ptr<char, decltype(&std::free)> request(yyjson_mut_write(req.get(), 0, nullptr),
                                                        &std::free);
    if (!request) {
        complain("out of memory");
        return kExitFailed;
    }

    std::unique_ptr<char, LibString> plan_text(
        ebook_rename_plan(request.get(), opt.pattern.empty() ? nullptr : opt.pattern.c_str()));
    if (!plan_text) {
        complain("no rename plan: %s", ebook_last_error());
        return kExitFailed;
    }
    Doc plan_doc(yyjson_read(plan_text.get(), std::strlen(plan_text.get()), 0));
    yyjson_val *root = plan_doc ? yyjson_doc_get_root(plan_doc.get()) : nullptr;
    if (!yyjson_is_arr(root)) {
        complain("the rename plan is not a JSON array");
        return kExitFailed;
    }
    std::vector<Entry> plan;
    yyjson_val *item;
    yyjson_arr_iter it = yyjson_arr_iter_with(root);
    while ((item = yyjson_arr_iter_next(&it))) {
        plan.push_back({str_of(yyjson_obj_get(item, "from")), str_of(yyjson_obj_get(item, "to")),
                        str_of(yyjson_obj_get(item, "to_name"))});
    }

    if (opt.apply) {
        ok = apply_plan(plan, asked, opt.table) && ok;
    } else if (opt.table) {
        std::vector<std::vector<std::string>> rows;
        for (const Entry &e : plan) {
            if (e.to == e.from)
                rows.push_back({e.from, "=", "(unchanged)"});
            else
                rows.push_back({e.from, "\u2192", e.to_name});
        }
        print_columns(stdout, rows);
    } else {
        write_out(stdout, plan_text.get());
        write_out(stdout, "\n");
    }
    return ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
