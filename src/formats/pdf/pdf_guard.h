// pdf_guard.h - a document's objects resolved only once every object stream that resolving them
// makes qpdf inflate has been decoded under the cap.
#ifndef QUENFOLD_FORMATS_PDF_GUARD_H
#define QUENFOLD_FORMATS_PDF_GUARD_H

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <qpdf/QPDFXRefEntry.hh>

#include <map>
#include <memory>
#include <set>

#include "formats/pdf/pdf_quiet.h"
#include "formats/pdf/pdf_walk.h"
#include "full_record.h"

class eb_pdf_input;

// qpdf decodes an object stream whole the first time an object in it is
// wanted, with no limit, and a stream object's /Length (or /Filter...) may
// itself lie in an object stream. The reader therefore takes every value
// through safe(): before it is resolved, the object stream holding it, or
// the object streams its own stream dictionary depends on (read here from
// the file, so that qpdf resolves nothing first), are decoded once under
// EB_PDF_STREAM_CAP, at most 64 MiB for all together. One that goes past
// is replaced by null, with a warning: its objects read as missing. A
// document without object streams costs nothing.
class eb_pdf_guard {
  public:
    eb_pdf_guard(QPDF &pdf, const std::shared_ptr<eb_pdf_input> &in, const eb_pdf_open_plan &plan,
                 eb_record &r);

    // h, which may now be resolved.
    QPDFObjectHandle safe(QPDFObjectHandle h);
    // The value under key of dict (a dictionary already made safe).
    QPDFObjectHandle key(QPDFObjectHandle dict, const char *k) { return safe(dict.getKey(k)); }

  private:
    void ensure(QPDFObjGen og, int depth);
    void check_stream(int n, int depth);
    std::vector<QPDFObjGen> stream_references(const QPDFXRefEntry &e, QPDFObjGen og);

    QPDF &pdf_;
    std::shared_ptr<eb_pdf_input> in_;
    eb_record &r_;
    const bool active_;
    const std::uint64_t base_;
    std::map<QPDFObjGen, QPDFXRefEntry> xref_;
    std::set<QPDFObjGen> done_;
    std::set<int> checked_;
    std::size_t budget_;
    QPDFTokenizer tok_;
};

#endif  // QUENFOLD_FORMATS_PDF_GUARD_H
