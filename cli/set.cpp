// set.cpp - the set subcommand: writes metadata into books on worker threads and says what changed.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "cli.h"
#include "progress.h"
#include "quenfold_ebook.h"

namespace qcli {

namespace {

// The record's keys a write may change, in the record's order.
constexpr const char *kShown[] = {"title",        "title_sort",  "subtitle",  "authors",
                                  "contributors", "language",    "languages", "series",
                                  "identifiers",  "isbn",        "publisher", "published",
                                  "rights",       "description", "subjects",  "cover"};

// A first signal lets the books being written finish and starts no other;
// a second one ends the tool at once (the books stay whole either way).
std::atomic<bool> g_stop{false};
extern "C" void on_signal(int) {
    g_stop = true;
}

struct Outcome {
    std::string path, error, before, after;  // the records as JSON text
    bool ok = false, ran = false;
};

std::string text_of(yyjson_val *v) {
    return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : std::string();
}

// A field's value as one line for a person: names joined, series with
// their index, long texts cut.
std::string display(const char *key, yyjson_val *v) {
    std::string out;
    std::size_t i, n;
    yyjson_val *e;
    const std::string k = key;
    if (yyjson_is_arr(v)) {
        yyjson_arr_foreach(v, i, n, e) {
            std::string one;
            if (k == "authors" || k == "contributors") {
                one = text_of(yyjson_obj_get(e, "name"));
                if (k == "contributors") one += " (" + text_of(yyjson_obj_get(e, "role")) + ")";
            } else if (k == "series") {
                one = text_of(yyjson_obj_get(e, "name"));
                if (const std::string idx = text_of(yyjson_obj_get(e, "index")); !idx.empty())
                    one += " #" + idx;
            } else if (k == "identifiers") {
                one = text_of(yyjson_obj_get(e, "scheme")) + ":" +
                      text_of(yyjson_obj_get(e, "value"));
            } else {
                one = text_of(e);
            }
            out += (out.empty() ? "" : k == "authors" ? " & " : ", ") + one;
        }
    } else if (yyjson_is_obj(v)) {  // the cover
        out = text_of(yyjson_obj_get(v, "mime")) + ", " +
              std::to_string(yyjson_get_uint(yyjson_obj_get(v, "size"))) + " bytes";
    } else {
        out = text_of(v);
    }
    if (out.empty()) return "(none)";
    if (out.size() > 72) {
        std::size_t cut = 69;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out = out.substr(0, cut) + "...";
    }
    return yyjson_is_str(v) ? "\"" + out + "\"" : out;
}

// The fields that differ between two records, each with both values.
template <typename F>
void each_change(const std::string &before, const std::string &after, F f) {
    eb_doc_ptr b = read_json(before, 0), a = read_json(after, 0);
    yyjson_val *rb = b ? yyjson_doc_get_root(b.get()) : nullptr;
    yyjson_val *ra = a ? yyjson_doc_get_root(a.get()) : nullptr;
    for (const char *key : kShown) {
        yyjson_val *vb = yyjson_obj_get(rb, key), *va = yyjson_obj_get(ra, key);
        if (!vb || !va ? vb != va : !yyjson_equals(vb, va)) f(key, vb, va);
    }
}

void print_text(const Outcome &o, bool dry) {
    if (!o.ok) return;
    std::string out;
    each_change(o.before, o.after, [&](const char *key, yyjson_val *vb, yyjson_val *va) {
        out += "  " +
               shown(std::string(key) + ": " + display(key, vb) + " -> " + display(key, va)) + "\n";
    });
    if (out.empty())
        write_out(stdout, shown(o.path) + ": unchanged\n");
    else
        write_out(stdout, shown(o.path) + (dry ? " (dry run, not written)\n" : "\n") + out);
}

std::string json_element(const Outcome &o, bool dry) {
    eb_mut_doc_ptr doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val *obj = yyjson_mut_obj(doc.get());
    if (!doc || !obj) throw std::bad_alloc();
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_doc_set_root(d, obj);
    add_path_members(d, obj, o.path);
    if (!o.ok) {
        yyjson_mut_obj_add_strncpy(d, obj, "error", o.error.data(), o.error.size());
    } else {
        yyjson_mut_val *changes = yyjson_mut_obj(d);
        each_change(o.before, o.after, [&](const char *key, yyjson_val *vb, yyjson_val *va) {
            yyjson_mut_val *c = yyjson_mut_obj(d);
            yyjson_mut_obj_add_val(d, c, "old",
                                   vb ? yyjson_val_mut_copy(d, vb) : yyjson_mut_null(d));
            yyjson_mut_obj_add_val(d, c, "new",
                                   va ? yyjson_val_mut_copy(d, va) : yyjson_mut_null(d));
            yyjson_mut_obj_add_val(d, changes, key, c);
        });
        yyjson_mut_obj_add_bool(d, obj, "written", !dry && yyjson_mut_obj_size(changes) > 0);
        yyjson_mut_obj_add_val(d, obj, "changes", changes);
    }
    std::size_t len = 0;
    char *text = yyjson_mut_write(d, 0, &len);
    if (!text) throw std::bad_alloc();
    std::string s(text, len);
    std::free(text);
    return s;
}

Outcome write_one(const SetOptions &opt, const SetTask &t, unsigned flags) {
    Outcome o;
    o.path = t.path;
    o.ran = true;
    if (!t.fault.empty()) {
        o.error = t.fault;
        return o;
    }
    if (char *rec = ebook_metadata(t.path.c_str())) {
        o.before = rec;
        ebook_free_string(rec);
    }
    std::string changes = opt.undo_last ? "{}" : t.changes;
    if (opt.from.empty() && !opt.undo_last) {
        changes = make_request(opt, o.before, &o.error);
        if (changes.empty()) return o;
    }
    char *after = ebook_write_metadata(t.path.c_str(), changes.c_str(), flags);
    if (!after) {
        o.error = ebook_last_error();
        return o;
    }
    o.after = after;
    ebook_free_string(after);
    o.ok = true;
    return o;
}

}  // namespace

int run_set(const SetOptions &opt) {
    if (!check_set_options(opt)) return kExitUsage;
    std::vector<SetTask> tasks;
    if (!set_tasks(opt, tasks)) return kExitUsage;
    const unsigned flags = (opt.dry_run ? EBOOK_WRITE_DRY_RUN : 0u) |
                           (opt.keep_mtime ? EBOOK_WRITE_KEEP_MTIME : 0u) |
                           (opt.break_links ? EBOOK_WRITE_BREAK_LINKS : 0u) |
                           (opt.undo_last ? EBOOK_WRITE_UNDO_LAST : 0u);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);

