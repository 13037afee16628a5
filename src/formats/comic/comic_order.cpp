// comic_order.cpp - pages and documents among a comic archive's members, natural order, the cover.
#include "formats/comic/comic_order.h"

#include <algorithm>
#include <string>

#include "io/zip_archive.h"
#include "text/ascii.h"

namespace {

bool separator(char c) {
    return c == '/' || c == '\\';
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// The name without a leading "/" or "./": "./ComicInfo.xml" lies in the root.
std::string_view relative(std::string_view name) {
    for (;;) {
        if (!name.empty() && separator(name[0]))
            name.remove_prefix(1);
        else if (name.size() >= 2 && name[0] == '.' && separator(name[1]))
            name.remove_prefix(2);
        else
            return name;
    }
}

std::string_view base_name(std::string_view name) {
    std::size_t cut = name.find_last_of("/\\");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

// Folders between the root and the file.
std::size_t depth(std::string_view name) {
    return static_cast<std::size_t>(std::count_if(name.begin(), name.end(), separator));
}

bool in_macosx(std::string_view name) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || separator(name[i])) {
            if (i < name.size() && eb_ascii_iequal(name.substr(start, i - start), "__MACOSX"))
                return true;
            start = i + 1;
        }
    }
    return false;
}

struct image_type {
    std::string_view ext, mime;
};
constexpr image_type kImages[] = {
    {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"}, {"jpe", "image/jpeg"},  {"png", "image/png"},
    {"gif", "image/gif"},  {"webp", "image/webp"}, {"bmp", "image/bmp"},   {"avif", "image/avif"},
    {"jxl", "image/jxl"},  {"tif", "image/tiff"},  {"tiff", "image/tiff"},
};

// Sort key of one byte outside digit runs.
unsigned key(char c) {
    if (separator(c)) return 0;
    return eb_ascii_lower(static_cast<unsigned char>(c));
}

}  // namespace

std::string_view eb_comic_image_mime(std::string_view name) {
    std::string_view base = base_name(name);
    std::size_t dot = base.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string_view ext = base.substr(dot + 1);
    for (const image_type &t : kImages)
        if (eb_ascii_iequal(ext, t.ext)) return t.mime;
    return {};
}

bool eb_comic_is_image(std::string_view name) {
    name = relative(name);
    std::string_view base = base_name(name);
    return !base.empty() && base[0] != '.' && !eb_comic_image_mime(base).empty() &&
           !in_macosx(name);
}

const eb_comic_member *eb_comic_find_doc(const std::vector<eb_comic_member> &members,
                                         std::string_view file_name) {
    const eb_comic_member *folder = nullptr;
    for (const eb_comic_member &m : members) {
        std::string_view name = relative(m.name);
        if (!eb_ascii_iequal(base_name(name), file_name)) continue;
        std::size_t d = depth(name);
        if (d == 0) return &m;
        if (d == 1 && !folder && !in_macosx(name)) folder = &m;
    }
    return folder;
}

int eb_comic_natural_cmp(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            std::string_view da = a.substr(i, ie - i), db = b.substr(j, je - j);
            while (da.size() > 1 && da[0] == '0')
                da.remove_prefix(1);
            while (db.size() > 1 && db[0] == '0')
                db.remove_prefix(1);
            // Runs of any length compare by value without being converted.
            if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
            if (int c = da.compare(db)) return c < 0 ? -1 : 1;
            i = ie;
            j = je;
            continue;
        }
        const unsigned ka = key(a[i]), kb = key(b[j]);
        if (ka != kb) return ka < kb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::vector<const eb_comic_member *> eb_comic_pages(const std::vector<eb_comic_member> &members) {
    std::vector<const eb_comic_member *> pages;
    for (const eb_comic_member &m : members)
        if (eb_comic_is_image(m.name)) pages.push_back(&m);
    std::stable_sort(pages.begin(), pages.end(),
                     [](const eb_comic_member *x, const eb_comic_member *y) {
                         return eb_comic_natural_cmp(relative(x->name), relative(y->name)) < 0;
                     });
    return pages;
}

eb_comic_cover_choice eb_comic_choose_cover(const std::vector<const eb_comic_member *> &pages,
                                            std::optional<std::uint64_t> front_cover,
                                            std::string_view cover_name,
                                            std::vector<std::string> *warnings) {
    if (front_cover) {
        if (*front_cover < pages.size()) return {pages[*front_cover], "front-cover"};
        warnings->push_back("FrontCover page " + std::to_string(*front_cover) +
                            " is not among the " + std::to_string(pages.size()) + " images");
    }
    if (!cover_name.empty()) {
        // CoMet names the image by its file name, in the document's folder
        // or the root; the whole name or its last part must match.
        for (const eb_comic_member *p : pages)
            if (eb_ascii_iequal(relative(p->name), relative(cover_name)) ||
                eb_ascii_iequal(base_name(p->name), cover_name))
                return {p, "comet-cover-image"};
        warnings->push_back("CoMet coverImage names no image of the archive");
    }
    if (!pages.empty()) return {pages.front(), "first-image"};
    return {};
}
