// pdf_streams.cpp - stream data under caps: the XMP packet through a pipeline that stops decoding
// at 4 MiB, and the size a stream decodes to, found without keeping more than the cap.
#include "formats/pdf/pdf_streams.h"

#include <qpdf/InputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

constexpr std::size_t kXmpCap = 4 * 1024 * 1024;

// The decoded bytes of a stream up to a cap. Past the cap it throws, which
// qpdf's stream reading catches: the decoding stops there instead of
// running through a stream that inflates without end. Keeps the first
// `keep` bytes (a size check needs none).
class capped_pipeline final : public Pipeline {
  public:
    capped_pipeline(std::size_t cap, std::size_t keep)
        : Pipeline("capped", nullptr), cap_(cap), keep_(keep) {}
    void write(unsigned char const *data, size_t len) override {
        const bool past = len > cap_ - seen_;
        const std::size_t take = past ? cap_ - seen_ : len;
        if (data_.size() < keep_)
            data_.append(reinterpret_cast<const char *>(data),
                         std::min(take, keep_ - data_.size()));
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
    std::size_t cap_, keep_, seen_ = 0;
    bool over_ = false;
    std::string data_;
};

}  // namespace

eb_pdf_xmp eb_pdf_xmp_stream(QPDFObjectHandle md, eb_record &r) {
    if (md.isNull()) return {};
    if (!md.isStream()) {
        r.warnings.push_back("PDF /Metadata is not a stream; XMP not read");
        return {};
    }
    capped_pipeline p(kXmpCap, kXmpCap);
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

eb_pdf_decoded eb_pdf_decode_size(QPDFObjectHandle stream, std::size_t cap) {
    capped_pipeline p(cap, 0);
    eb_pdf_decoded d;
    try {
        stream.pipeStreamData(&p, &d.decoded, 0, qpdf_dl_specialized, true, false);
    } catch (const std::length_error &) {
        // past the cap
    }
    d.bytes = p.seen();
    d.over = p.over();
    return d;
}

eb_pdf_decoded eb_pdf_decode_raw(QPDFObjectHandle s, InputSource &in, std::uint64_t at,
                                 std::uint64_t len, QPDFObjectHandle filter, QPDFObjectHandle parms,
                                 std::size_t cap, std::size_t keep, std::string *out) {
    // The raw bytes go through in pieces: a stream that decodes past the cap
    // stops there, whatever it would inflate to.
    s.replaceStreamData(
        [&in, at, len](Pipeline *p) {
            char buf[65536];
            for (std::uint64_t done = 0; done < len;) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, len - done));
                in.seek(static_cast<qpdf_offset_t>(at + done), SEEK_SET);
                const std::size_t got = in.read(buf, n);
                if (got == 0) break;
                p->write(reinterpret_cast<unsigned char *>(buf), got);
                done += got;
            }
            p->finish();
        },
        filter, parms);
    capped_pipeline p(cap, keep);
    eb_pdf_decoded d;
    try {
        s.pipeStreamData(&p, &d.decoded, 0, qpdf_dl_specialized, true, false);
    } catch (const std::length_error &) {
        // past the cap
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        // Data that does not decode ("invalid bit length repeat") reaches
        // here from the provider's pipeline rather than as qpdf's warning.
        d.decoded = false;
    }
    d.bytes = p.seen();
    d.over = p.over();
    *out = p.data();
    return d;
}
