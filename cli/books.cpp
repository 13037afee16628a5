// books.cpp - describes books through the library on worker threads, with a progress bar.
#include <sys/ioctl.h>
#include <unistd.h>
#include <yyjson.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "cli.h"
#include "json_doc.h"
#include "ops/scan_element.h"
#include "progress.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

std::string str_of(yyjson_val *v) {
    if (!yyjson_is_str(v)) return {};
    return std::string(yyjson_get_str(v), yyjson_get_len(v));
}

// Compact text of an element; book texts need not be UTF-8.
std::string write_doc(yyjson_mut_doc *doc) {
    std::size_t len = 0;
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_ALLOW_INVALID_UNICODE, &len);
    if (!text) throw std::bad_alloc();
    std::string out(text, len);
    std::free(text);
    return out;
}

// A new document whose root is an object holding the book's path.
eb_mut_doc_ptr element_doc(const std::string &path, yyjson_mut_val *&elem) {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    if (!doc || !(elem = yyjson_mut_obj(doc.get()))) throw std::bad_alloc();
    yyjson_mut_doc_set_root(doc.get(), elem);
    add_path_members(doc.get(), elem, path);
    return doc;
}

// The element of a book the library could not describe: path and message.
// The message may quote bytes of the book (a member's name) or of its path
// that are not UTF-8; they become U+FFFD, so that the JSON stays readable.
std::string error_element(const std::string &path, const std::string &error) {
    yyjson_mut_val *elem = nullptr;
    eb_mut_doc_ptr doc = element_doc(path, elem);
    const std::string text = utf8_repaired(error);
    yyjson_mut_obj_add_strncpy(doc.get(), elem, "error", text.data(), text.size());
    return write_doc(doc.get());
}

// The listing element of a described book: the very members the library's
// scan copies, after the path.
std::string book_element(const std::string &path, yyjson_val *book) {
    yyjson_mut_val *elem = nullptr;
    eb_mut_doc_ptr doc = element_doc(path, elem);
    if (yyjson_is_obj(book)) eb_copy_book_members(doc.get(), elem, book);
    return write_doc(doc.get());
}

// The element of a full record: the path, then every member of the record
// in its order. The record is written as it was read and joined to the
// path's object, not copied member by member into a new document.
std::string record_element(const std::string &path, yyjson_val *record) {
    yyjson_mut_val *elem = nullptr;
    eb_mut_doc_ptr doc = element_doc(path, elem);
    std::string out = write_doc(doc.get());
    if (yyjson_obj_size(record) == 0) return out;
    std::size_t len = 0;
    char *text = yyjson_val_write(record, YYJSON_WRITE_ALLOW_INVALID_UNICODE, &len);
    if (!text) throw std::bad_alloc();
    out.back() = ',';  // {"path":...} and {...} make {"path":...,...}
    out.append(text + 1, len - 1);
    std::free(text);
    return out;
}

void read_basic(Book &b, yyjson_val *root) {
    b.drm = yyjson_get_bool(yyjson_obj_get(root, "drm"));
    b.has_cover = yyjson_get_bool(yyjson_obj_get(root, "has_cover"));
    b.format = str_of(yyjson_obj_get(root, "format"));
    b.title = str_of(yyjson_obj_get(root, "title"));
    b.author = b.first_author = str_of(yyjson_obj_get(root, "author"));
    b.series = str_of(yyjson_obj_get(root, "series"));
    b.series_index = str_of(yyjson_obj_get(root, "series_index"));
    b.language = str_of(yyjson_obj_get(root, "language"));
    b.asin = str_of(yyjson_obj_get(root, "asin"));
}

