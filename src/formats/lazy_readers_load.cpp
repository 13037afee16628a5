// lazy_readers_load.cpp - the library's side of the PDF and libarchive readers: opens their module
// at first use and forwards to it.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "error.h"
#include "formats/full_readers.h"
#include "formats/lazy_readers.h"

namespace {

struct lazy_module {
    const eb_lazy_readers *readers = nullptr;
    std::string why;  // why it could not be used, when it could not
};

// The directory part of a path, its final '/' included ("" for none).
std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The module beside the file the library was loaded from: first beside the
// name it was loaded by, then, when that is a link elsewhere, beside the
// file itself. Opened by the first call that needs it, on any thread (a
// function-local static is initialised once), and kept for the process.
const lazy_module &module() {
    static const lazy_module m = [] {
        lazy_module l;
        Dl_info self{};
        if (!dladdr(reinterpret_cast<const void *>(&module), &self) || !self.dli_fname) {
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
            path = dir + QEM_LAZY_MODULE;
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
    }();
    return m;
}

// The module's error text, when a call left one, becomes the caller's.
void carry_error(const eb_lazy_readers &t) {
    if (const char *e = t.error_text(); e && *e) eb_set_error("%s", e);
}

}  // namespace

int eb_record_pdf(const eb_source &src, eb_record &r) {
    const lazy_module &m = module();
    if (!m.readers) {
        eb_set_error("cannot read PDF: %s (its reader is not available: %s)", src.path(),
                     m.why.c_str());
        return -1;
    }
    m.readers->clear_error();
    const int rc = m.readers->record_pdf(src, r);
    carry_error(*m.readers);
    return rc;
}

eb_comic_listing eb_la_list(const eb_source &src, eb_comic_kind kind) {
    const lazy_module &m = module();
    if (!m.readers) {
        eb_comic_listing l;
        l.warnings.push_back("the reader of RAR, 7z and tar archives is not available: " + m.why);
        return l;
    }
    m.readers->clear_error();
    eb_comic_listing l = m.readers->la_list(src, kind);
    carry_error(*m.readers);
    return l;
}

eb_comic_read eb_la_read(const eb_source &src, eb_comic_kind kind, const eb_comic_member &member,
                         std::uint64_t cap, std::uint64_t *unsized, char **out,
                         std::uint64_t *len) {
    *out = nullptr;
    *len = 0;
    const lazy_module &m = module();
    if (!m.readers) return eb_comic_read::damaged;
    m.readers->clear_error();
    const eb_comic_read rc = m.readers->la_read(src, kind, member, cap, unsized, out, len);
    carry_error(*m.readers);
    return rc;
}