    std::vector<Outcome> out(tasks.size());
    std::atomic<std::size_t> next{0};
    std::mutex mu;
    std::condition_variable cv;
    std::size_t done = 0;
    std::exception_ptr failure;
    Progress progress(tasks.size() > 1 ? tasks.size() : 0);
    const bool stdout_tty = isatty(STDOUT_FILENO);
    auto work = [&] {
        try {
            for (std::size_t i; !g_stop && (i = next.fetch_add(1)) < tasks.size();) {
                Outcome o = write_one(opt, tasks[i], flags);
                std::lock_guard<std::mutex> lock(mu);
                if (!o.ok || (!opt.json && stdout_tty)) progress.clear();
                if (!o.ok) complain("%s: %s", o.path.c_str(), o.error.c_str());
                if (!opt.json) print_text(o, opt.dry_run);
                out[i] = std::move(o);
                if (++done == tasks.size()) cv.notify_one();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mu);
            if (!failure) failure = std::current_exception();
            g_stop = true;
        }
        cv.notify_one();
    };
    const std::size_t want = std::min<std::size_t>(opt.jobs ? opt.jobs : 1, tasks.size());
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < want; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error &) {
            break;
        }
    }
    if (threads.empty()) {
        work();
    } else {
        std::unique_lock<std::mutex> lock(mu);
        while (done < tasks.size() && !g_stop) {
            cv.wait_for(lock, std::chrono::milliseconds(100));
            progress.update(done);
        }
    }
    threads.clear();
    progress.clear();
    if (failure) std::rethrow_exception(failure);

    bool ok = true;
    std::string json = "[";
    std::size_t skipped = 0;
    for (const Outcome &o : out) {
        if (!o.ran) {
            ++skipped;
            continue;
        }
        ok = ok && o.ok;
        if (opt.json) json += (json.size() > 1 ? "," : "") + json_element(o, opt.dry_run);
    }
    if (opt.json) write_json(json + "]\n");
    if (skipped) {
        complain("interrupted: %zu of %zu books left as they were", skipped, tasks.size());
        ok = false;
    }
    return stdout_ok() && ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
