// epub_write.cpp - the EPUB writer: the package document edited, every other member copied raw.
#include <string>
#include <vector>

#include "error.h"
#include "formats/epub/epub_opf_edit.h"
#include "formats/epub/epub_write.h"
#include "io/out_file.h"
#include "io/zip_writer.h"
#include "text/ascii.h"
#include "text/xml_reader.h"

namespace {

// The first rootfile's full-path, as the reader takes it.
class rootfile_handler : public eb_xml_handler {
  public:
    std::string path;
    bool found = false;
    void start(std::string_view, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        if (local.substr(local.rfind(':') + 1) != "rootfile") return;
        found = true;
        for (const eb_xml_attr &a : attrs)
            if (a.local.substr(a.local.rfind(':') + 1) == "full-path") path.assign(a.value);
        stop = true;
    }
    void end(std::string_view, std::string_view) override {}
    void text(std::string_view) override {}
};

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percent_decoded(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The member an href names from the package's folder, as the reader resolves it.
std::string member_of(const eb_zip_archive &za, const std::string &dir, std::string_view href) {
    const std::size_t cut = href.find_first_of("#?");
    if (cut != std::string_view::npos) href = href.substr(0, cut);
    const std::string joined =
        !href.empty() && href[0] == '/' ? std::string(href.substr(1)) : dir + std::string(href);
    std::vector<std::string> segs;
    for (std::size_t i = 0; i <= joined.size();) {
        std::size_t e = joined.find('/', i);
        if (e == std::string::npos) e = joined.size();
        const std::string seg = joined.substr(i, e - i);
        if (seg == "..") {
            if (!segs.empty()) segs.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segs.push_back(seg);
        }
        i = e + 1;
    }
    std::string out;
    for (const std::string &s : segs)
        out += (out.empty() ? "" : "/") + s;
    if (za.find(out) < 0 && out.find('%') != std::string::npos) return percent_decoded(out);
    return out;
}

bool texty(std::string_view name) {
    for (std::string_view ext :
         {".xhtml", ".html", ".htm", ".xml", ".css", ".ncx", ".svg", ".smil", ".opf", ".js"})
        if (eb_ascii_iends_with(name, ext)) return true;
    return false;
}

// Whether a text member other than the package document names the file
// (by its base name, plain or percent-encoded). A member that cannot be
// read counts as naming it.
bool named_elsewhere(const eb_zip_archive &za, std::uint64_t package, const std::string &member) {
    const std::string base = member.substr(member.rfind('/') + 1);
    std::string encoded;
    for (unsigned char ch : base) {
        if (ch == ' ' || ch >= 0x80 || ch == '%') {
            static const char *h = "0123456789ABCDEF";
            encoded += '%';
            encoded += h[ch >> 4];
            encoded += h[ch & 15];
        } else {
            encoded += static_cast<char>(ch);
        }
    }
    std::string text;
    for (std::uint64_t i = 0; i < za.count(); ++i) {
        const std::string_view n = za.name(i);
        if (i == package || n == member || !texty(n)) continue;
        if (za.read(i, EB_ZIP_DOC_CAP, &text) != eb_zip_read::ok) return true;
        if (text.find(base) != std::string::npos || text.find(encoded) != std::string::npos)
            return true;
    }
    return false;
}

bool read_member(const eb_zip_archive &za, std::int64_t idx, const std::string &name,
                 std::string *out) {
    const eb_zip_read rc = idx < 0 ? eb_zip_read::missing
                                   : za.read(static_cast<std::uint64_t>(idx), EB_ZIP_DOC_CAP, out);
    if (rc == eb_zip_read::ok) return true;
    if (rc == eb_zip_read::too_large)
        eb_set_error("zip member too large: %s", name.c_str());
    else
        eb_set_error("missing zip entry: %s", name.c_str());
    return false;
}

int write_epub(const eb_source &book, const eb_record &, const eb_changes &c, int out_fd) {
    const eb_zip_archive za(book);
    if (!za.ok()) {
        eb_set_error("bad zip / not a valid EPUB archive");
        return -1;
    }
    std::string doc;
    if (!read_member(za, za.find("META-INF/container.xml"), "META-INF/container.xml", &doc))
        return -1;
    rootfile_handler root;
    eb_xml_read(doc, root);
    if (root.path.empty()) {
        eb_set_error("rootfile missing full-path");
        return -1;
    }
    const std::int64_t package = za.find(root.path);
    if (!read_member(za, package, root.path, &doc)) return -1;

    eb_opf_cover_plan plan;
    const std::size_t slash = root.path.rfind('/');
    plan.package_dir = slash == std::string::npos ? "" : root.path.substr(0, slash + 1);
    plan.exists = [&za](const std::string &m) { return za.find(m) >= 0; };
    plan.member = [&](const std::string &href) { return member_of(za, plan.package_dir, href); };
    plan.referenced = [&](const std::string &m) {
        return named_elsewhere(za, static_cast<std::uint64_t>(package), m);
    };
    std::string opf;
    if (!eb_opf_edit(doc, root.path, c, &plan, &opf)) return -1;

    eb_zip_rewrite rw(za);
    rw.mimetype_first();
    rw.set_time(c.now);
    rw.replace(static_cast<std::uint64_t>(package), std::move(opf));
    if (!plan.remove_member.empty())
        if (const std::int64_t old = za.find(plan.remove_member); old >= 0 && old != package)
            rw.remove(static_cast<std::uint64_t>(old));
    if (!plan.add_member.empty() && c.cover.value)
        rw.add(plan.add_member, c.cover.value->bytes, true);
    eb_out_file out(out_fd);
    if (!rw.write(out)) return -1;
    return za.source_failed() ? (book.report_short_read(), -1) : 0;
}

}  // namespace

const eb_format_writer eb_epub_writer = {
    "EPUB books",
    EB_W_TITLE | EB_W_TITLE_SORT | EB_W_SUBTITLE | EB_W_AUTHORS | EB_W_CONTRIBUTORS |
        EB_W_LANGUAGES | EB_W_SERIES | EB_W_IDENTIFIERS | EB_W_ISBN | EB_W_PUBLISHER |
        EB_W_PUBLISHED | EB_W_DESCRIPTION | EB_W_SUBJECTS | EB_W_RIGHTS | EB_W_COVER,
    write_epub};
