// walk.cpp - finds the book files in directories, optionally below them, without walking in
// circles.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "cli.h"

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

// .prc and .pdb, which also name Palm databases that hold no book.
bool palm_ext(std::string_view name) {
    std::string lower = ascii_lower(name);
    return ends_with(lower, ".prc") || ends_with(lower, ".pdb");
}

}  // namespace

bool has_book_ext(std::string_view name, bool basic_only) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view ext = name.substr(dot + 1);
    if (ext.find_first_of("/\\") != std::string_view::npos) return false;
    std::string lower = ascii_lower(ext);
    if (lower == "epub" || lower == "fb2" || lower == "mobi" || lower == "azw" || lower == "azw3")
        return true;
    if (basic_only) return false;
    // A bare .zip is no book (an archive of several is common); a FictionBook
    // packed alone says so in its name.
    return lower == "fbz" || lower == "prc" || lower == "pdb" || lower == "pdf" || lower == "cbz" ||
           lower == "cbr" || lower == "cb7" || lower == "cbt" ||
           (lower == "zip" && ends_with(ascii_lower(name.substr(0, dot + 1)), ".fb2."));
}

bool palm_book(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;  // the library says why it cannot be read
    char head[68];
    std::size_t got = 0;
    while (got < sizeof head) {
        ssize_t n = read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got < sizeof head) return false;
    std::string_view kind(head + 60, 8);
    return kind == "BOOKMOBI" || kind == "TEXtREAd";
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
                if (palm_ext(e->d_name) && !palm_book(path)) break;
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
