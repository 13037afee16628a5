// lazy_readers_load.cpp - the library's side of the PDF and libarchive readers: finds the table of
// the module that holds each family and calls through it.
#include <cstdlib>
#include <string>

#include "error.h"
#include "formats/lazy_readers.h"

#ifdef QEM_LAZY_MODULE
#include <dlfcn.h>
#endif

namespace {

enum class family { pdf, archive };

struct lazy_module {
    const eb_lazy_readers *readers = nullptr;
    std::string why;  // why it could not be used, when it could not
};

#ifdef QEM_LAZY_MODULE

// The file that holds a family. Both live in one module today; giving one
// its own file is a change here and in the build.
const char *module_file(family) {
    return QEM_LAZY_MODULE;
}

// The directory part of a path, its final '/' included ("" for none).
std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A module beside the file the library was loaded from: first beside the
// name it was loaded by, then, when that is a link elsewhere, beside the
// file itself.
lazy_module open_module(const char *file) {
    lazy_module l;
    Dl_info self{};
    if (!dladdr(reinterpret_cast<const void *>(&open_module), &self) || !self.dli_fname) {
        l.why = "the library's own location is unknown";
        return l;
    }
    std::string dirs[2] = {directory_of(self.dli_fname), {}};
    if (char *real = realpath(self.dli_fname, nullptr)) {
        dirs[1] = directory_of(real);
        std::free(real);
    }
    void *handle = nullptr;
    std::string path;
    for (const std::string &dir : dirs) {
        if (&dir != &dirs[0] && (dir.empty() || dir == dirs[0])) continue;
        path = dir + file;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) break;
        const char *e = dlerror();
        if (l.why.empty()) l.why = e ? e : path + ": cannot be loaded";
    }
    if (!handle) return l;
    l.why.clear();
    using entry_fn = const eb_lazy_readers *(*)();
    auto entry = reinterpret_cast<entry_fn>(dlsym(handle, EB_LAZY_ENTRY));
    const eb_lazy_readers *t = entry ? entry() : nullptr;
    if (!t || t->layout != eb_lazy_layout()) {
        l.why = path + ": built from other sources than this library";
        return l;
    }
    l.readers = t;
    return l;
}

// The module of a family, opened by the first call that needs it, on any
// thread (a function-local static is initialised once), and kept for the
// process; one that lacks the family is refused like one of another build.
const lazy_module &module(family f) {
    auto load = [](family which) {
        lazy_module l = open_module(module_file(which));
        const bool holds = l.readers && (which == family::pdf ? l.readers->pdf != nullptr
                                                              : l.readers->archive != nullptr);
        if (l.readers && !holds) {
            l.readers = nullptr;
            l.why =
                std::string(module_file(which)) + ": built from other sources than this library";
        }
        return l;
    };
    static const lazy_module pdf = load(family::pdf);
    static const lazy_module archive = load(family::archive);
    return f == family::pdf ? pdf : archive;
}

#else

// Linked in: the readers' own table, sharing the library's error text.
const lazy_module &module(family) {
    static const eb_lazy_readers linked = [] {
        eb_lazy_readers t = *quenfold_ebook_meta_lazy_readers();
        t.error_text = nullptr;
        t.clear_error = nullptr;
        return t;
    }();
    static const lazy_module m{&linked, {}};
    return m;
}

#endif

// Runs one call through the module's table: its error text emptied before,
// and what the call left there carried into the caller's after.
template <typename F>
auto through(const eb_lazy_readers &t, F call) {
    if (t.clear_error) t.clear_error();
    auto result = call();
    if (t.error_text)
        if (const char *e = t.error_text(); e && *e) eb_set_error("%s", e);
    return result;
}

}  // namespace

int eb_lazy_record_pdf(const eb_source &src, eb_record &r) {
    const lazy_module &m = module(family::pdf);
    if (!m.readers) {
        eb_set_error("cannot read PDF: %s (its reader is not available: %s)", src.path(),
                     m.why.c_str());
        return -1;
    }
    return through(*m.readers, [&] { return m.readers->pdf->record(src, r); });
}

int eb_lazy_write_pdf(const eb_source &book, const eb_record &before, const eb_changes &changes,
                      int out_fd) {
    const lazy_module &m = module(family::pdf);
    if (!m.readers) {
        eb_set_error("cannot write PDF: %s (its writer is not available: %s)", book.path(),
                     m.why.c_str());
        return -1;
    }
    return through(*m.readers,
                   [&] { return m.readers->pdf->write(book, before, changes, out_fd); });
}

eb_comic_listing eb_lazy_archive_list(const eb_source &src, eb_comic_kind kind) {
    const lazy_module &m = module(family::archive);
    if (!m.readers) {
        eb_comic_listing l;
        l.warnings.push_back("the reader of RAR, 7z and tar archives is not available: " + m.why);
        return l;
    }
    return through(*m.readers, [&] { return m.readers->archive->list(src, kind); });
}

eb_comic_read eb_lazy_archive_read(const eb_source &src, eb_comic_kind kind,
                                   const eb_comic_member &member, std::uint64_t cap,
                                   std::uint64_t *unsized, char **out, std::uint64_t *len) {
    *out = nullptr;
    *len = 0;
    const lazy_module &m = module(family::archive);
    if (!m.readers) return eb_comic_read::damaged;
    return through(*m.readers, [&] {
        return m.readers->archive->read(src, kind, member, cap, unsized, out, len);
    });
}
