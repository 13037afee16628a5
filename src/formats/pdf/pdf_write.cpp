// pdf_write.cpp - the PDF writer over libqpdf: the document opened without repair, refused when
// encrypted or damaged, its Info, catalog and XMP read, and the update that replaces them appended.
#include "formats/pdf/pdf_write.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>

#include "error.h"
#include "formats/pdf/pdf_append.h"
#include "formats/pdf/pdf_guard.h"
#include "formats/pdf/pdf_plan.h"
#include "formats/pdf/pdf_quiet.h"
#include "formats/pdf/pdf_source.h"
#include "formats/pdf/pdf_streams.h"
#include "formats/pdf/pdf_walk.h"
#include "formats/pdf/pdf_xmp.h"
#include "io/write_out.h"

namespace {

constexpr std::size_t kXmpCap = 4 * 1024 * 1024;  // as the reader reads it

int refuse(const char *why) {
    eb_set_error("PDF is %s; write refused, nothing changed", why);
    return -1;
}

// The decoded stream data, whole, up to the cap; past it the pipeline
// throws, which stops qpdf's decoding.
class capped final : public Pipeline {
  public:
    capped() : Pipeline("capped", nullptr) {}
    void write(unsigned char const *data, size_t len) override {
        if (len > kXmpCap - data_.size()) {
            over = true;
            throw std::length_error("XMP past the cap");
        }
        data_.append(reinterpret_cast<const char *>(data), len);
    }
    void finish() override {}
    std::string data_;
    bool over = false;
};

// The old XMP packet, "" when there is none. False with the error text set
// when there is one that cannot be read whole: it could not be kept.
bool old_packet(QPDFObjectHandle md, std::string *packet) {
    if (md.isNull()) return true;
    if (!md.isStream()) {
        eb_set_error("PDF /Metadata is not a stream; write refused, nothing changed");
        return false;
    }
    capped p;
    bool filtered = false;
    const bool ok = md.pipeStreamData(&p, &filtered, 0, qpdf_dl_specialized, true, false);
    if (!ok || p.over || (!filtered && !md.getDict().getKey("/Filter").isNull())) {
        eb_set_error("PDF XMP stream cannot be read whole; write refused, nothing changed");
        return false;
    }
    *packet = std::move(p.data_);
    return true;
}

std::string now_or_clock(const std::string &now) {
    if (!now.empty()) return now;
    char buf[32];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string name_text(const std::string &key) {
    return QPDFObjectHandle::newName(key).unparse();
}

// A dictionary written anew: its entries but the ones dropped, then the new.
std::string dictionary(QPDFObjectHandle d, const std::set<std::string> &dropped,
                       const std::vector<std::pair<std::string, std::string>> &added) {
    std::string out = "<<";
    if (d.isDictionary())
        for (const std::string &k : d.getKeys())
            if (!dropped.count(k)) out += " " + name_text(k) + " " + d.getKey(k).unparse();
    for (const auto &[k, v] : added)
        out += " " + k + " " + v;
    return out + " >>";
}

std::string ref(QPDFObjGen og) {
    return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R";
}

// 64 bits of FNV-1a over the text, from a seed.
std::uint64_t fnv(std::string_view s, std::uint64_t h) {
    for (unsigned char c : s)
        h = (h ^ c) * 0x100000001b3ull;
    return h;
}

// The trailer's /ID with its first element kept and a new second one: the
// same file is never written twice with the same content, so a hash of the
// old length, the time and the new Info tells this version apart.
std::string new_id(QPDFObjectHandle trailer, const eb_pdf_tail &tail, const std::string &now,
                   const std::string &info) {
    const std::string seed = std::to_string(tail.size) + "/" + now + "/" + info;
    char hex[40];
    std::snprintf(hex, sizeof hex, "<%016llx%016llx>",
                  static_cast<unsigned long long>(fnv(seed, 0xcbf29ce484222325ull)),
                  static_cast<unsigned long long>(fnv(seed, 0x84222325cbf29ce4ull)));
    QPDFObjectHandle id = trailer.getKey("/ID");
    if (id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString())
        return "[" + id.getArrayItem(0).unparse() + " " + hex + "]";
    return std::string("[") + hex + " " + hex + "]";
}

// Whether removing dc:date would leave a creation date for the reader to
// take as the publication date in its place.
bool creation_date_stands_in(QPDFObjectHandle info, const std::string &packet) {
    if (info.isDictionary() && info.getKey("/CreationDate").isString()) return true;
    return !eb_pdf_read_xmp(packet).first(eb_xmp::create_date).empty();
}

// The request with the fields the reader picks from Info or XMP by their
// dates stated again as the book reads them now, when the request leaves
// them alone: after the update XMP is the newer statement, and a stale XMP
// value that Info had overridden must not come back.
eb_changes restated(const eb_changes &c, const eb_record &before, const std::string &packet) {
    eb_changes out = c;
    auto again = [](auto &field, const auto &value) {
        if (!field.given && !value.empty()) field = {true, value};
    };
    again(out.title, before.title);
    again(out.authors, before.authors);
    again(out.description, before.description);
    again(out.subjects, before.subjects);
    // A publication date read from a creation date: stated as dc:date when
    // XMP's own creation date would not give the same.
    if (!c.published.given && !before.published.empty()) {
        const eb_pdf_xmp x = eb_pdf_read_xmp(packet);
        const std::string created = x.first(eb_xmp::create_date);
        if (x.first(eb_xmp::date).empty() && !created.empty() && created != before.published)
            again(out.published, before.published);
    }
    return out;
}

int write_update(QPDF &pdf, eb_pdf_guard &g, const eb_record &scratch, const eb_source &book,
                 const eb_record &before, const eb_changes &changes, const eb_pdf_tail &tail,
                 int out_fd) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    if (!trailer.getKey("/Encrypt").isNull() || pdf.isEncrypted()) return refuse("encrypted");
    // The objects the update rewrites, each resolved only once every object
    // stream qpdf would inflate for it is known to decode under the cap.
    QPDFObjectHandle root = g.key(trailer, "/Root");
    if (!root.isIndirect() || !root.isDictionary()) return refuse("damaged");
    QPDFObjectHandle info = g.key(trailer, "/Info");
    QPDFObjectHandle md = g.key(root, "/Metadata");
    if (!scratch.warnings.empty()) return refuse("holding an object stream too large to read");
    std::string packet;
    if (!old_packet(md, &packet)) return -1;

    const std::string now = now_or_clock(changes.now);
    eb_pdf_plan plan;
    if (!eb_pdf_plan_changes(restated(changes, before, packet), before, now, &plan)) return -1;
    if (changes.published.given && !changes.published.sets() &&
        creation_date_stands_in(info, packet)) {
        eb_set_error("published: the PDF's creation date stands in for it; it cannot be removed");
        return -1;
    }
    std::string xmp;
    if (!eb_xmp_edit(packet, plan.replaced, plan.xmp_properties, &xmp)) return -1;

    // New objects take numbers from the old /Size up; replaced ones keep theirs.
    int size =
        trailer.getKey("/Size").isInteger()
            ? static_cast<int>(std::min<long long>(trailer.getKey("/Size").getIntValue(), 8388607))
            : 1;
    const auto &xref = pdf.getXRefTable();
    if (!xref.empty()) size = std::max(size, xref.rbegin()->first.getObj() + 1);
    auto number = [&](QPDFObjectHandle h, bool reuse) {
        return reuse && h.isIndirect() ? h.getObjGen() : QPDFObjGen(size++, 0);
    };
    // An Info that is the catalog itself (seen in broken files) gets an
    // object of its own: one number cannot be written twice.
    const QPDFObjGen info_og =
        number(info, info.isDictionary() && info.getObjGen() != root.getObjGen());
    const QPDFObjGen md_og = number(md, md.isStream());
    const bool lang_changes = plan.language_changes && root.hasKey("/Lang");
    const bool new_catalog = !md.isStream() || lang_changes;

    std::set<std::string> dropped(plan.info_removed.begin(), plan.info_removed.end());
    for (const auto &[k, v] : plan.info_set)
        dropped.insert(k);
    std::vector<eb_pdf_new_object> objects;
    const std::string info_body = dictionary(info, dropped, plan.info_set);
    objects.push_back({info_og.getObj(), info_og.getGen(), info_body});
    objects.push_back({md_og.getObj(), md_og.getGen(),
                       "<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) +
                           " >>\nstream\n" + xmp + "\nendstream"});
    if (new_catalog) {
        std::vector<std::pair<std::string, std::string>> added{{"/Metadata", ref(md_og)}};
        if (lang_changes && !plan.lang.empty()) added.emplace_back("/Lang", plan.lang);
        std::set<std::string> drop{"/Metadata"};
        if (lang_changes) drop.insert("/Lang");
        const QPDFObjGen root_og = root.getObjGen();
        objects.push_back({root_og.getObj(), root_og.getGen(), dictionary(root, drop, added)});
    }

    // The trailer keeps every entry of the last one but those of its own
    // section (and of a cross-reference stream's dictionary).
    static const std::set<std::string> own{
        "/Size", "/Prev",  "/Root",   "/Info",   "/ID",          "/XRefStm", "/Type",
        "/W",    "/Index", "/Length", "/Filter", "/DecodeParms", "/Encrypt"};
    std::string entries = "/Root " + ref(root.getObjGen()) + " /Info " + ref(info_og) + " /ID " +
                          new_id(trailer, tail, now, info_body);
    for (const std::string &k : trailer.getKeys())
        if (!own.count(k)) entries += " " + name_text(k) + " " + trailer.getKey(k).unparse();
    const std::string update = eb_pdf_update(tail, std::move(objects), size, entries);

    if (!eb_copy_range(book, 0, tail.size, out_fd) || !eb_write_all(out_fd, update)) return -1;
    return 0;
}

}  // namespace

