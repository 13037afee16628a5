// pdf_guard.cpp - object streams decoded under the cap before qpdf resolves anything in them, and
// the objects an encryption dictionary reaches found before the document is opened.
#include "formats/pdf/pdf_guard.h"

#include <qpdf/QPDFExc.hh>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/pdf/pdf_source.h"
#include "formats/pdf/pdf_streams.h"

namespace {

constexpr std::size_t kBudget = 64u * 1024u * 1024u;  // all object streams of a document
constexpr int kMaxDepth = 64;                         // object streams depending on others

std::string needed(int n) {
    return "PDF object " + std::to_string(n) +
           ", needed to open the file, lies in an object stream; not read";
}

}  // namespace

eb_pdf_guard::eb_pdf_guard(QPDF &pdf, const std::shared_ptr<eb_pdf_input> &in,
                           const eb_pdf_open_plan &plan, eb_record &r)
    : pdf_(pdf),
      in_(in),
      r_(r),
      active_(plan.object_streams),
      base_(plan.header_at),
      budget_(kBudget) {
    // Only cross-reference streams place objects in object streams.
    if (active_) xref_ = pdf.getXRefTable();
    tok_.allowEOF();
}

QPDFObjectHandle eb_pdf_guard::safe(QPDFObjectHandle h) {
    if (active_ && h.isIndirect()) ensure(h.getObjGen(), 0);
    return h;
}

void eb_pdf_guard::ensure(QPDFObjGen og, int depth) {
    if (!done_.insert(og).second) return;
    const auto it = xref_.find(og);
    if (it == xref_.end()) return;
    if (depth > kMaxDepth) {
        // A chain this long is made to exhaust the stack, not to be read.
        pdf_.replaceObject(og, QPDFObjectHandle::newNull());
        r_.warnings.push_back("PDF object " + std::to_string(og.getObj()) +
                              " depends on too many object streams; not read");
        return;
    }
    if (it->second.getType() == 2) {
        check_stream(it->second.getObjStreamNumber(), depth + 1);
        return;
    }
    if (it->second.getType() != 1) return;
    for (const QPDFObjGen &ref : stream_references(it->second, og))
        ensure(ref, depth + 1);
}

void eb_pdf_guard::check_stream(int n, int depth) {
    if (!checked_.insert(n).second) return;
    ensure(QPDFObjGen(n, 0), depth);
    QPDFObjectHandle s = pdf_.getObjectByID(n, 0);
    if (!s.isStream()) return;  // qpdf says so when an object in it is wanted
    // What qpdf says of a decoding cut short here is not the document's.
    const std::vector<QPDFExc> before = pdf_.getWarnings();
    const eb_pdf_decoded d = eb_pdf_decode_size(s, std::min(EB_PDF_STREAM_CAP, budget_));
    pdf_.getWarnings();
    for (const QPDFExc &w : before)
        pdf_.warn(w);
    budget_ -= d.bytes;
    if (!d.over) return;
    pdf_.replaceObject(n, 0, QPDFObjectHandle::newNull());
    r_.warnings.push_back("PDF object stream " + std::to_string(n) +
                          " decodes to more than 16 MiB (or with the others checked to more than "
                          "64 MiB); the objects in it are not read");
}

