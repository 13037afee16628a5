// engine.cpp - one write: lock, read, write a temporary file, sync, read back, check, rename.
//
// The book is never opened for writing. The new one is built in a file
// created exclusively beside it (".NAME.quenfold-XXXXXX", so a leftover of a
// crash is recognisable), flushed to the disk, read back by the library's
// own reader and held against the request, and only then renamed over the
// book, after which the directory is synced. Until the rename the book is
// byte for byte as it was; after it, the new book is whole. An exclusive
// flock on the book, held from the first reading to the rename, makes two
// writers of one book (threads or processes) take turns: the second reads
// the book the first left.
#include "ops/write/engine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "error.h"
#include "full_record.h"
#include "io/file.h"
#include "io/source.h"
#include "ops/write/changes.h"
#include "ops/write/pdf_undo.h"
#include "ops/write/verify.h"
#include "ops/write/writer.h"
#include "quenfold_ebook.h"

namespace {

constexpr unsigned kAllFlags = EBOOK_WRITE_DRY_RUN | EBOOK_WRITE_KEEP_MTIME |
                               EBOOK_WRITE_BREAK_LINKS | EBOOK_WRITE_UNDO_LAST;

// Taking off a PDF's last update of ours writes the bytes before it: a
// writer with no field, whose new book is checked by reading it, since its
// values are the old ones, not those of the book as it is.
constexpr eb_format_writer kUndoPdf = {"PDF books", 0, eb_undo_pdf_update};

std::string iso_now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// The temporary file beside the book, removed unless it became the book.
struct temp_file {
    std::string path;
    int fd = -1;
    ~temp_file() {
        if (fd >= 0) ::close(fd);
        if (!path.empty()) ::unlink(path.c_str());
    }
};

std::string dir_of(const std::string &p) {
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

// ".NAME.quenfold-XXXXXX" in the book's directory, with the book's mode and,
// where the process may, its owner.
bool make_temp(const std::string &target, const struct stat &st, temp_file *t) {
    const std::string dir = dir_of(target);
    std::string base = target.substr(target.rfind('/') + 1);
    const std::size_t room = NAME_MAX - std::strlen("..quenfold-XXXXXX");
    if (base.size() > room) {
        base.resize(room);
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80)
            base.pop_back();  // no character cut in two
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
    }
    std::string name = dir + "/." + base + ".quenfold-XXXXXX";
    t->fd = mkostemp(name.data(), O_CLOEXEC);
    if (t->fd < 0) {
        eb_set_errno_error("cannot create a file beside the book", dir.c_str(), errno);
        return false;
    }
    t->path = name;
    if (fchown(t->fd, st.st_uid, st.st_gid) != 0 &&
        fchown(t->fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not the owner's to give: the new book belongs to the writer.
    }
    if (fchmod(t->fd, st.st_mode & 07777) != 0) {
        eb_set_errno_error("cannot set the new book's mode", name.c_str(), errno);
        return false;
    }
    return true;
}

bool same_state(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The book's name in "cannot write ..." messages: comics are archives.
const char *kind_of(const std::string &format) {
    return format == "cbz" || format == "cbr" || format == "cb7" || format == "cbt" ? "archives"
                                                                                    : "books";
}

class write_job {
  public:
    write_job(const char *path, std::string target, eb_changes c, unsigned flags,
              const eb_format_writer *writer)
        : path_(path),
          target_(std::move(target)),
          c_(std::move(c)),
          flags_(flags),
          writer_(writer) {}

    // -1: the book was replaced while this job waited for it; try again.
    int run(char **result) {
        eb_source src;
        if (!src.open(target_.c_str())) return 0;
        const bool dry = flags_ & EBOOK_WRITE_DRY_RUN;
        if (!dry)
            while (flock(src.fd(), LOCK_EX) != 0)
                if (errno != EINTR) {
                    eb_set_errno_error("cannot lock the book", target_.c_str(), errno);
                    return 0;
                }
        struct stat st {
        }, now{};
        if (fstat(src.fd(), &st) != 0 || ::stat(target_.c_str(), &now) != 0) {
            eb_set_errno_error("cannot open file", target_.c_str(), errno);
            return 0;
        }
        if (now.st_dev != st.st_dev || now.st_ino != st.st_ino) return -1;
        *result = write(src, st);
        return 0;
    }

  private:
    const char *path_;
    std::string target_;
    eb_changes c_;
    unsigned flags_;
    const eb_format_writer *writer_;

    char *write(const eb_source &src, const struct stat &st) {
        const eb_whole_book_hold hold;  // books read whole are read three times
        if (st.st_nlink > 1 && !(flags_ & EBOOK_WRITE_BREAK_LINKS)) {
            eb_set_error(
                "book has %u hard links; a new file renamed over it would part them "
                "(EBOOK_WRITE_BREAK_LINKS allows it): %s",
                static_cast<unsigned>(st.st_nlink), path_);
            return nullptr;
        }
        eb_record before;
        if (eb_read_full_record(path_, src, before) != 0) return nullptr;
        if (before.drm) {
            eb_set_error("will not modify a DRM-protected book: %s", path_);
            return nullptr;
        }
        const bool undo = flags_ & EBOOK_WRITE_UNDO_LAST;
        const eb_format_writer *w = writer_ ? writer_ : eb_writer_for_format(before.format);
        if (undo) {
            if (c_.given() != 0) {
                eb_set_error("EBOOK_WRITE_UNDO_LAST takes no changes: %s", path_);
                return nullptr;
            }
            if (before.format != "pdf") {
                eb_set_error("only a PDF keeps the bytes before a write; nothing to undo: %s",
                             path_);
                return nullptr;
            }
            std::uint64_t old_size = 0;
            if (!eb_pdf_last_update(src, &old_size)) return nullptr;
            w = &kUndoPdf;
        }
        if (!w) {
            eb_set_error("cannot write %s %s", before.format.c_str(), kind_of(before.format));
            return nullptr;
        }
        if (!undo) {
            eb_changes_drop_unchanged(before, c_);
            const unsigned asked = c_.given();
            for (unsigned bit = 1; bit <= EB_W_COVER; bit <<= 1)
                if ((asked & bit) && !(w->stores & bit)) {
                    eb_set_error("%s: not stored by %s", eb_write_field_name(bit), w->books);
                    return nullptr;
                }
            if (asked == 0) return eb_record_to_json(before);  // nothing to change
        }

        temp_file tmp;
        if (!make_temp(target_, st, &tmp)) return nullptr;
        if (w->write(src, before, c_, tmp.fd) != 0) return nullptr;
        if (flags_ & EBOOK_WRITE_KEEP_MTIME) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            if (futimens(tmp.fd, times) != 0) {
                eb_set_errno_error("cannot set the new book's times", tmp.path.c_str(), errno);
                return nullptr;
            }
        }
        if (fsync(tmp.fd) != 0) {
            eb_set_error("cannot write the new book (%s)", std::strerror(errno));
            return nullptr;
        }
        eb_record after;
        eb_source back;
        if (!back.open(tmp.path.c_str()) || eb_read_full_record(path_, back, after) != 0) {
            const std::string why = eb_error_text();
            eb_set_error("verification failed: the new book cannot be read (%s)", why.c_str());
            return nullptr;
        }
        if (!undo && !eb_write_verify(before, after, c_)) return nullptr;
        if (flags_ & EBOOK_WRITE_DRY_RUN) return eb_record_to_json(after);

        // Another program may have written the book in place meanwhile (the
        // lock holds off only writers that take it).
        struct stat fd_now {
        }, path_now{};
        if (fstat(src.fd(), &fd_now) != 0 || ::stat(target_.c_str(), &path_now) != 0 ||
            !same_state(st, fd_now) || path_now.st_ino != st.st_ino ||
            path_now.st_dev != st.st_dev) {
            eb_set_error("book changed while writing: %s", path_);
            return nullptr;
        }
        if (::rename(tmp.path.c_str(), target_.c_str()) != 0) {
            eb_set_errno_error("cannot replace the book", target_.c_str(), errno);
            return nullptr;
        }
        tmp.path.clear();
        // The rename reaches the disk with the directory.
        const int dir = ::open(dir_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            ::close(dir);
        }
        return eb_record_to_json(after);
    }
};

}  // namespace

char *eb_write_book(const char *path, std::string_view changes_json, unsigned flags,
                    const eb_format_writer *writer) {
    if (flags & ~kAllFlags) {
        eb_set_error("unknown flags: %u", flags & ~kAllFlags);
        return nullptr;
    }
    eb_changes c;
    if (!eb_changes_read(changes_json, &c)) return nullptr;
    c.now = iso_now();
    // A symbolic link is written through: the new book replaces its target.
    char *real = realpath(path, nullptr);
    if (!real) {
        eb_set_errno_error("cannot open file", path, errno);
        return nullptr;
    }
    const std::string target(real);
    std::free(real);
    // A writer that waited for another finds the book replaced: it starts
    // again on the new one, a few times at most.
    for (int attempt = 0; attempt < 16; ++attempt) {
        char *result = nullptr;
        if (write_job(path, target, c, flags, writer).run(&result) == 0) return result;
    }
    eb_set_error("book changed while writing: %s", path);
    return nullptr;
}
