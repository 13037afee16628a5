// rename.cpp - the rename subcommand: plans new names through the library, renames without loss.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "cli.h"
#include "json_doc.h"
#include "quenfold_ebook.h"
#include "text/hidden_chars.h"

namespace qcli {

namespace {

// The planner keeps a book's path in a field of this many bytes; a longer
// one would come back cut, naming another file than the one asked about.
constexpr std::size_t kMaxPlanPath = 511;

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

// Gathers the book files named on the command line or lying in the named
// directories, each file once even when reached by two names, with the
// directory argument each was found in ("" for a book named itself). A
// directory named on the command line is entered even through a link; below
// it, links are not followed, and a link named as a book is left alone.
bool gather(const RenameOptions &opt, std::vector<std::string> &out,
            std::map<std::string, std::string> &dir_arg) {
    bool ok = true;
    Visited dirs;
    WalkOptions how;
    how.recursive = opt.recursive;
    how.follow_links = false;
    std::set<std::pair<dev_t, ino_t>> files;
    auto add = [&](const std::string &p, const std::string &arg) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0 && !files.insert({st.st_dev, st.st_ino}).second) return;
        out.push_back(p);
        dir_arg.emplace(p, arg);
    };
    for (const std::string &arg : opt.paths) {
        struct stat st, lst;
        if (stat(arg.c_str(), &st) != 0) {
            complain("%s: %s", arg.c_str(), errno_text(errno).c_str());
            ok = false;
        } else if (S_ISDIR(st.st_mode)) {
            std::vector<std::string> found;
            ok = collect_books(arg, how, dirs, found) && ok;
            for (const std::string &p : found)
                add(p, arg);
        } else if (lstat(arg.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            complain("%s: symbolic link; left alone", arg.c_str());
        } else {
            add(arg, "");
        }
    }
    return ok;
}

// Keeps the paths the planner can take whole, in request order.
std::vector<std::string> plannable_paths(const std::vector<std::string> &paths, bool &ok) {
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
    return usable;
}

// Texts that hold U+FFFD did not decode from the book's encoding; a name
// made of them would carry the replacement marks for good.
bool undecoded(const Book &b) {
    constexpr std::string_view mark = "\xEF\xBF\xBD";
    for (const std::string *s : {&b.title, &b.first_author, &b.series, &b.series_index})
        if (s->find(mark) != std::string::npos || !valid_utf8(*s)) return true;
    return false;
}

// Books the library cannot describe, or whose texts did not decode, would
// be planned as "Unknown - untitled" or with broken names: they keep their
// names and count as failures.
std::vector<PlanRequest> books_to_plan(const std::vector<Book> &books, bool &ok) {
    std::vector<PlanRequest> asked;
    for (const Book &b : books) {
        if (!b.ok) {
            complain("%s: %s", b.path.c_str(), b.error.c_str());
            ok = false;
            continue;
        }
        if (undecoded(b)) {
            complain("%s: book texts hold bytes that do not decode; not planned", b.path.c_str());
            ok = false;
            continue;
        }
        if (!eb_text_visible(b.title)) {
            // Nothing to name it by (or only characters that show nothing):
            // "untitled" would replace a name that may be all the user knows
            // about the file.
            complain("%s: the book has no title; it keeps its name", b.path.c_str());
            continue;
        }
        asked.push_back({b.path, b.first_author, b.series, b.series_index, b.title});
    }
    return asked;
}

// A name starting with a full stop is a hidden file, which listings and
// scans pass over: the book would seem lost. Its leading full stops become
// underscores. The planner never starts a name with an underscore, so the
// changed names stay apart from every other planned name, and a second run
// plans the same visible name again.
void make_visible(std::vector<Entry> &plan) {
    for (Entry &e : plan) {
        std::string old = e.to_name;
        if (!make_visible_name(e.to_name)) continue;
        // An entry whose "to" does not end in its name is refused when applied.
        if (e.to.size() >= old.size() &&
            e.to.compare(e.to.size() - old.size(), old.size(), old) == 0)
            e.to.replace(e.to.size() - old.size(), old.size(), e.to_name);
        complain("%s: the planned name \"%s\" would be hidden; planned as \"%s\"", e.from.c_str(),
                 old.c_str(), e.to_name.c_str());
    }
}

// The new name as the table shows it: with its folders, when it has any.
std::string shown_name(const Entry &e) {
    std::string name;
    for (const std::string &f : e.folders)
        name += f + "/";
    return name + e.to_name;
}

void print_plan(const std::vector<Entry> &plan, bool table, JsonStyle style) {
    if (table) {
        std::vector<std::vector<std::string>> rows;
        for (const Entry &e : plan) {
            if (e.to == e.from)
                rows.push_back({e.from, "=", "(unchanged)"});
            else
                rows.push_back({e.from, "\u2192", shown_name(e)});
        }
        print_columns(stdout, rows);
        return;
    }
    // The plan as the library writes it: "rename" stays false for every entry.
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *arr = doc ? yyjson_mut_arr(doc.get()) : nullptr;
    if (!arr) throw std::bad_alloc();
    yyjson_mut_doc_set_root(doc.get(), arr);
    for (const Entry &e : plan) {
        yyjson_mut_val *obj = yyjson_mut_arr_add_obj(doc.get(), arr);
        if (!obj) throw std::bad_alloc();
        yyjson_mut_obj_add_strncpy(doc.get(), obj, "from", e.from.data(), e.from.size());
        yyjson_mut_obj_add_strncpy(doc.get(), obj, "to", e.to.data(), e.to.size());
        yyjson_mut_obj_add_strncpy(doc.get(), obj, "to_name", e.to_name.data(), e.to_name.size());
        yyjson_mut_obj_add_bool(doc.get(), obj, "rename", false);
    }
    std::unique_ptr<char, decltype(&std::free)> text(yyjson_mut_write(doc.get(), 0, nullptr),
                                                     &std::free);
    if (!text) throw std::bad_alloc();
    write_json_document(text.get(), style);
}

}  // namespace

