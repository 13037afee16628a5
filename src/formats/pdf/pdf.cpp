// pdf.cpp - PDF full reader over libqpdf: opening through the book source, protection, page count,
// version, the Info dictionary and XMP; no exception leaves it but bad_alloc.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "error.h"
#include "formats/full_readers.h"
#include "formats/pdf/pdf_guard.h"
#include "formats/pdf/pdf_lazy.h"
#include "formats/pdf/pdf_quiet.h"
#include "formats/pdf/pdf_walk.h"
#include "formats/pdf/pdf_map.h"
#include "formats/pdf/pdf_paths.h"
#include "formats/pdf/pdf_source.h"
#include "formats/pdf/pdf_streams.h"
#include "formats/pdf/pdf_text.h"
#include "text/encoding.h"

namespace {

constexpr std::size_t kLibraryWarnings = 3;
constexpr std::uint64_t kTail = 64 * 1024;  // the end of the file, read first

// A message of the library's (which may quote the file) as one line of
// valid UTF-8 without control characters, at most 200 bytes.
std::string shown(std::string_view s) {
    std::string out = eb_utf8_repair(s.substr(0, 200), nullptr);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

// "1.7" as a number to compare: major * 1000 + minor; -1 when it is none.
int version_number(std::string_view v) {
    const std::size_t dot = v.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > 3 || dot + 1 >= v.size() ||
        v.size() - dot - 1 > 3)
        return -1;
    int major = 0, minor = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i == dot) continue;
        if (v[i] < '0' || v[i] > '9') return -1;
        int &part = i < dot ? major : minor;
        part = part * 10 + (v[i] - '0');
    }
    return major * 1000 + minor;
}

// The version in the header ("%PDF-1.7" within the first 1,024 bytes);
// nothing when the file has none (qpdf then assumes one of its own).
std::optional<std::string> header_version(eb_pdf_input &in) {
    char head[1024];
    const std::size_t n = in.read(head, sizeof head);
    in.rewind();
    const std::string_view h(head, n);
    const std::size_t at = h.find("%PDF-");
    if (at == std::string_view::npos) return std::nullopt;
    std::size_t end = at + 5;
    while (end < h.size() && ((h[end] >= '0' && h[end] <= '9') || h[end] == '.'))
        ++end;
    std::string v(h.substr(at + 5, end - at - 5));
    if (version_number(v) < 0) return std::nullopt;
    return v;
}

// Runs one step of the reading; a failure of the library there is a
// warning, and the steps after it still run.
template <typename F>
void step(const char *what, eb_record &r, F f) {
    try {
        f();
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &e) {
        r.warnings.push_back(std::string("PDF ") + what + " not read: " + shown(e.what()));
    }
}

// The /Filter of the trailer's /Encrypt dictionary ("Standard",
// "EBX_HANDLER"), "" when there is none or it cannot be read.
std::string encrypt_filter(QPDF &pdf) {
    try {
        QPDFObjectHandle enc = pdf.getTrailer().getKey("/Encrypt");
        if (!enc.isDictionary()) return {};
        QPDFObjectHandle f = enc.getKey("/Filter");
        return f.isName() ? f.getName().substr(1) : "?";
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        return {};
    }
}

// A document protected against reading: what protects it, and nothing else.
int protected_pdf(const char *scheme, const std::string &why, eb_record &r) {
    r.drm = true;
    r.drm_scheme = scheme;
    r.warnings.push_back(why + "; its metadata is not read");
    return 0;
}

// The document qpdf would not open. Encryption that needs a password other
// than the empty one, or a security handler qpdf does not know, is
// protection; anything else is no PDF qpdf can read, even by recovery.
int refused(QPDF &pdf, qpdf_error_code_e code, const std::string &detail, eb_record &r) {
    if (code == qpdf_e_password || code == qpdf_e_unsupported) {
        const std::string filter = encrypt_filter(pdf);
        if (code == qpdf_e_password || filter == "Standard")
            return protected_pdf("pdf-password", "PDF encrypted with a password", r);
        if (filter == "EBX_HANDLER")
            return protected_pdf("adobe-adept", "PDF protected by Adobe ADEPT (EBX_HANDLER)", r);
        if (!filter.empty())
            return protected_pdf("unknown",
                                 "PDF encrypted by the security handler " + shown(filter), r);
    }
    eb_set_error("not a valid PDF: %s", shown(detail).c_str());
    return -1;
}

std::string method_name(QPDF::encryption_method_e m) {
    switch (m) {
        case QPDF::e_rc4:
            return "RC4";
        case QPDF::e_aes:
            return "AES-128";
        case QPDF::e_aesv3:
            return "AES-256";
        default:
            return "no cipher";
    }
}

