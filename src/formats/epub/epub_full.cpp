// epub_full.cpp - EPUB full reader: container, package, protection, cover; one open archive.
#include <string>
#include <vector>

#include "error.h"
#include "heap.h"
#include "formats/epub/epub_opf.h"
#include "formats/full_readers.h"
#include "formats/zip_books.h"
#include "text/ascii.h"
#include "text/xml_reader.h"

namespace {

constexpr std::string_view kAdeptNs = "http://ns.adobe.com/adept";

// Font obfuscation (IDPF and Adobe): fonts are scrambled with the book's own
// identifier so they are not lifted out of it; the text is not protected.
bool is_font_obfuscation(std::string_view algorithm) {
    return algorithm == "http://www.idpf.org/2008/embedding" ||
           algorithm == "http://ns.adobe.com/pdf/enc#RC";
}

std::string_view local_of(std::string_view name) {
    std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first rootfile's full-path in container.xml.
class container_handler : public eb_xml_handler {
  public:
    bool found = false;
    std::string full_path;
    void start(std::string_view, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        if (local_of(local) != "rootfile") return;
        found = true;
        for (const eb_xml_attr &a : attrs)
            if (local_of(a.local) == "full-path") full_path.assign(a.value);
        stop = true;
    }
    void end(std::string_view, std::string_view) override {}
    void text(std::string_view) override {}
};

// The Algorithm of every EncryptionMethod in encryption.xml.
class encryption_handler : public eb_xml_handler {
  public:
    std::vector<std::string> algorithms;
    void start(std::string_view, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        if (local_of(local) != "EncryptionMethod") return;
        for (const eb_xml_attr &a : attrs)
            if (local_of(a.local) == "Algorithm") algorithms.emplace_back(a.value);
    }
    void end(std::string_view, std::string_view) override {}
    void text(std::string_view) override {}
};

// Whether any element of rights.xml is in Adobe's ADEPT namespace.
class rights_handler : public eb_xml_handler {
  public:
    bool adept = false;
    void start(std::string_view ns, std::string_view, const std::vector<eb_xml_attr> &) override {
        if (ns == kAdeptNs) {
            adept = true;
            stop = true;
        }
    }
    void end(std::string_view, std::string_view) override {}
    void text(std::string_view) override {}
};

// A document member read whole into one block of its own (not copied again
// into a string: a package may be 16 MiB).
struct member_doc {
    eb_unique<char> block;
    std::uint64_t len = 0;
    std::string_view text() const { return {block.get(), static_cast<std::size_t>(len)}; }
};

// Reads a small document member; on failure sets the error text as the
// single-book path does and returns false.
bool read_doc(const eb_zip_archive &za, std::int64_t idx, const std::string &name,
              member_doc *out) {
    char *block = nullptr;
    out->block.reset();
    out->len = 0;
    eb_zip_read rc = idx < 0 ? eb_zip_read::missing
                             : za.read_block(static_cast<std::uint64_t>(idx), EB_ZIP_DOC_CAP,
                                             &block, &out->len);
    out->block.reset(block);
    if (rc == eb_zip_read::ok) return true;
    if (rc == eb_zip_read::too_large)
        eb_set_error("zip member too large: %s", name.c_str());
    else
        eb_set_error("missing zip entry: %s", name.c_str());
    return false;
}

// What the container shows about protection. Nothing is decrypted: only the
// names of the licence files and the algorithms listed are looked at.
void read_protection(const eb_zip_archive &za, eb_record &r) {
    bool encrypted = false, fonts = false;
    std::string doc;
    std::int64_t enc = za.find("META-INF/encryption.xml");
    if (enc >= 0) {
        if (za.read(static_cast<std::uint64_t>(enc), EB_ZIP_DOC_CAP, &doc) == eb_zip_read::ok) {
            encryption_handler h;
            eb_xml_read(doc, h);
            for (const std::string &a : h.algorithms)
                (is_font_obfuscation(a) ? fonts : encrypted) = true;
        } else {
            // An encryption list that cannot be read may hide anything.
            encrypted = true;
            r.warnings.push_back("META-INF/encryption.xml cannot be read");
        }
    }
    bool adept = false;
    std::int64_t rights = za.find("META-INF/rights.xml");
    if (rights >= 0 &&
        za.read(static_cast<std::uint64_t>(rights), EB_ZIP_DOC_CAP, &doc) == eb_zip_read::ok) {
        rights_handler h;
        eb_xml_read(doc, h);
        adept = h.adept;
    }
    if (za.find("META-INF/license.lcpl") >= 0)
        r.drm_scheme = "readium-lcp";
    else if (adept)
        r.drm_scheme = "adobe-adept";
    else if (za.find("META-INF/sinf.xml") >= 0)
        r.drm_scheme = "apple-fairplay";
    else if (encrypted)
        r.drm_scheme = "unknown";
    r.drm = r.drm_scheme.has_value();
    r.obfuscated_fonts = fonts && !r.drm;
}

// The member path of an href relative to the package directory: "." and ".."
// segments resolved, runs of '/' folded, a leading '/' meaning the root.
std::string resolve_href(const std::string &package_dir, std::string_view href) {
    std::size_t cut = href.find_first_of("#?");
    if (cut != std::string_view::npos) href = href.substr(0, cut);
    std::string joined = (!href.empty() && href[0] == '/') ? std::string(href.substr(1))
                                                           : package_dir + std::string(href);
    std::vector<std::string> segs;
    std::size_t i = 0;
    while (i <= joined.size()) {
        std::size_t e = joined.find('/', i);
        if (e == std::string::npos) e = joined.size();
        std::string seg = joined.substr(i, e - i);
        if (seg == "..") {
            if (!segs.empty()) segs.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segs.push_back(std::move(seg));
        }
        i = e + 1;
    }
    std::string out;
    for (const std::string &s : segs)
        out += (out.empty() ? "" : "/") + s;
    return out;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An href is a URL: "my%20cover.jpg" names the member "my cover.jpg".
std::string percent_decode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 &&
            hex_value(s[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The cover's size from the central directory; the image itself is not read.
void read_cover_size(const eb_zip_archive &za, const std::string &package_dir,
                     const eb_opf_cover &c, eb_record &r) {
    if (c.href.empty()) return;
    std::string member = resolve_href(package_dir, c.href);
    std::int64_t idx = za.find(member);
    if (idx < 0 && member.find('%') != std::string::npos) idx = za.find(percent_decode(member));
    std::uint64_t size = 0;
    if (idx < 0 || !za.size(static_cast<std::uint64_t>(idx), &size)) {
        r.warnings.push_back("cover image not in the archive: " + member);
        return;
    }
    // A directory entry may claim more than the member's data can hold: such
    // a size says nothing true about the image.
    if (!za.size_possible(static_cast<std::uint64_t>(idx))) {
        r.warnings.push_back("cover image size larger than its data can hold: " + member);
        return;
    }
    r.cover = eb_cover_info{c.mime, size, c.from};
}

}  // namespace

void eb_epub_prefetch(const eb_zip_archive &za) {
    std::int64_t want[4] = {-1, -1, -1, -1};
    const std::string_view names[3] = {"META-INF/encryption.xml", "META-INF/rights.xml",
                                       "META-INF/container.xml"};
    for (std::uint64_t i = 0; i < za.count(); ++i) {
        const std::string_view n = za.name(i);
        const auto at = static_cast<std::int64_t>(i);
        for (int k = 0; k < 3; ++k)
            if (want[k] < 0 && eb_ascii_iequal(n, names[k])) want[k] = at;
        if (want[3] < 0 && eb_ascii_iends_with(n, ".opf")) want[3] = at;
    }
    za.prefetch({want[0], want[1], want[2], want[3]});
}

int eb_record_epub_zip(const eb_zip_archive &za, eb_record &r) {
    r.format = "epub";
    if (!za.ok()) {
        eb_set_error("bad zip / not a valid EPUB archive");
        return -1;
    }
    eb_epub_prefetch(za);
    read_protection(za, r);
    member_doc doc;
    if (!read_doc(za, za.find("META-INF/container.xml"), "META-INF/container.xml", &doc)) {
        eb_set_error("missing META-INF/container.xml");
        return -1;
    }
    container_handler ch;
    eb_xml_read(doc.text(), ch);
    if (!ch.found) {
        eb_set_error("no rootfile in container.xml");
        return -1;
    }
    if (ch.full_path.empty()) {
        eb_set_error("rootfile missing full-path");
        return -1;
    }
    const std::string package = ch.full_path;
    if (!read_doc(za, za.find(package), package, &doc)) return -1;
    eb_opf_cover cover;
    eb_opf_read(doc.text(), r, &cover);
    std::size_t slash = package.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : package.substr(0, slash + 1);
    read_cover_size(za, dir, cover, r);
    return 0;
}

// One archive handle for the call: the directory is read once and each
// member the reader wants at most once. A book that changed while it was read
// says so instead of blaming the archive.
int eb_record_epub(const eb_source &src, eb_record &r) {
    const eb_zip_archive za(src);
    const int rc = eb_record_epub_zip(za, r);
    if (za.source_failed()) {
        src.report_short_read();
        return -1;
    }
    return rc;
}

int eb_record_epub(const char *data, std::uint64_t len, eb_record &r) {
    const eb_source src(data, len);
    return eb_record_epub(src, r);
}

std::int64_t eb_zip_fb2_member(const eb_zip_archive &za) {
    std::int64_t fb2 = -1, file = -1;
    int fb2_count = 0, file_count = 0;
    for (std::uint64_t i = 0; i < za.count(); ++i) {
        std::string_view n = za.name(i);
        if (n.empty() || n.back() == '/') continue;
        ++file_count;
        file = static_cast<std::int64_t>(i);
        if (eb_ascii_iends_with(n, ".fb2")) {
            ++fb2_count;
            fb2 = static_cast<std::int64_t>(i);
        }
    }
    if (fb2_count == 1) return fb2;
    if (fb2_count == 0 && file_count == 1) return file;
    return -1;
}
