// pdf_walk.cpp - the cross-reference chain walked as qpdf walks it: tables stepped line by line,
// trailers parsed, cross-reference streams decoded under the cap; what opening resolves.
#include "formats/pdf/pdf_walk.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include "formats/pdf/pdf_quiet.h"
#include "formats/pdf/pdf_xref_text.h"
#include "formats/pdf/pdf_source.h"
#include "formats/pdf/pdf_streams.h"

namespace {

constexpr std::size_t kDecodeBudget = 64u * 1024u * 1024u;  // all cross-reference streams

struct refusal {
    std::string why;
};

class walker {
  public:
    walker(const std::shared_ptr<eb_pdf_input> &in, eb_pdf_open_plan &plan) : in_(in), plan_(plan) {
        in_->seek(0, SEEK_END);
        size_ = static_cast<std::uint64_t>(in_->tell());
        tok_.allowEOF();
    }

    void run() {
        try {
            base_ = plan_.header_at = eb_pdf_header_at(*in_);
            walk(eb_pdf_startxref(in_, tok_, base_));
        } catch (const refusal &r) {
            plan_.refusal = r.why;
        } catch (const eb_pdf_chain_broken &) {
            // qpdf rebuilds the cross-reference data; its search for a
            // trailer is tried first.
            if (!trailer_ && !eb_pdf_repair_within_budget(in_, base_))
                plan_.refusal = "PDF is damaged beyond repair";
        }
        if (plan_.refusal.empty()) finish();
        in_->rewind();
    }

  private:
    std::string bytes(std::uint64_t at, std::size_t n) { return eb_pdf_bytes(*in_, at, n); }
    QPDFTokenizer::Token token() { return tok_.readToken(in_, "PDF", true, 100); }
    QPDFObjectHandle object() {
        bool empty = false;
        try {
            return QPDFObjectHandle::parse(in_, "PDF", tok_, empty, nullptr, &scratch_.pdf);
        } catch (const std::bad_alloc &) {
            throw;
        } catch (const std::exception &) {
            throw eb_pdf_chain_broken{};
        }
    }

    void walk(std::uint64_t off) {
        if (off == 0) throw eb_pdf_chain_broken{};
        std::set<std::uint64_t> visited;
        while (off) {
            visited.insert(off);
            off = section(off);
            if (visited.count(off)) throw eb_pdf_chain_broken{};  // qpdf: a loop in the chain
        }
    }

    // One section at off (from the header): its /Prev, 0 at the end.
    std::uint64_t section(std::uint64_t off) {
        scratch_.pdf.getWarnings();  // what parsing said is not kept
        std::uint64_t at = base_ + off;
        if (at >= size_) throw eb_pdf_chain_broken{};
        // qpdf passes over white space before "xref", but then reads the
        // table from the offset it was given plus what follows "xref".
        const std::string head = bytes(at, 64);
        std::size_t i = 0;
        while (i < head.size() && eb_pdf_space(head[i]))
            ++i;
        if (head.compare(i, 4, "xref") == 0 && i + 4 < head.size() && eb_pdf_space(head[i + 4])) {
            std::size_t skip = 4;
            while (skip < 6 && i + skip < head.size() && eb_pdf_space(head[i + skip]))
                ++skip;
            return table(at + skip);
        }
        return stream(off, true);
    }

    // A table (its lines stepped over as qpdf reads them), then its trailer.
    std::uint64_t table(std::uint64_t at) {
        in_->seek(static_cast<qpdf_offset_t>(eb_pdf_table_trailer(in_, tok_, at)), SEEK_SET);
        QPDFObjectHandle trailer = object();
        if (!trailer.isDictionary()) throw eb_pdf_chain_broken{};
        take_trailer(trailer);
        interesting(trailer, "/Size");
        QPDFObjectHandle xrefstm = direct(trailer, "/XRefStm");
        if (!xrefstm.isNull()) {
            if (!xrefstm.isInteger() || xrefstm.getIntValue() <= 0) throw eb_pdf_chain_broken{};
            stream(static_cast<std::uint64_t>(xrefstm.getIntValue()), false);
        }
        return previous(trailer);
    }

