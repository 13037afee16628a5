// fb2_probe.cpp - a FictionBook told by its root element in UTF-8 or UTF-16, and a zipped one read
// out of its archive.
#include "formats/fb2/fb2_probe.h"

#include <string>

#include "error.h"
#include "formats/full_readers.h"
#include "formats/zip_books.h"

namespace {

std::string_view skip_bom(std::string_view d) {
    if (d.size() >= 3 && d.substr(0, 3) == "\xEF\xBB\xBF") d.remove_prefix(3);
    return d;
}

// UTF-16 of either order: a byte order mark, or '<' beside a NUL.
bool utf16_start(std::string_view d) {
    return d.size() >= 2 &&
           ((d[0] == '\xFF' && d[1] == '\xFE') || (d[0] == '\xFE' && d[1] == '\xFF') ||
            (d[0] == '<' && d[1] == '\0') || (d[0] == '\0' && d[1] == '<'));
}

bool xml_start(std::string_view d) {
    return d.substr(0, 5) == "<?xml" || d.substr(0, 64).find('<') != std::string_view::npos;
}

}  // namespace

bool eb_fb2_may_be(std::string_view head) {
    head = skip_bom(head);
    return utf16_start(head) || xml_start(head);
}

bool eb_fb2_looks_like(std::string_view d) {
    d = skip_bom(d);
    if (utf16_start(d)) {
        // The ASCII of the first few kilobytes is enough to see the root.
        std::string narrow;
        for (std::size_t i = 0; i < d.size() && i < 8192; ++i)
            if (d[i] != '\0') narrow += d[i];
        return narrow.find("<FictionBook") != std::string::npos ||
               narrow.find("<fictionbook") != std::string::npos;
    }
    return xml_start(d) && (d.find("<FictionBook") != std::string_view::npos ||
                            d.find("<fictionbook") != std::string_view::npos);
}

int eb_record_fb2_zip(const eb_zip_archive &za, const char *label, eb_record &r) {
    if (!za.ok()) {
        eb_set_error("not a valid ZIP archive");
        return -1;
    }
    std::int64_t idx = eb_zip_fb2_member(za);
    if (idx < 0) {
        eb_set_error("no single FB2 document in ZIP: %s", label);
        return -1;
    }
    std::string doc;
    switch (za.read(static_cast<std::uint64_t>(idx), EB_ZIP_DOC_CAP, &doc)) {
        case eb_zip_read::ok:
            break;
        case eb_zip_read::too_large:
            eb_set_error("zip member too large: %s", std::string(za.name(idx)).c_str());
            return -1;
        default:
            eb_set_error("missing zip entry: %s", std::string(za.name(idx)).c_str());
            return -1;
    }
    // The one member is a FictionBook only if it reads as one, whatever its name.
    if (!eb_fb2_looks_like(doc)) {
        eb_set_error("no single FB2 document in ZIP: %s", label);
        return -1;
    }
    int rc = eb_record_fb2(doc, r);
    r.container = "fb2.zip";
    return rc;
}