// What qpdf resolves when it reads the object at e: nothing for most
// objects, the references in the dictionary of a stream (its /Length as it
// parses it, its filters as it decodes it). Read here without resolving.
std::vector<QPDFObjGen> eb_pdf_guard::stream_references(const QPDFXRefEntry &e, QPDFObjGen og) {
    std::vector<QPDFObjGen> refs;
    in_->seek(static_cast<qpdf_offset_t>(base_) + e.getOffset(), SEEK_SET);
    const QPDFTokenizer::Token id = tok_.readToken(in_, "PDF", true, 100);
    const QPDFTokenizer::Token gen = tok_.readToken(in_, "PDF", true, 100);
    const QPDFTokenizer::Token obj = tok_.readToken(in_, "PDF", true, 100);
    if (!id.isInteger() || !gen.isInteger() || !obj.isWord("obj") ||
        id.getValue() != std::to_string(og.getObj()) ||
        gen.getValue() != std::to_string(og.getGen())) {
        // Not where the cross-reference data says: qpdf would rebuild that
        // data by scanning the file, and the object found then was never
        // looked at here. It reads as damaged instead.
        pdf_.setAttemptRecovery(false);
        return refs;
    }
    // The dictionary's tokens, references noted, up to its end: no object
    // is made of them (a catalog may list a hundred thousand references).
    int depth = 0;
    std::string before[2];  // the two integers a reference's "R" follows
    for (;;) {
        const QPDFTokenizer::Token t = tok_.readToken(in_, "PDF", true, 100);
        const QPDFTokenizer::token_type_e type = t.getType();
        if (type == QPDFTokenizer::tt_eof || type == QPDFTokenizer::tt_bad) return {};
        if (type == QPDFTokenizer::tt_dict_open || type == QPDFTokenizer::tt_array_open) {
            ++depth;
        } else if (type == QPDFTokenizer::tt_dict_close || type == QPDFTokenizer::tt_array_close) {
            if (--depth <= 0) break;
        } else if (depth == 0) {
            return {};  // no dictionary: nothing qpdf resolves to read it
        } else if (t.isWord("R") && !before[0].empty() && !before[1].empty()) {
            const long long n = std::strtoll(before[0].c_str(), nullptr, 10);
            const long long g = std::strtoll(before[1].c_str(), nullptr, 10);
            if (n > 0 && n <= INT32_MAX && g >= 0 && g <= INT32_MAX)
                refs.emplace_back(static_cast<int>(n), static_cast<int>(g));
        }
        before[0] = std::move(before[1]);
        before[1] = t.isInteger() ? t.getValue() : std::string();
    }
    // Only a stream's dictionary is resolved from as qpdf reads the object.
    if (!tok_.readToken(in_, "PDF", true, 100).isWord("stream")) refs.clear();
    return refs;
}

void eb_pdf_plan_encryption(const std::shared_ptr<eb_pdf_input> &in, eb_pdf_open_plan &plan) {
    // Opened once with every object stream null, nothing is inflated; the
    // encryption dictionary is resolved as qpdf resolves it.
    eb_pdf_quiet probe;
    for (const std::vector<int> *list : {&plan.nulled, &plan.packed_in})
        for (int n : *list)
            probe.pdf.replaceObject(n, 0, QPDFObjectHandle::newNull());
    try {
        probe.pdf.processInputSource(in);
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        // the trailer was read; what follows it is looked at all the same
    }
    try {
        const std::map<QPDFObjGen, QPDFXRefEntry> xref = probe.pdf.getXRefTable();
        QPDFObjectHandle trailer = probe.pdf.getTrailer();
        std::vector<QPDFObjectHandle> todo = {trailer.getKey("/Encrypt"), trailer.getKey("/ID")};
        std::set<QPDFObjGen> seen;
        for (std::size_t visits = 0; !todo.empty() && visits < 4096; ++visits) {
            QPDFObjectHandle h = todo.back();
            todo.pop_back();
            if (h.isIndirect()) {
                const QPDFObjGen og = h.getObjGen();
                if (!seen.insert(og).second) continue;
                const auto it = xref.find(og);
                if (it != xref.end() && it->second.getType() == 2) {
                    if (std::find(plan.nulled.begin(), plan.nulled.end(), og.getObj()) ==
                        plan.nulled.end()) {
                        plan.nulled.push_back(og.getObj());
                        plan.warnings.push_back(needed(og.getObj()));
                    }
                    continue;
                }
            }
            if (h.isStream()) h = h.getDict();
            if (h.isArray()) {
                for (int i = 0; i < h.getArrayNItems(); ++i)
                    todo.push_back(h.getArrayItem(i));
            } else if (h.isDictionary()) {
                // Every value, null ones included (getKeys() would resolve them).
                for (const auto &[k, v] : h.getDictAsMap())
                    todo.push_back(v);
            }
        }
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        // a damaged dictionary: the real opening meets the same fault
    }
    in->rewind();
}
