// fb2_write.cpp - the FictionBook writer: a .fb2 file, or the document inside a .fb2.zip / .fbz.
#include <string>

#include "error.h"
#include "formats/fb2/fb2_write.h"
#include "formats/zip_books.h"
#include "io/file.h"
#include "io/out_file.h"
#include "io/zip_writer.h"

namespace {

int write_zipped(const eb_source &book, const eb_changes &c, eb_out_file &out) {
    const eb_zip_archive za(book);
    const std::int64_t idx = za.ok() ? eb_zip_fb2_member(za) : -1;
    if (idx < 0) {
        eb_set_error("no single FB2 document in ZIP: %s", book.path());
        return -1;
    }
    std::string doc, edited;
    const std::string name(za.name(static_cast<std::uint64_t>(idx)));
    switch (za.read(static_cast<std::uint64_t>(idx), EB_ZIP_DOC_CAP, &doc)) {
        case eb_zip_read::ok:
            break;
        case eb_zip_read::too_large:
            eb_set_error("zip member too large: %s", name.c_str());
            return -1;
        default:
            eb_set_error("missing zip entry: %s", name.c_str());
            return -1;
    }
    if (!eb_fb2_edit(doc, c, &edited)) return -1;
    eb_zip_rewrite rw(za);
    rw.set_time(c.now);
    rw.replace(static_cast<std::uint64_t>(idx), std::move(edited));
    if (!rw.write(out)) return -1;
    return za.source_failed() ? (book.report_short_read(), -1) : 0;
}

int write_fb2(const eb_source &book, const eb_record &before, const eb_changes &c, int out_fd) {
    eb_out_file out(out_fd);
    if (before.container) return write_zipped(book, c, out);
    const eb_whole_book whole(book);
    if (!whole.ok()) return -1;
    // The new document goes to the file piece by piece, never whole in memory.
    if (!eb_fb2_edit(std::string_view(whole.data(), whole.size()), c,
                     [&out](std::string_view piece) { return out.put(piece); }))
        return -1;
    return out.flush() ? 0 : -1;
}

}  // namespace

const eb_format_writer eb_fb2_writer = {
    "FictionBook books",
    EB_W_TITLE | EB_W_AUTHORS | EB_W_CONTRIBUTORS | EB_W_LANGUAGES | EB_W_SERIES | EB_W_ISBN |
        EB_W_PUBLISHER | EB_W_PUBLISHED | EB_W_DESCRIPTION | EB_W_SUBJECTS | EB_W_COVER,
    write_fb2};