    // A cross-reference stream at off: decoded here under the cap before
    // qpdf inflates it. Its /Prev when it belongs to the chain.
    std::uint64_t stream(std::uint64_t off, bool chained) {
        const std::uint64_t at = base_ + off;
        if (at >= size_) throw eb_pdf_chain_broken{};
        in_->seek(static_cast<qpdf_offset_t>(at), SEEK_SET);
        const QPDFTokenizer::Token id = token(), gen = token(), obj = token();
        if (!id.isInteger() || !gen.isInteger() || !obj.isWord("obj") ||
            std::strtoll(id.getValue().c_str(), nullptr, 10) == 0)
            throw eb_pdf_chain_broken{};
        QPDFObjectHandle dict = object();
        if (!dict.isDictionary() || !token().isWord("stream")) throw eb_pdf_chain_broken{};
        const std::uint64_t data = data_start();
        // What qpdf reads to take it for a cross-reference stream, to check
        // and to follow must be there, not behind references it would
        // resolve from what it has read so far.
        for (const char *k :
             {"/Type", "/W", "/Index", "/Size", "/Prev", "/Filter", "/DecodeParms"}) {
            std::vector<QPDFObjGen> refs;
            eb_pdf_references(dict.getKey(k), refs);
            if (!refs.empty())
                throw refusal{std::string("not a valid PDF: cross-reference stream with ") + k +
                              " given by reference"};
        }
        QPDFObjectHandle type = dict.getKey("/Type");
        if (!type.isName() || type.getName() != "/XRef") throw eb_pdf_chain_broken{};
        const std::uint64_t expected = layout(dict);
        interesting(dict, "/Length");
        QPDFObjectHandle length = dict.getKey("/Length");
        std::uint64_t extent = size_ - data;
        if (!length.isIndirect() && length.isInteger() && length.getIntValue() >= 0 &&
            static_cast<std::uint64_t>(length.getIntValue()) <= size_ - data) {
            in_->seek(static_cast<qpdf_offset_t>(data + length.getIntValue()), SEEK_SET);
            if (token().isWord("endstream"))
                extent = static_cast<std::uint64_t>(length.getIntValue());
        }
        decode(dict, data, extent, expected);
        if (!trailer_) take_trailer(dict);
        return chained ? previous(dict) : 0;
    }

    // Where stream data starts after "stream": qpdf passes over blanks, then
    // takes LF, CR LF or a CR alone; data without a line end starts at once.
    std::uint64_t data_start() {
        std::uint64_t at = static_cast<std::uint64_t>(in_->tell());
        const std::string s = bytes(at, 64);
        std::size_t i = 0;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\f' || s[i] == '\v'))
            ++i;
        if (s.compare(i, 2, "\r\n") == 0) return at + i + 2;
        if (i < s.size() && (s[i] == '\n' || s[i] == '\r')) return at + i + 1;
        return at + i;
    }

    // The checks qpdf makes of /W, /Index and /Size: the data's expected size.
    std::uint64_t layout(QPDFObjectHandle dict) {
        QPDFObjectHandle w = dict.getKey("/W"), index = dict.getKey("/Index");
        if (!w.isArray() || w.getArrayNItems() < 3 || !dict.getKey("/Size").isInteger() ||
            !(index.isArray() || index.isNull()))
            throw eb_pdf_chain_broken{};
        std::uint64_t entry = 0;
        for (int i = 0; i < 3; ++i) {
            QPDFObjectHandle v = w.getArrayItem(i);
            if (!v.isInteger() || v.getIntValue() < 0 || v.getIntValue() > 8)
                throw eb_pdf_chain_broken{};
            width_[i] = static_cast<int>(v.getIntValue());
            entry += static_cast<std::uint64_t>(width_[i]);
        }
        if (entry == 0) throw eb_pdf_chain_broken{};
        index_.clear();
        if (index.isArray()) {
            const int n = index.getArrayNItems();
            if (n < 2 || n % 2) throw eb_pdf_chain_broken{};
            for (int i = 0; i < n; ++i) {
                QPDFObjectHandle v = index.getArrayItem(i);
                if (!v.isInteger()) throw eb_pdf_chain_broken{};
                index_.push_back(v.getIntValue());
            }
        } else {
            index_ = {0, dict.getKey("/Size").getIntValue()};
        }
        std::uint64_t count = 0;
        for (std::size_t i = 1; i < index_.size(); i += 2) {
            if (index_[i] < 0 || index_[i - 1] < 0 || index_[i - 1] > INT32_MAX ||
                index_[i] > INT32_MAX)
                throw eb_pdf_chain_broken{};
            count += static_cast<std::uint64_t>(index_[i]);
        }
        // qpdf keeps some 80 bytes for every object listed, free ones too.
        // Real files spend hundreds of bytes on each: more than one object
        // for every 4 bytes (65,536 whatever the size) is no file's data.
        entries_ += count;
        if (entries_ > std::max<std::uint64_t>(size_ / 4, 65536))
            throw refusal{"not a valid PDF: cross-reference streams list " +
                          std::to_string(entries_) + " objects in a file of " +
                          std::to_string(size_) + " bytes"};
        entry_size_ = entry;
        return entry * count;
    }

    void decode(QPDFObjectHandle dict, std::uint64_t data, std::uint64_t extent,
                std::uint64_t expected) {
        const std::size_t cap = std::min(EB_PDF_STREAM_CAP, kDecodeBudget - decoded_);
        std::string out;
        const eb_pdf_decoded d = eb_pdf_decode_raw(
            stream_, *in_, data, extent, dict.getKey("/Filter"), dict.getKey("/DecodeParms"), cap,
            static_cast<std::size_t>(std::min<std::uint64_t>(expected, cap)), &out);
        decoded_ += d.bytes;
        if (d.over)
            throw refusal{"not a valid PDF: cross-reference stream decodes to more than 16 MiB"};
        if (!d.decoded || d.bytes < expected) throw eb_pdf_chain_broken{};
        // The objects it places in object streams.
        const std::size_t n = static_cast<std::size_t>(expected / entry_size_);
        std::size_t chunk = 0;
        long long in_chunk = 0;
        for (std::size_t e = 0; e < n; ++e) {
            if (chunk + 1 >= index_.size()) throw eb_pdf_chain_broken{};
            const long long obj = index_[chunk] + in_chunk++;
            if (in_chunk >= index_[chunk + 1]) {
                chunk += 2;
                in_chunk = 0;
            }
            const unsigned char *p =
                reinterpret_cast<const unsigned char *>(out.data()) + e * entry_size_;
            std::uint64_t f[3] = {width_[0] ? 0u : 1u, 0, 0};
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < width_[j]; ++k)
                    f[j] = f[j] << 8 | *p++;
            if (f[0] > 2) throw eb_pdf_chain_broken{};
            if (f[0] == 2 && obj <= INT32_MAX && f[1] <= INT32_MAX)
                packed_.push_back({static_cast<int>(obj), static_cast<int>(f[1])});
        }
    }

