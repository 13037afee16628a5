// pdf_streams.cpp - stream data under caps: the XMP packet through a pipeline that stops decoding
// at 4 MiB, and object streams checked before qpdf would inflate them whole.
#include "formats/pdf/pdf_streams.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kXmpCap = 4 * 1024 * 1024;
constexpr std::size_t kObjectStreamCap = 16 * 1024 * 1024;
constexpr std::size_t kObjectStreamBudget = 64 * 1024 * 1024;
// Deflate gives at most some 1,032 bytes for one: raw data below this can
// never reach the cap and is left to qpdf unread.
constexpr long long kRawWorthChecking = kObjectStreamCap / 1024;

// The decoded bytes of a stream up to a cap. Past the cap it throws, which
// qpdf's stream reading catches: the decoding stops there instead of
// running through a stream that inflates without end. Keeps the bytes only
// when asked to (a size check needs none).
class capped_pipeline final : public Pipeline {
  public:
    capped_pipeline(std::size_t cap, bool keep)
        : Pipeline("capped", nullptr), cap_(cap), keep_(keep) {}
    void write(unsigned char const *data, size_t len) override {
        const bool past = len > cap_ - seen_;
        const std::size_t take = past ? cap_ - seen_ : len;
        if (keep_) data_.append(reinterpret_cast<const char *>(data), take);
        seen_ += take;
        if (past) {
            over_ = true;
            throw std::length_error("decoded data past the cap");
        }
    }
    void finish() override {}
    const std::string &data() const { return data_; }
    std::size_t seen() const { return seen_; }
    bool over() const { return over_; }

  private:
    std::size_t cap_, seen_ = 0;
    bool keep_, over_ = false;
    std::string data_;
};

}  // namespace

eb_pdf_xmp eb_pdf_xmp_stream(QPDF &pdf, eb_record &r) {
    QPDFObjectHandle md = pdf.getRoot().getKey("/Metadata");
    if (md.isNull()) return {};
    if (!md.isStream()) {
        r.warnings.push_back("PDF /Metadata is not a stream; XMP not read");
        return {};
    }
    capped_pipeline p(kXmpCap, true);
    bool filtered = false;
    const bool ok = md.pipeStreamData(&p, &filtered, 0, qpdf_dl_specialized, true, false);
    if (p.over()) {
        r.warnings.push_back("PDF XMP stream decodes to more than 4 MiB; the first 4 MiB are read");
    } else if (!ok) {
        if (p.data().empty()) {
            r.warnings.push_back("PDF XMP stream cannot be decoded; not read");
            return {};
        }
        r.warnings.push_back("PDF XMP stream is damaged; what decoded is read");
    } else if (!filtered && !md.getDict().getKey("/Filter").isNull()) {
        r.warnings.push_back("PDF XMP stream uses a filter that cannot be decoded; not read");
        return {};
    }
    return eb_pdf_read_xmp(p.data());
}

namespace {

// The object streams holding what the reader asks qpdf for, each checked
// once before qpdf would inflate it whole.
class object_stream_guard {
  public:
    object_stream_guard(QPDF &pdf, eb_record &r) : pdf_(pdf), r_(r), xref_(pdf.getXRefTable()) {}

    // Checks the stream of h when h refers to an object kept in one.
    void check(QPDFObjectHandle h) {
        if (!h.isIndirect()) return;
        auto it = xref_.find(h.getObjGen());
        if (it == xref_.end() || it->second.getType() != 2) return;
        const int n = it->second.getObjStreamNumber();
        if (std::find(checked_.begin(), checked_.end(), n) != checked_.end()) return;
        checked_.push_back(n);
        QPDFObjectHandle s = pdf_.getObjectByID(n, 0);
        if (!s.isStream()) return;  // qpdf says so when an object in it is wanted
        QPDFObjectHandle raw = s.getDict().getKey("/Length");
        if (raw.isInteger() && raw.getIntValue() <= kRawWorthChecking) return;
        capped_pipeline p(std::min(kObjectStreamCap, budget_), false);
        s.pipeStreamData(&p, nullptr, 0, qpdf_dl_specialized, true, false);
        budget_ -= p.seen();
        if (!p.over()) return;
        pdf_.replaceObject(n, 0, QPDFObjectHandle::newNull());
        r_.warnings.push_back("PDF object stream " + std::to_string(n) +
                              " decodes to more than 16 MiB (or with the others checked to more "
                              "than 64 MiB); the objects in it are not read");
    }
    // Checks a dictionary's stream, then those of the values under keys.
    void check(QPDFObjectHandle dict, std::initializer_list<const char *> keys) {
        check(dict);
        if (!dict.isDictionary()) return;
        for (const char *k : keys)
            check(dict.getKey(k));
    }

  private:
    QPDF &pdf_;
    eb_record &r_;
    const std::map<QPDFObjGen, QPDFXRefEntry> xref_;
    std::vector<int> checked_;
    std::size_t budget_ = kObjectStreamBudget;
};

}  // namespace

void eb_pdf_defuse_object_streams(QPDF &pdf, eb_record &r) {
    // Only cross-reference streams can place objects in object streams.
    QPDFObjectHandle trailer = pdf.getTrailer();
    if (!trailer.hasKey("/XRefStm") && !trailer.hasKey("/W")) return;
    object_stream_guard guard(pdf, r);
    QPDFObjectHandle root = trailer.getKey("/Root");
    guard.check(root, {"/Pages", "/Lang", "/Version", "/Metadata"});
    if (root.isDictionary()) guard.check(root.getKey("/Pages"), {"/Count"});
    guard.check(trailer.getKey("/Info"), {"/Title", "/Author", "/Subject", "/Keywords",
                                          "/CreationDate", "/ModDate", "/ISBN", "/DOI", "/doi"});
}
