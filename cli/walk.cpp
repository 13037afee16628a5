// walk.cpp - finds the book files in directories, optionally below them, without walking in
// circles; which names are books' the library's formats say.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// What the library says of the names of books (ebook_formats), read once:
// the endings it reads books under, those ebook_scan_dir lists, and the
// endings other files share with what a book under them holds.
struct BookNames {
    std::vector<std::string> all, basic;
    struct Shared {
        std::string ending;
        std::vector<std::pair<std::size_t, std::string>> signatures;  // offset, bytes
    };
    std::vector<Shared> shared;
};

std::vector<std::string> texts(yyjson_val *arr) {
    std::vector<std::string> out;
    std::size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(arr, i, n, v) {
        if (yyjson_is_str(v)) out.emplace_back(yyjson_get_str(v), yyjson_get_len(v));
    }
    return out;
}

const BookNames &book_names() {
    static const BookNames names = [] {
        BookNames b;
        char *text = ebook_formats();
        if (!text) {
            complain("cannot list the library's formats: %s", ebook_last_error());
            return b;
        }
        eb_doc_ptr doc(yyjson_read(text, std::strlen(text), 0));
        ebook_free_string(text);
        std::size_t i, n;
        yyjson_val *f;
        yyjson_arr_foreach(doc ? yyjson_doc_get_root(doc.get()) : nullptr, i, n, f) {
            for (std::string &e : texts(yyjson_obj_get(f, "extensions")))
                b.all.push_back(std::move(e));
            for (std::string &e : texts(yyjson_obj_get(f, "info_extensions")))
                b.basic.push_back(std::move(e));
            BookNames::Shared kind;
            std::size_t j, m;
            yyjson_val *s;
            yyjson_arr_foreach(yyjson_obj_get(f, "signatures"), j, m, s) {
                yyjson_val *bytes = yyjson_obj_get(s, "bytes");
                if (yyjson_is_str(bytes))
                    kind.signatures.emplace_back(
                        yyjson_get_uint(yyjson_obj_get(s, "offset")),
                        std::string(yyjson_get_str(bytes), yyjson_get_len(bytes)));
            }
            for (std::string &e : texts(yyjson_obj_get(f, "shared_extensions")))
                b.shared.push_back({std::move(e), kind.signatures});
        }
        return b;
    }();
    return names;
}

bool ends_in_one_of(const std::string &lower, const std::vector<std::string> &endings) {
    for (const std::string &e : endings)
        if (ends_with(lower, e)) return true;
    return false;
}

}  // namespace

bool has_book_ext(std::string_view name, bool basic_only) {
    const BookNames &names = book_names();
    return ends_in_one_of(ascii_lower(name), basic_only ? names.basic : names.all);
}

bool holds_book_signature(const std::string &path) {
    const std::string lower = ascii_lower(path);
    const BookNames::Shared *kind = nullptr;
    for (const BookNames::Shared &s : book_names().shared)
        if (ends_with(lower, s.ending)) kind = &s;
    if (!kind || kind->signatures.empty()) return true;
    std::size_t want = 0;
    for (const auto &[at, bytes] : kind->signatures)
        want = std::max(want, at + bytes.size());
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;  // the library says why it cannot be read
    std::string head(want, '\0');
    std::size_t got = 0;
    while (got < want) {
        ssize_t n = read(fd, head.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    head.resize(got);
    for (const auto &[at, bytes] : kind->signatures)
        if (head.size() >= at + bytes.size() && head.compare(at, bytes.size(), bytes) == 0)
            return true;
    return false;
}

namespace {

enum class Kind { Book, Dir, Skip };

// What one directory entry is to the walk. Without recursion and with links
// followed, the entry's kind is not looked at: the extension decides.
Kind entry_kind(const dirent *e, const std::string &path, const WalkOptions &how) {
    const bool book_name = has_book_ext(e->d_name, how.basic_only);
    if (!how.recursive && how.follow_links) return book_name ? Kind::Book : Kind::Skip;
    unsigned char type = e->d_type;
    struct stat st;
    if (type == DT_UNKNOWN && lstat(path.c_str(), &st) == 0)
        type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
    if (type == DT_LNK) {
        const bool to_dir = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (how.follow_links) {
            if (to_dir) return how.recursive ? Kind::Dir : Kind::Skip;
            return book_name ? Kind::Book : Kind::Skip;
        }
        // Renaming through a link would reach books outside the tree, or
        // rename the link under the name of a book that lies elsewhere.
        if (to_dir && how.recursive)
            complain("%s: symbolic link to a directory; not followed", path.c_str());
        else if (book_name)
            complain("%s: symbolic link; left alone", path.c_str());
        return Kind::Skip;
    }
    if (type == DT_DIR) return how.recursive ? Kind::Dir : Kind::Skip;
    return book_name ? Kind::Book : Kind::Skip;
}

}  // namespace

bool collect_books(const std::string &dir, const WalkOptions &how, Visited &visited,
                   std::vector<std::string> &out) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        complain("cannot open dir: %s (%s)", dir.c_str(), errno_text(errno).c_str());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        complain("cannot open dir: %s (%s)", dir.c_str(), errno_text(ENOTDIR).c_str());
        return false;
    }
    if (!visited.insert({st.st_dev, st.st_ino}).second) return true;

    DIR *d = opendir(dir.c_str());
    if (!d) {
        complain("cannot open dir: %s (%s)", dir.c_str(), errno_text(errno).c_str());
        return false;
    }
    std::vector<std::string> books, subdirs;
    bool ok = true;
    for (;;) {
        errno = 0;
        dirent *e = readdir(d);
        if (!e) {
            if (errno != 0) {
                complain("cannot read dir: %s (%s)", dir.c_str(), errno_text(errno).c_str());
                ok = false;
            }
            break;
        }
        if (e->d_name[0] == '.') continue;
        std::string path = dir + "/" + e->d_name;
        switch (entry_kind(e, path, how)) {
            case Kind::Book:
                // Other Palm databases under these names are passed over
                // like any file that is no book.
                if (!holds_book_signature(path)) break;
                books.push_back(std::move(path));
                break;
            case Kind::Dir:
                subdirs.push_back(std::move(path));
                break;
            case Kind::Skip:
                break;
        }
    }
    closedir(d);

    std::sort(books.begin(), books.end());
    out.insert(out.end(), books.begin(), books.end());
    std::sort(subdirs.begin(), subdirs.end());
    for (const std::string &sub : subdirs)
        ok = collect_books(sub, how, visited, out) && ok;
    return ok;
}

bool gather_books(const std::vector<std::string> &args, const WalkOptions &how,
                  std::vector<std::string> &out) {
    Visited visited;
    bool ok = true;
    for (const std::string &arg : args) {
        struct stat st;
        if (stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            ok = collect_books(arg, how, visited, out) && ok;
        else
            out.push_back(arg);  // the library says why it is no book, if it is none
    }
    return ok;
}

}  // namespace qcli