void read_full(Book &b, yyjson_val *root) {
    b.drm = yyjson_get_bool(yyjson_obj_get(root, "drm"));
    b.has_cover = yyjson_is_obj(yyjson_obj_get(root, "cover"));
    b.format = str_of(yyjson_obj_get(root, "format"));
    b.title = str_of(yyjson_obj_get(root, "title"));
    std::size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(yyjson_obj_get(root, "authors"), i, n, v) {
        std::string name = str_of(yyjson_obj_get(v, "name"));
        if (name.empty()) continue;
        if (b.first_author.empty())
            b.first_author = name;
        else
            b.author += " & ";
        b.author += name;
    }
    yyjson_val *primary = yyjson_arr_get_first(yyjson_obj_get(root, "series"));
    b.series = str_of(yyjson_obj_get(primary, "name"));
    b.series_index = str_of(yyjson_obj_get(primary, "index"));
    b.language = str_of(yyjson_obj_get(root, "language"));
    b.asin = str_of(yyjson_obj_get(root, "asin"));
    b.isbn = str_of(yyjson_obj_get(root, "isbn"));
    b.publisher = str_of(yyjson_obj_get(root, "publisher"));
    b.published = str_of(yyjson_obj_get(root, "published"));
    yyjson_val *pages = yyjson_obj_get(root, "pages");
    if (yyjson_is_uint(pages)) b.pages = std::to_string(yyjson_get_uint(pages));
}

}  // namespace

Book describe(const std::string &path, Detail detail) {
    Book b;
    b.path = path;
    const bool full = detail == Detail::Full;
    char *text = full ? ebook_metadata(path.c_str()) : ebook_info(path.c_str());
    if (!text) {
        b.error = ebook_last_error();
        b.element = error_element(path, b.error);
        return b;
    }
    b.ok = true;
    b.object = text;
    ebook_free_string(text);

    // The short object's texts are the book's bytes, which need not be
    // UTF-8; the full record is always UTF-8.
    eb_doc_ptr doc = read_json(b.object, full ? 0 : YYJSON_READ_ALLOW_INVALID_UNICODE);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (full && yyjson_is_obj(root)) {
        read_full(b, root);
        b.element = record_element(path, root);
    } else {
        if (yyjson_is_obj(root)) read_basic(b, root);
        b.element = book_element(path, root);
    }
    return b;
}

std::vector<Book> describe_all(const std::vector<std::string> &paths, unsigned jobs, Detail detail,
                               const std::function<void(const Book &)> &on_done) {
    // A stream keeps nothing of the books it has written but those that
    // failed: over millions of books the texts would fill the memory.
    std::vector<Book> out(on_done ? 0 : paths.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex mu;
    std::condition_variable cv;
    std::size_t done = 0;
    Progress progress(paths.size());

    // The bar is taken away before anything else may reach the terminal:
    // a message about a failed book, or data when standard output is the
    // same screen.
    const bool stdout_tty = isatty(STDOUT_FILENO);
    auto work = [&] {
        try {
            while (!stop) {
                std::size_t i = next.fetch_add(1);
                if (i >= paths.size()) return;
                Book b = describe(paths[i], detail);
                std::lock_guard<std::mutex> lock(mu);
                if (on_done) {
                    if (stdout_tty || !b.ok) progress.clear();
                    on_done(b);
                    if (!b.ok) {
                        Book failed;
                        failed.path = std::move(b.path);
                        failed.error = std::move(b.error);
                        out.push_back(std::move(failed));
                    }
                } else {
                    out[i] = std::move(b);
                }
                // The bar is drawn on its own clock: only the last book wakes
                // the caller (a wake for each would cost a task switch each).
                if (++done == paths.size()) cv.notify_one();
            }
        } catch (...) {
            // Out of memory on a worker: the others stop after their book,
            // and the caller learns of it once they are joined.
            std::lock_guard<std::mutex> lock(mu);
            if (!failure) failure = std::current_exception();
            stop = true;
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
        while (done < paths.size() && !stop) {
            cv.wait_for(lock, std::chrono::milliseconds(100));
            progress.update(done);
        }
    }
    progress.clear();
    threads.clear();  // joins
    if (failure) std::rethrow_exception(failure);
    return out;
}

}  // namespace qcli