int eb_write_pdf(const eb_source &book, const eb_record &before, const eb_changes &changes,
                 int out_fd) {
    eb_pdf_tail tail;
    if (!eb_pdf_read_tail(book, &tail)) return -1;
    auto input = std::make_shared<eb_pdf_input>(book);
    // What qpdf would inflate while opening is checked first, as the reader
    // does; a book whose objects the reader had to set aside is not written.
    eb_pdf_open_plan plan = eb_pdf_plan_open(input);
    if (!plan.refusal.empty() || !plan.nulled.empty()) {
        if (book.failed()) {
            book.report_short_read();
            return -1;
        }
        return refuse(plan.refusal.empty() ? "holding an object stream too large to read"
                                           : "damaged");
    }
    if (plan.encrypted) return refuse("encrypted");
    QPDF pdf;
    eb_pdf_silence(pdf);
    // A cross-reference only repair could read is no ground to append to:
    // the update's /Prev would point into what the repair guessed.
    pdf.setAttemptRecovery(false);
    int rc = -1;
    try {
        pdf.processInputSource(input);
        eb_record scratch;  // the guard's warnings: a stream set aside
        eb_pdf_guard guard(pdf, input, plan, scratch);
        rc = write_update(pdf, guard, scratch, book, before, changes, tail, out_fd);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const QPDFExc &e) {
        const qpdf_error_code_e code = e.getErrorCode();
        rc =
            refuse(code == qpdf_e_password || code == qpdf_e_unsupported ? "encrypted" : "damaged");
    } catch (const std::exception &) {
        rc = refuse("damaged");
    }
    if (book.failed()) {
        book.report_short_read();
        return -1;
    }
    return rc;
}