std::string unknown_placeholder(std::string_view pattern) {
    static const std::string_view known[] = {"author", "title", "series", "idx", "series_index"};
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') continue;
        std::size_t close = pattern.find('}', i + 1);
        if (close == std::string_view::npos) return {};  // the rest is plain text
        std::string_view name = pattern.substr(i + 1, close - i - 1);
        if (std::find(std::begin(known), std::end(known), name) == std::end(known))
            return std::string(pattern.substr(i, close - i + 1));
        i = close;
    }
    return {};
}

int run_rename(const RenameOptions &opt) {
    if (!opt.undo.empty()) return run_undo(opt.undo, opt.table);
    // A mistyped placeholder would name every book "untitled": refused
    // before anything is read.
    if (std::string bad = unknown_placeholder(opt.pattern); !bad.empty()) {
        complain("unknown placeholder %s in the pattern; the known ones are %s", bad.c_str(),
                 kKnownPlaceholders);
        return kExitUsage;
    }
    if (opt.folders && (opt.pattern.empty() || opt.pattern.back() == '/')) {
        complain("with --folders the pattern's last part, after its last /, names the file");
        return kExitUsage;
    }
    if (!opt.folders && opt.pattern.find('/') != std::string::npos)
        complain("a / in the pattern becomes _ in the names; --folders makes folders of it");
    // The log is opened before anything moves: a run that could not keep
    // its record must not start.
    int log_fd = -1;
    if (!opt.log.empty()) {
        log_fd = open(opt.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0) {
            complain("cannot open the log %s (%s)", opt.log.c_str(), errno_text(errno).c_str());
            return kExitUsage;
        }
    }
    struct LogCloser {
        int fd;
        ~LogCloser() {
            if (fd >= 0) close(fd);
        }
    } log_closer{log_fd};

    std::vector<std::string> paths;
    std::map<std::string, std::string> dir_arg;
    bool ok = gather(opt, paths, dir_arg);
    std::vector<std::string> usable = plannable_paths(paths, ok);
    // Each book is read once: its full record both describes it and names it.
    std::vector<PlanRequest> requests =
        books_to_plan(describe_all(usable, opt.jobs, Detail::Full, {}), ok);

    std::vector<Entry> plan;
    if (opt.folders) {
        std::vector<std::string> base_of;
        for (const PlanRequest &r : requests)
            base_of.push_back(folder_base(r.path, dir_arg[r.path]));
        if (!plan_in_folders(requests, opt.pattern, base_of, plan, ok)) return kExitFailed;
    } else if (!plan_names(requests, opt.pattern, plan)) {
        return kExitFailed;
    }
    make_visible(plan);
    if (opt.apply) {
        std::vector<std::string> asked;
        for (const PlanRequest &r : requests)
            asked.push_back(r.path);
        // The summary on stderr is the record when standard output fails.
        if (!apply_plan(plan, asked, {opt.table, log_fd})) return kExitFailed;
        return ok ? kExitOk : kExitFailed;
    }
    print_plan(plan, opt.table, opt.style);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