    std::uint64_t previous(QPDFObjectHandle dict) {
        QPDFObjectHandle prev = direct(dict, "/Prev");
        if (prev.isNull()) return 0;
        if (!prev.isInteger() || prev.getIntValue() < 0) throw eb_pdf_chain_broken{};
        return static_cast<std::uint64_t>(prev.getIntValue());
    }

    // A value the chain depends on; given by reference, qpdf would resolve
    // it from the objects read so far, which is not followed here.
    QPDFObjectHandle direct(QPDFObjectHandle dict, const char *key) {
        QPDFObjectHandle v = dict.getKey(key);
        if (v.isIndirect())
            throw refusal{std::string("not a valid PDF: cross-reference section with ") + key +
                          " given by reference"};
        return v;
    }

    // The first trailer read is the one qpdf keeps: its encryption
    // dictionary and /ID are resolved while it opens the file.
    void take_trailer(QPDFObjectHandle dict) {
        if (trailer_) return;
        trailer_ = true;
        QPDFObjectHandle encrypt = dict.getKey("/Encrypt");
        plan_.encrypted = encrypt.isIndirect() || !encrypt.isNull();
        interesting(dict, "/Encrypt");
        interesting(dict, "/ID");
    }
    void interesting(QPDFObjectHandle dict, const char *key) {
        eb_pdf_references(dict.getKey(key), interest_);
    }

    void finish() {
        std::sort(packed_.begin(), packed_.end());
        for (const auto &[obj, in] : packed_) {
            if (plan_.packed.empty() || plan_.packed.back() != obj) plan_.packed.push_back(obj);
            plan_.packed_in.push_back(in);
        }
        std::sort(plan_.packed_in.begin(), plan_.packed_in.end());
        plan_.packed_in.erase(std::unique(plan_.packed_in.begin(), plan_.packed_in.end()),
                              plan_.packed_in.end());
        plan_.object_streams = !plan_.packed.empty();
        for (const QPDFObjGen &og : interest_)
            if (std::binary_search(plan_.packed.begin(), plan_.packed.end(), og.getObj()) &&
                std::find(plan_.nulled.begin(), plan_.nulled.end(), og.getObj()) ==
                    plan_.nulled.end()) {
                plan_.nulled.push_back(og.getObj());
                plan_.warnings.push_back("PDF object " + std::to_string(og.getObj()) +
                                         ", needed to open the file, lies in an object stream; "
                                         "not read");
            }
    }

    std::shared_ptr<eb_pdf_input> in_;
    eb_pdf_open_plan &plan_;
    eb_pdf_quiet scratch_;
    QPDFObjectHandle stream_ = scratch_.pdf.newStream();  // each stream checked goes through it
    QPDFTokenizer tok_;
    std::uint64_t size_ = 0, base_ = 0, entries_ = 0, entry_size_ = 1;
    std::size_t decoded_ = 0;
    bool trailer_ = false;
    int width_[3] = {1, 1, 1};
    std::vector<long long> index_;
    std::vector<QPDFObjGen> interest_;
    std::vector<std::pair<int, int>> packed_;  // object, object stream
};

}  // namespace

void eb_pdf_references(QPDFObjectHandle h, std::vector<QPDFObjGen> &out) {
    // Depth and count are bounded: a value nested deeper is no trailer's.
    std::vector<std::pair<QPDFObjectHandle, int>> todo = {{h, 0}};
    for (std::size_t visits = 0; !todo.empty() && visits < 65536; ++visits) {
        auto [v, depth] = todo.back();
        todo.pop_back();
        if (v.isIndirect()) {
            out.push_back(v.getObjGen());
        } else if (depth < 32 && v.isArray()) {
            for (int i = 0; i < v.getArrayNItems(); ++i)
                todo.push_back({v.getArrayItem(i), depth + 1});
        } else if (depth < 32 && v.isDictionary()) {
            // getKeys() would resolve each value to leave out the null ones.
            for (const auto &[k, item] : v.getDictAsMap())
                todo.push_back({item, depth + 1});
        }
    }
}

eb_pdf_open_plan eb_pdf_plan_open(const std::shared_ptr<eb_pdf_input> &in) {
    eb_pdf_open_plan plan;
    walker(in, plan).run();
    return plan;
}
