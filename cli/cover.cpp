// cover.cpp - the cover subcommand: the cover image to a file, replaced whole, or to standard
// output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

// A temporary name reserved with mkstemp; the file is removed with the
// object unless kept. The library writes it by name, and may replace it
// rather than write into it, so it is opened again to be read back.
class TempFile {
  public:
    explicit TempFile(std::string pattern) : path_(std::move(pattern)) {
        int fd = mkstemp(path_.data());
        made_ = fd >= 0;
        if (made_) close(fd);
    }
    ~TempFile() {
        if (made_) unlink(path_.c_str());
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    bool made() const { return made_; }
    const std::string &path() const { return path_; }
    void keep() { made_ = false; }

  private:
    std::string path_;
    bool made_ = false;
};

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Why the library wrote no cover. A PDF has none to give (its pages are not
// rendered); the library calls it unsupported, which would puzzle a user.
void cover_failed(const std::string &book) {
    const std::string why = ebook_last_error();
    char *record = ebook_metadata(book.c_str());
    const bool pdf = record && std::strncmp(record, "{\"format\":\"pdf\"", 15) == 0;
    ebook_free_string(record);
    if (pdf)
        complain("%s: a PDF has no cover image to extract (its pages are not rendered)",
                 book.c_str());
    else
        complain("%s: %s", book.c_str(), why.c_str());
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Copies what is left of fd to standard output.
bool copy_to_stdout(int fd) {
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(STDOUT_FILENO, buf + off, static_cast<std::size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            off += w;
        }
    }
}

int cover_to_stdout(const std::string &book, const struct stat &book_st) {
    if (isatty(STDOUT_FILENO)) {
        complain("not writing image data to a terminal; redirect standard output");
        return kExitUsage;
    }
    struct stat out_st;
    if (fstat(STDOUT_FILENO, &out_st) == 0 && same_file(out_st, book_st)) {
        complain("%s: standard output is the book itself; not writing the cover into it",
                 book.c_str());
        return kExitFailed;
    }
    // The library writes to a named file: a private temporary one, read back
    // through the descriptor that created it and removed before copying.
    const char *tmpdir = std::getenv("TMPDIR");
    if (!tmpdir || !*tmpdir) tmpdir = "/tmp";
    TempFile tmp(std::string(tmpdir) + "/quenfold-ebook-meta-cover-XXXXXX");
    if (!tmp.made()) {
        complain("cannot create a temporary file in %s (%s)", tmpdir, errno_text(errno).c_str());
        return kExitFailed;
    }
    if (ebook_extract_cover(book.c_str(), tmp.path().c_str()) != 0) {
        cover_failed(book);
        return kExitFailed;
    }
    Fd in{open(tmp.path().c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) {
        complain("cannot read %s (%s)", tmp.path().c_str(), errno_text(errno).c_str());
        return kExitFailed;
    }
    unlink(tmp.path().c_str());
    if (!copy_to_stdout(in.fd)) {
        complain("cannot write the cover to standard output (%s)", errno_text(errno).c_str());
        return kExitFailed;
    }
    return kExitOk;
}

// The file to replace: the target of a link that leads to one, so that the
// cover goes where writing through the name would have put it.
std::string destination(const std::string &out) {
    struct stat st;
    if (lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(out.c_str(), resolved)) return resolved;
    }
    return out;
}

// The permissions of the replaced file, or those a new file would get.
mode_t cover_mode(const std::string &dest) {
    struct stat st;
    if (stat(dest.c_str(), &st) == 0) return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int cover_to_file(const std::string &book, const struct stat &book_st, const std::string &out) {
    std::string dest = destination(out);
    struct stat out_st;
    if (stat(dest.c_str(), &out_st) == 0 && same_file(out_st, book_st)) {
        complain("%s: the output is the book itself; not writing the cover over it", out.c_str());
        return kExitFailed;
    }
    // Written beside the destination and renamed into place: a failure
    // leaves no half-written cover, and an existing file stays whole until
    // the new one is complete.
    std::size_t slash = dest.rfind('/');
    std::string dir = slash == std::string::npos ? "." : dest.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? dest : dest.substr(slash + 1);
    TempFile tmp((slash == std::string::npos ? "" : dir) + "." + name + ".XXXXXX");
    if (!tmp.made()) {
        complain("cannot create a temporary file in %s (%s)", dir.c_str(),
                 errno_text(errno).c_str());
        return kExitFailed;
    }
    if (ebook_extract_cover(book.c_str(), tmp.path().c_str()) != 0) {
        cover_failed(book);
        return kExitFailed;
    }
    // On disk before it takes the name, so that a crash cannot leave an
    // empty cover where a good file was.
    Fd written{open(tmp.path().c_str(), O_RDONLY | O_CLOEXEC)};
    if (written.fd < 0 || fchmod(written.fd, cover_mode(dest)) != 0 || fsync(written.fd) != 0) {
        complain("cannot write %s (%s)", tmp.path().c_str(), errno_text(errno).c_str());
        return kExitFailed;
    }
    if (rename(tmp.path().c_str(), dest.c_str()) != 0) {
        complain("cannot write %s (%s)", out.c_str(), errno_text(errno).c_str());
        return kExitFailed;
    }
    tmp.keep();
    return kExitOk;
}

}  // namespace

int run_cover(const std::string &book, const std::string &out) {
    struct stat book_st;
    if (stat(book.c_str(), &book_st) != 0) {
        // In the words the library uses for a book it cannot open.
        complain("%s: cannot open file: %s (%s)", book.c_str(), book.c_str(),
                 errno_text(errno).c_str());
        return kExitFailed;
    }
    return out == "-" ? cover_to_stdout(book, book_st) : cover_to_file(book, book_st, out);
}

}  // namespace qcli
