// books.cpp - finds books in directories and describes them through the library on worker threads.
#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "cli.h"
#include "quenfold_ebook.h"

namespace qcli {

void complain(const char *fmt, ...) {
    std::string line = std::string(kProg) + ": ";
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n >= static_cast<int>(sizeof buf)) {
        // Long paths: format again into a block of the right size.
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        va_start(ap, fmt);
        std::vsnprintf(big.data(), big.size(), fmt, ap);
        va_end(ap);
        big.pop_back();
        line += big;
    } else if (n > 0) {
        line += buf;
    }
    line += '\n';
    // One write per message, so that messages of several threads never mix.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

namespace {

struct DocFree {
    void operator()(yyjson_doc *d) const { yyjson_doc_free(d); }
    void operator()(yyjson_mut_doc *d) const { yyjson_mut_doc_free(d); }
};
using Doc = std::unique_ptr<yyjson_doc, DocFree>;
using MutDoc = std::unique_ptr<yyjson_mut_doc, DocFree>;

std::string str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return {};
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

// Compact text of a mutable document; book texts need not be UTF-8.
std::string write_doc(yyjson_mut_doc *doc) {
    std::size_t len = 0;
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_ALLOW_INVALID_UNICODE, &len);
    if (!text) return {};
    std::string out(text, len);
    std::free(text);
    return out;
}

// The element of a book the library could not describe: path and message.
std::string error_element(const std::string &path, const std::string &error) {
    MutDoc doc(yyjson_mut_doc_new(nullptr));
    if (!doc) return {};
    yyjson_mut_val *obj = yyjson_mut_obj(doc.get());
    yyjson_mut_doc_set_root(doc.get(), obj);
    yyjson_mut_obj_add_strncpy(doc.get(), obj, "path", path.data(), path.size());
    yyjson_mut_obj_add_strncpy(doc.get(), obj, "error", error.data(), error.size());
    return write_doc(doc.get());
}

}  // namespace

Book describe(const std::string &path) {
    Book b;
    b.path = path;
    char *text = ebook_info(path.c_str());
    if (!text) {
        b.error = ebook_last_error();
        b.element = error_element(path, b.error);
        return b;
    }
    b.ok = true;
    b.object = text;
    ebook_free_string(text);

    MutDoc out(yyjson_mut_doc_new(nullptr));
    if (!out) return b;
    yyjson_mut_val *elem = yyjson_mut_obj(out.get());
    yyjson_mut_doc_set_root(out.get(), elem);
    yyjson_mut_obj_add_strncpy(out.get(), elem, "path", path.data(), path.size());

    // The object's texts are the book's bytes, which need not be UTF-8.
    Doc doc(yyjson_read(b.object.data(), b.object.size(), YYJSON_READ_ALLOW_INVALID_UNICODE));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (yyjson_is_obj(root)) {
        yyjson_val *key, *val;
        yyjson_obj_iter it = yyjson_obj_iter_with(root);
        while ((key = yyjson_obj_iter_next(&it))) {
            val = yyjson_obj_iter_get_val(key);
            // The media type is only known with the cover bytes loaded; the
            // element shape of a directory listing leaves it out.
            if (yyjson_equals_str(key, "cover_mime")) continue;
            yyjson_mut_obj_add(elem, yyjson_val_mut_copy(out.get(), key),
                               yyjson_val_mut_copy(out.get(), val));
        }
        b.drm = yyjson_get_bool(yyjson_obj_get(root, "drm"));
        b.format = str_of(yyjson_obj_get(root, "format"));
        b.title = str_of(yyjson_obj_get(root, "title"));
        b.author = str_of(yyjson_obj_get(root, "author"));
        b.series = str_of(yyjson_obj_get(root, "series"));
        b.series_index = str_of(yyjson_obj_get(root, "series_index"));
    }
    b.element = write_doc(out.get());
    return b;
}

// ---- progress --------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