// What the permission bits of an encrypted document withhold.
std::string restrictions(QPDF &pdf) {
    int R = 0, P = 0, V = 0;
    QPDF::encryption_method_e stream = QPDF::e_none, string = QPDF::e_none, file = QPDF::e_none;
    pdf.isEncrypted(R, P, V, stream, string, file);
    auto allowed = [P](int bit) { return (static_cast<unsigned>(P) >> (bit - 1)) & 1u; };
    std::string list;
    auto add = [&list](const char *what) {
        list += (list.empty() ? "" : ", ") + std::string(what);
    };
    if (!allowed(3))
        add("printing");
    else if (R >= 3 && !allowed(12))
        add("high-quality printing");
    if (!allowed(4)) add("changes");
    if (!allowed(5)) add("copying");
    if (!allowed(6)) add("notes");
    if (R >= 3) {
        if (!allowed(9)) add("form filling");
        if (!allowed(10)) add("extraction for accessibility");
        if (!allowed(11)) add("page assembly");
    }
    // Before version 4 of the handler there is one cipher, RC4.
    return "PDF encrypted (" + (V < 4 ? "RC4" : method_name(stream)) +
           ") with an empty user password, read as viewers do; " +
           (list.empty() ? "it restricts nothing" : "it restricts " + list);
}

// The catalog, as qpdf's getRoot() finds it, through the guard.
QPDFObjectHandle catalog(QPDF &pdf, eb_pdf_guard &g) {
    QPDFObjectHandle root = g.key(pdf.getTrailer(), "/Root");
    if (!root.isDictionary()) throw std::runtime_error("unable to find /Root dictionary");
    return root;
}

// A dictionary's value as the document reads it (through the guard on
// qpdf's path, where resolving may make qpdf inflate an object stream).
QPDFObjectHandle key_of(const eb_pdf_document &doc, QPDFObjectHandle dict, const char *k) {
    return doc.key ? doc.key(dict, k) : dict.getKey(k);
}

void read_version(const eb_pdf_document &doc, const std::optional<std::string> &header,
                  eb_record &r) {
    if (header) r.version = *header;
    QPDFObjectHandle v = key_of(doc, doc.root(), "/Version");
    if (!v.isName()) return;
    // A later version in the catalog overrides the header's (an update
    // appended to an older file).
    const std::string catalog = v.getName().substr(1);
    if (version_number(catalog) > (r.version ? version_number(*r.version) : -1))
        r.version = catalog;
}

// The page tree root's /Count: a page tree cannot hold more pages than the
// file has objects, so a larger count is no count (checked only above a
// thousand, where the cross-reference table is worth counting).
void read_pages(const eb_pdf_document &doc, eb_record &r) {
    QPDFObjectHandle pages = key_of(doc, doc.root(), "/Pages");
    if (!pages.isDictionary()) {
        r.warnings.push_back("PDF page tree root is not a dictionary; page count unknown");
        return;
    }
    QPDFObjectHandle count = key_of(doc, pages, "/Count");
    if (!count.isInteger()) {
        r.warnings.push_back("PDF page tree root states no page count");
        return;
    }
    const long long n = count.getIntValue();
    if (n < 0 || n > INT32_MAX) {
        r.warnings.push_back("PDF page count " + std::to_string(n) + " is impossible; not used");
        return;
    }
    if (n > 1000) {
        const std::size_t objects = doc.objects();
        if (static_cast<unsigned long long>(n) > objects) {
            r.warnings.push_back("PDF page count " + std::to_string(n) + " is more than the " +
                                 std::to_string(objects) + " objects of the file; not used");
            return;
        }
    }
    r.pages = static_cast<std::uint64_t>(n);
}

std::string text_of(const eb_pdf_document &doc, QPDFObjectHandle dict, const char *key) {
    QPDFObjectHandle v = key_of(doc, dict, key);
    return v.isString() ? eb_pdf_text(v.getStringValue()) : std::string();
}

eb_pdf_info read_info(const eb_pdf_document &doc, eb_record &r) {
    eb_pdf_info info;
    QPDFObjectHandle d = key_of(doc, doc.trailer(), "/Info");
    if (d.isNull()) return info;
    if (!d.isDictionary()) {
        r.warnings.push_back("PDF Info entry is not a dictionary; not read");
        return info;
    }
    info.present = true;
    info.title = text_of(doc, d, "/Title");
    info.author = text_of(doc, d, "/Author");
    info.subject = text_of(doc, d, "/Subject");
    info.keywords = text_of(doc, d, "/Keywords");
    info.creation_date = text_of(doc, d, "/CreationDate");
    info.mod_date = text_of(doc, d, "/ModDate");
    info.isbn = text_of(doc, d, "/ISBN");
    info.doi = text_of(doc, d, "/DOI");
    if (info.doi.empty()) info.doi = text_of(doc, d, "/doi");
    return info;
}

