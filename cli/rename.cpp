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

struct LibString {
    void operator()(char *s) const { ebook_free_string(s); }
};

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

std::string str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return {};
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

// Gathers the book files named on the command line or lying in the named
// directories, each file once even when reached by two names. A directory
// named on the command line is entered even through a link; below it, links
// are not followed, and a link named as a book is left alone.
bool gather(const RenameOptions &opt, std::vector<std::string> &out) {
    bool ok = true;
    Visited dirs;
    WalkOptions how;
    how.recursive = opt.recursive;
    how.follow_links = false;
    std::set<std::pair<dev_t, ino_t>> files;
    auto add = [&](const std::string &p) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0 && !files.insert({st.st_dev, st.st_ino}).second) return;
        out.push_back(p);
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
                add(p);
        } else if (lstat(arg.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            complain("%s: symbolic link; left alone", arg.c_str());
        } else {
            add(arg);
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

// What the planner is told of one book: its decoded first author, primary
// series with its index, and title, read once for the description.
struct Request {
    std::string path, author, series, series_index, title;
};

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
std::vector<Request> books_to_plan(const std::vector<Book> &books, bool &ok) {
    std::vector<Request> asked;
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

bool ends_with_fb2_zip(std::string_view path) {
    if (path.size() < 8) return false;
    std::string tail(path.substr(path.size() - 8));
    for (char &c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return tail == ".fb2.zip";
}

// The planner takes a name's extension from its last full stop; a packed
// FictionBook would come out as a bare ".zip", which no reader takes for a
// book. Its ".fb2" is put back, in the letter case the file had.
void keep_double_extension(std::vector<Entry> &plan) {
    for (Entry &e : plan) {
        if (!ends_with_fb2_zip(e.from) || e.to == e.from) continue;
        const std::string inner = e.from.substr(e.from.size() - 8, 4);
        const std::string zip = e.from.substr(e.from.size() - 4);
        auto fix = [&](std::string &s) {
            if (s.size() >= 4 && s.compare(s.size() - 4, 4, zip) == 0)
                s.insert(s.size() - 4, inner);
        };
        fix(e.to_name);
        fix(e.to);
    }
}

// The library's plan for the books, read into entries; false (after saying
// why) when there is none.
bool make_plan(const std::vector<Request> &asked, const std::string &pattern,
               std::vector<Entry> &plan) {
    eb_mut_doc_ptr req(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *arr = req ? yyjson_mut_arr(req.get()) : nullptr;
    if (!arr) throw std::bad_alloc();
    yyjson_mut_doc_set_root(req.get(), arr);
    for (const Request &r : asked) {
        yyjson_mut_val *obj = yyjson_mut_arr_add_obj(req.get(), arr);
        if (!obj) throw std::bad_alloc();
        auto add = [&](const char *key, const std::string &v) {
            if (!yyjson_mut_obj_add_strncpy(req.get(), obj, key, v.data(), v.size()))
                throw std::bad_alloc();
        };
        add("path", r.path);
        add("author", r.author);
        add("series", r.series);
        add("series_index", r.series_index);
        add("title", r.title);
    }
    std::unique_ptr<char, decltype(&std::free)> request(yyjson_mut_write(req.get(), 0, nullptr),
                                                        &std::free);
    if (!request) throw std::bad_alloc();

    std::unique_ptr<char, LibString> text(
        ebook_rename_plan(request.get(), pattern.empty() ? nullptr : pattern.c_str()));
    if (!text) {
        complain("no rename plan: %s", ebook_last_error());
        return false;
    }
    eb_doc_ptr doc = read_json(text.get(), 0);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_arr(root)) {
        complain("the rename plan is not a JSON array");
        return false;
    }
    yyjson_val *item;
    yyjson_arr_iter it = yyjson_arr_iter_with(root);
    while ((item = yyjson_arr_iter_next(&it)))
        plan.push_back({str_of(yyjson_obj_get(item, "from")), str_of(yyjson_obj_get(item, "to")),
                        str_of(yyjson_obj_get(item, "to_name"))});
    keep_double_extension(plan);
    return true;
}

// A name starting with a full stop is a hidden file, which listings and
// scans pass over: the book would seem lost. Its leading full stops become
// underscores. The planner never starts a name with an underscore, so the
// changed names stay apart from every other planned name, and a second run
// plans the same visible name again.
void make_visible(std::vector<Entry> &plan) {
    for (Entry &e : plan) {
        if (e.to_name.empty() || e.to_name[0] != '.') continue;
        std::string old = e.to_name;
        for (std::size_t i = 0; i < e.to_name.size() && e.to_name[i] == '.'; ++i)
            e.to_name[i] = '_';
        // An entry whose "to" does not end in its name is refused when applied.
        if (e.to.size() >= old.size() &&
            e.to.compare(e.to.size() - old.size(), old.size(), old) == 0)
            e.to.replace(e.to.size() - old.size(), old.size(), e.to_name);
        complain("%s: the planned name \"%s\" would be hidden; planned as \"%s\"", e.from.c_str(),
                 old.c_str(), e.to_name.c_str());
    }
}

void print_plan(const std::vector<Entry> &plan, bool table) {
    if (table) {
        std::vector<std::vector<std::string>> rows;
        for (const Entry &e : plan) {
            if (e.to == e.from)
                rows.push_back({e.from, "=", "(unchanged)"});
            else
                rows.push_back({e.from, "\u2192", e.to_name});
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
    write_json(text.get());
    write_out(stdout, "\n");
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
    // A mistyped placeholder would name every book "untitled": refused
    // before anything is read.
    if (std::string bad = unknown_placeholder(opt.pattern); !bad.empty()) {
        complain("unknown placeholder %s in the pattern; the known ones are %s", bad.c_str(),
                 kKnownPlaceholders);
        return kExitUsage;
    }
    std::vector<std::string> paths;
    bool ok = gather(opt, paths);
    std::vector<std::string> usable = plannable_paths(paths, ok);
    // Each book is read once: its full record both describes it and names it.
    std::vector<Request> requests =
        books_to_plan(describe_all(usable, opt.jobs, Detail::Full, {}), ok);

    std::vector<Entry> plan;
    if (!make_plan(requests, opt.pattern, plan)) return kExitFailed;
    make_visible(plan);
    if (opt.apply) {
        std::vector<std::string> asked;
        for (const Request &r : requests)
            asked.push_back(r.path);
        // The summary on stderr is the record when standard output fails.
        if (!apply_plan(plan, asked, opt.table)) return kExitFailed;
        return ok ? kExitOk : kExitFailed;
    }
    print_plan(plan, opt.table);
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