// "[#####.....] 120/2000  310 books/s  ETA 0:06" on stderr, redrawn in place.
// Only for a person watching a terminal, and only once the work has taken
// longer than a moment, so that quick runs and pipelines see nothing.
class Progress {
  public:
    explicit Progress(std::size_t total) : total_(total), start_(Clock::now()) {
        enabled_ = total > 0 && isatty(STDERR_FILENO);
    }
    void update(std::size_t done) {
        if (!enabled_) return;
        auto now = Clock::now();
        double secs = std::chrono::duration<double>(now - start_).count();
        if (secs < 0.5) return;
        // A few redraws a second are enough for the eye; more only cost.
        if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        char counts[160];
        double rate = secs > 0 ? static_cast<double>(done) / secs : 0.0;
        char eta[32] = "--:--";
        if (done > 0 && rate > 0) {
            auto left = static_cast<unsigned long>(static_cast<double>(total_ - done) / rate + 0.5);
            std::snprintf(eta, sizeof eta, "%lu:%02lu", left / 60, left % 60);
        }
        std::snprintf(counts, sizeof counts, " %zu/%zu  %.0f books/s  ETA %s", done, total_, rate,
                      eta);
        std::size_t cols = 80;
        winsize ws{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) cols = ws.ws_col;
        std::string line = "\r";
        std::size_t room = cols > std::strlen(counts) + 3 ? cols - std::strlen(counts) - 3 : 0;
        std::size_t bar = std::min<std::size_t>(room, 40);
        if (bar >= 10) {
            std::size_t full = total_ ? bar * done / total_ : bar;
            line += '[';
            line.append(full, '#');
            line.append(bar - full, '.');
            line += ']';
        }
        line += counts;
        line += "\033[K";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }
    // Removes the bar, so that other output starts on a clean line.
    void clear() {
        if (!drawn_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

  private:
    std::size_t total_;
    Clock::time_point start_, last_;
    bool enabled_ = false;
    bool drawn_ = false;
};

}  // namespace

std::vector<Book> describe_all(const std::vector<std::string> &paths, unsigned jobs,
                               const std::function<void(const Book &)> &on_done) {
    std::vector<Book> out(paths.size());
    std::atomic<std::size_t> next{0};
    std::mutex mu;
    std::condition_variable cv;
    std::size_t done = 0;
    Progress progress(paths.size());

    // The bar is taken away before anything else may reach the terminal:
    // a message about a failed book, or data when standard output is the
    // same screen.
    const bool stdout_tty = isatty(STDOUT_FILENO);
    auto work = [&] {
        for (;;) {
            std::size_t i = next.fetch_add(1);
            if (i >= paths.size()) return;
            Book b = describe(paths[i]);
            std::lock_guard<std::mutex> lock(mu);
            if (on_done) {
                if (stdout_tty || !b.ok) progress.clear();
                on_done(b);
            }
            out[i] = std::move(b);
            ++done;
            cv.notify_one();
        }
    };

    std::size_t want = std::min<std::size_t>(jobs ? jobs : 1, paths.size());
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < want; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error &) {
            break;  // fewer threads than asked; those running share the work
        }
    }
    if (threads.empty()) {
        work();
    } else {
        std::unique_lock<std::mutex> lock(mu);
        while (done < paths.size()) {
            cv.wait_for(lock, std::chrono::milliseconds(100));
            progress.update(done);
        }
    }
    progress.clear();
    threads.clear();  // joins
    return out;
}

// ---- directory walk --------------------------------------------------------

bool has_book_ext(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view ext = name.substr(dot + 1);
    if (ext.find_first_of("/\\") != std::string_view::npos) return false;
    std::string lower(ext);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == "epub" || lower == "fb2" || lower == "mobi" || lower == "azw" ||
           lower == "azw3";
}

bool collect_books(const std::string &dir, bool recursive, Visited &visited,
                   std::vector<std::string> &out) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        complain("cannot open dir: %s (%s)", dir.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        complain("cannot open dir: %s (%s)", dir.c_str(), std::strerror(ENOTDIR));
        return false;
    }
    if (!visited.insert({st.st_dev, st.st_ino}).second) return true;

    DIR *d = opendir(dir.c_str());
    if (!d) {
        complain("cannot open dir: %s (%s)", dir.c_str(), std::strerror(errno));
        return false;
    }
    std::vector<std::string> books, subdirs;
    bool ok = true;
    for (;;) {
        errno = 0;
        dirent *e = readdir(d);
        if (!e) {
            if (errno != 0) {
                complain("cannot read dir: %s (%s)", dir.c_str(), std::strerror(errno));
                ok = false;
            }
            break;
        }
        if (e->d_name[0] == '.') continue;
        std::string path = dir + "/" + e->d_name;
        if (recursive) {
            bool is_dir = e->d_type == DT_DIR;
            if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
                struct stat sub;
                is_dir = stat(path.c_str(), &sub) == 0 && S_ISDIR(sub.st_mode);
            }
            if (is_dir) {
                subdirs.push_back(std::move(path));
                continue;
            }
        }
        if (has_book_ext(e->d_name)) books.push_back(std::move(path));
    }
    closedir(d);

    std::sort(books.begin(), books.end());
    out.insert(out.end(), books.begin(), books.end());
    std::sort(subdirs.begin(), subdirs.end());
    for (const std::string &sub : subdirs)
        ok = collect_books(sub, true, visited, out) && ok;
    return ok;
}

}  // namespace qcli