// Every reading of the document: its protection, then what it states.
int read_document(QPDF &pdf, eb_pdf_guard &g, const std::optional<std::string> &header,
                  eb_record &r) {
    if (pdf.isEncrypted()) {
        // An empty owner password alone lets the document open, but its
        // reader still needs the user password: that is protection.
        if (!pdf.userPasswordMatched())
            return protected_pdf("pdf-password", "PDF encrypted with a user password", r);
        r.warnings.push_back(restrictions(pdf));
    }
    eb_pdf_read_fields({[&] { return pdf.getTrailer(); }, [&] { return catalog(pdf, g); },
                        [&] { return pdf.getXRefTable().size(); },
                        [&](eb_record &rec) {
                            return eb_pdf_xmp_stream(g.key(catalog(pdf, g), "/Metadata"), rec);
                        },
                        [&](QPDFObjectHandle dict, const char *k) { return g.key(dict, k); }},
                       header, r);
    return 0;
}

// At most a few of the library's warnings, and how many more there were.
void library_warnings(QPDF &pdf, eb_record &r) {
    const std::vector<QPDFExc> ws = pdf.getWarnings();
    for (std::size_t i = 0; i < ws.size() && i < kLibraryWarnings; ++i)
        r.warnings.push_back(shown(ws[i].what()));
    if (ws.size() > kLibraryWarnings)
        r.warnings.push_back("PDF: " + std::to_string(ws.size() - kLibraryWarnings) +
                             " more warnings");
}

}  // namespace

void eb_pdf_read_fields(const eb_pdf_document &doc, const std::optional<std::string> &header,
                        eb_record &r) {
    step("version", r, [&] { read_version(doc, header, r); });
    step("page count", r, [&] { read_pages(doc, r); });
    eb_pdf_info info;
    step("Info dictionary", r, [&] { info = read_info(doc, r); });
    std::string lang;
    step("language", r, [&] { lang = text_of(doc, doc.root(), "/Lang"); });
    eb_pdf_xmp xmp;
    step("XMP", r, [&] { xmp = doc.xmp(r); });
    eb_pdf_merge(info, xmp, lang, r);
}

int eb_record_pdf(const eb_source &src, eb_record &r) {
    return eb_record_pdf_by(src, r, eb_pdf_path::either);
}

int eb_record_pdf_by(const eb_source &src, eb_record &r, eb_pdf_path path,
                     std::size_t *qpdf_warnings) {
    if (qpdf_warnings) *qpdf_warnings = 0;
    r.format = "pdf";
    auto input = std::make_shared<eb_pdf_input>(src);
    // The end first: both paths start there, and in a small file the header
    // comes with it.
    input->keep(src.size() > kTail ? src.size() - kTail : 0, kTail);
    const std::optional<std::string> header = header_version(*input);
    if (path != eb_pdf_path::qpdf && eb_pdf_lazy_record(input, header, r)) return 0;
    if (path == eb_pdf_path::lazy) return 1;
    input->rewind();  // qpdf starts as on a fresh input, the bytes read so far at hand
    // Nothing qpdf inflates while opening goes unchecked, and a repair
    // stays within its budget (formats/pdf/pdf_walk.h).
    eb_pdf_open_plan plan = eb_pdf_plan_open(input);
    if (!plan.refusal.empty()) {
        if (src.failed()) {
            src.report_short_read();
            return -1;
        }
        eb_set_error("%s", plan.refusal.c_str());
        return -1;
    }
    if (plan.encrypted && plan.object_streams) eb_pdf_plan_encryption(input, plan);
    QPDF pdf;
    eb_pdf_silence(pdf);
    for (int n : plan.nulled)
        pdf.replaceObject(n, 0, QPDFObjectHandle::newNull());

    int rc = 0;
    try {
        pdf.processInputSource(input);
        eb_pdf_guard guard(pdf, input, plan, r);
        rc = read_document(pdf, guard, header, r);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const QPDFExc &e) {
        rc = refused(pdf, e.getErrorCode(), e.getMessageDetail(), r);
    } catch (const std::exception &e) {
        rc = refused(pdf, qpdf_e_internal, e.what(), r);
    }
    if (src.failed()) {
        src.report_short_read();
        return -1;
    }
    if (qpdf_warnings) *qpdf_warnings = pdf.numWarnings();
    if (rc == 0) {
        if (r.drm && header) r.version = header;
        r.warnings.insert(r.warnings.end(), plan.warnings.begin(), plan.warnings.end());
        library_warnings(pdf, r);
    }
    return rc;
}
