// zip_archive.cpp - the ZIP archive handle of the full record, over libzip.
#include "io/zip_archive.h"

#include <zip.h>

namespace {

// Smallest archive: an end-of-central-directory record alone. libzip takes an
// empty input for an empty archive; a book that short is no archive at all.
constexpr std::uint64_t ZIP_EOCD_SIZE = 22;

struct zip_file_closer {
    void operator()(zip_file_t *zf) const noexcept { zip_fclose(zf); }
};
using zip_file_ptr = std::unique_ptr<zip_file_t, zip_file_closer>;

inline unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

bool eb_ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(static_cast<unsigned char>(a[i])) !=
            ascii_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool eb_ascii_iends_with(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && eb_ascii_iequal(s.substr(s.size() - suffix.size()), suffix);
}

eb_zip_archive::eb_zip_archive(const void *data, std::uint64_t len) {
    if (!data || len < ZIP_EOCD_SIZE) return;
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *src = zip_source_buffer_create(data, len, 0, &err);
    if (src) {
        za_ = zip_open_from_source(src, ZIP_RDONLY, &err);
        // The archive owns its source only once it has opened.
        if (!za_) zip_source_free(src);
    }
    zip_error_fini(&err);
    if (za_) {
        zip_int64_t n = zip_get_num_entries(za_, 0);
        count_ = n > 0 ? static_cast<std::uint64_t>(n) : 0;
    }
}

eb_zip_archive::~eb_zip_archive() {
    if (za_) zip_discard(za_);
}

std::string_view eb_zip_archive::name(std::uint64_t i) const {
    if (!za_ || i >= count_) return {};
    const char *s = zip_get_name(za_, i, ZIP_FL_ENC_RAW);
    return s ? std::string_view(s) : std::string_view();
}

std::int64_t eb_zip_archive::find(std::string_view want) const {
    for (std::uint64_t i = 0; i < count_; ++i)
        if (eb_ascii_iequal(name(i), want)) return static_cast<std::int64_t>(i);
    return -1;
}

bool eb_zip_archive::size(std::uint64_t i, std::uint64_t *out) const {
    if (!za_ || i >= count_) return false;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za_, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) return false;
    *out = st.size;
    return true;
}

eb_zip_read eb_zip_archive::read(std::uint64_t i, std::uint64_t cap, std::string *out) const {
    out->clear();
    if (!za_ || i >= count_) return eb_zip_read::missing;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za_, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        return eb_zip_read::damaged;
    if (st.size > cap) return eb_zip_read::too_large;
    // Deflate cannot expand data more than about 1032 times, and a stored
    // member not at all: a header claiming more is lying and gets no block.
    if ((st.valid & ZIP_STAT_COMP_SIZE) && (st.valid & ZIP_STAT_COMP_METHOD)) {
        if (st.comp_method == ZIP_CM_STORE && st.size > st.comp_size) return eb_zip_read::too_large;
        if (st.comp_method == ZIP_CM_DEFLATE && st.size / 1032 > st.comp_size + 1)
            return eb_zip_read::too_large;
    }
    zip_file_ptr zf(zip_fopen_index(za_, i, 0));
    if (!zf) return eb_zip_read::damaged;
    out->resize(st.size);
    std::uint64_t got = 0;
    while (got < st.size) {
        zip_int64_t n = zip_fread(zf.get(), out->data() + got, st.size - got);
        if (n <= 0) {
            out->clear();
            return eb_zip_read::damaged;
        }
        got += static_cast<std::uint64_t>(n);
    }
    // One read past the declared end lets libzip reach the end of the data and
    // check its CRC; a member that yields more than declared fails here too.
    char extra;
    if (zip_fread(zf.get(), &extra, 1) != 0) {
        out->clear();
        return eb_zip_read::damaged;
    }
    return eb_zip_read::ok;
}
