// pdf_lazy.cpp - the lazy PDF reader: the trailer, catalog, page tree root, Info dictionary and
// metadata stream resolved one by one, object streams inflated only when they hold one of them.
#include <qpdf/QPDF.hh>

#include <cstdint>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/pdf/pdf_lazy.h"
#include "formats/pdf/pdf_lazy_objects.h"
#include "formats/pdf/pdf_lazy_xref.h"

namespace {

constexpr std::size_t kMaxObjects = 64;            // objects read for one record
constexpr std::size_t kObjectStreams = 16u << 20;  // their object streams decoded, all together
constexpr std::size_t kMaxMetadata = 4u << 20;     // the metadata stream's data, either way

bool gap(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// A character that ends a number token and starts no other one can join.
bool ends_number(char c) {
    return c == '<' || c == '[' || c == '(' || c == '/';
}

// An object stream decoded, with its header of object numbers and offsets.
struct object_stream {
    std::uint64_t num = 0;
    std::string data;
    std::uint64_t first = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> index;  // number, offset after first
};

class lazy_document {
  public:
    explicit lazy_document(const std::shared_ptr<eb_pdf_input> &in) : objs_(in), xref_(objs_) {}

    eb_pdf_xref &xref() { return xref_; }
    QPDF &context() { return objs_.context(); }

    // What h stands for: h when direct, else the object it refers to, which
    // must be no stream (qpdf's record reads none but the metadata stream).
    QPDFObjectHandle value(QPDFObjectHandle h) {
        if (!h.isIndirect()) return h;
        eb_pdf_object &o = object(h.getObjGen());
        eb_pdf_require(!o.stream);
        return o.value;
    }

    // The XMP packet of a metadata stream: its data as it is, or inflated
    // to at most 4 MiB (qpdf's path reads no more), with no decode
    // parameters. qpdf's decoding of such data is zlib's; anything else
    // (other filters, data that breaks or inflates further) is left to it.
    std::string metadata(QPDFObjectHandle h) {
        eb_pdf_require(h.isIndirect());
        eb_pdf_object &o = object(h.getObjGen());
        eb_pdf_require(o.stream && o.data_len <= kMaxMetadata);
        return eb_pdf_decode(objs_.span(o.data_at, static_cast<std::size_t>(o.data_len)), o.value,
                             kMaxMetadata);
    }

  private:
    eb_pdf_object &object(QPDFObjGen og) {
        for (auto &[at, o] : cache_)
            if (at == og) return o;
        eb_pdf_require(++reads_ <= kMaxObjects && og.getObj() > 0);
        const std::uint64_t num = static_cast<std::uint64_t>(og.getObj());
        const eb_pdf_xref::entry e = xref_.find(num);
        eb_pdf_object o;
        if (e.type == 1) {
            eb_pdf_require(e.f2 == static_cast<std::uint64_t>(og.getGen()));
            o = objs_.object_at(e.f1, og.getObj(), og.getGen(),
                                [this](QPDFObjGen l) { return length(l); });
        } else {
            eb_pdf_require(og.getGen() == 0);
            o.value = in_object_stream(e.f1, num);
        }
        // An object that is a reference itself: which one qpdf takes is its affair.
        eb_pdf_require(!o.value.isIndirect() && !o.value.isOperator());
        cache_.emplace_back(og, std::move(o));
        return cache_.back().second;
    }

    // A stream's /Length kept in an object of its own.
    long long length(QPDFObjGen og) {
        eb_pdf_object &o = object(og);
        eb_pdf_require(!o.stream && o.value.isInteger());
        return o.value.getIntValue();
    }

    QPDFObjectHandle in_object_stream(std::uint64_t stream, std::uint64_t num) {
        object_stream *s = nullptr;
        for (object_stream &x : streams_)
            if (x.num == stream) s = &x;
        if (!s) s = &load(stream);
        const std::pair<std::uint64_t, std::uint64_t> *at = nullptr;
        for (const auto &p : s->index)
            if (p.first == num) {
                eb_pdf_require(!at);  // listed twice: which one qpdf takes is its affair
                at = &p;
            }
        eb_pdf_require(at != nullptr);
        eb_pdf_parser p(context(), s->data, true);
        p.seek(static_cast<std::size_t>(s->first + at->second));
        QPDFObjectHandle v = p.value();
        // A stream cannot lie in an object stream.
        eb_pdf_require(!p.next_is("stream"));
        return v;
    }

    object_stream &load(std::uint64_t num) {
        eb_pdf_require(num <= INT32_MAX);
        const eb_pdf_xref::entry e = xref_.find(num);
        eb_pdf_require(e.type == 1 && e.f2 == 0);
        eb_pdf_object o = objs_.object_at(e.f1, static_cast<int>(num), 0,
                                          [this](QPDFObjGen l) { return length(l); });
        eb_pdf_require(o.stream && o.data_len <= kObjectStreams - decoded_);
        QPDFObjectHandle d = o.value;
        QPDFObjectHandle type = d.getKey("/Type"), n = d.getKey("/N"), first = d.getKey("/First");
        eb_pdf_require(!type.isIndirect() && type.isNameAndEquals("/ObjStm") && !n.isIndirect() &&
                       n.isInteger() && !first.isIndirect() && first.isInteger() &&
                       n.getIntValue() >= 0 && first.getIntValue() >= 0);
        std::string data =
            eb_pdf_decode(objs_.span(o.data_at, static_cast<std::size_t>(o.data_len)), d,
                          kObjectStreams - decoded_);
        decoded_ += data.size();
        const auto count = static_cast<std::uint64_t>(n.getIntValue());
        const auto start = static_cast<std::uint64_t>(first.getIntValue());
        eb_pdf_require(start <= data.size() && count <= start);
        object_stream &s = streams_.emplace_back();
        s.num = num;
        s.data = std::move(data);
        s.first = start;
        // The header, pairs of plain numbers apart by spaces and line ends,
        // read here rather than token by token; anything else is qpdf's.
        std::size_t at = 0;
        auto number = [&s, &at](std::uint64_t max) {
            while (at < s.data.size() && gap(s.data[at]))
                ++at;
            const std::size_t from = at;
            std::uint64_t v = 0;
            while (at < s.data.size() && at - from < 11 && s.data[at] >= '0' && s.data[at] <= '9')
                v = v * 10 + static_cast<std::uint64_t>(s.data[at++] - '0');
            eb_pdf_require(at > from && v <= max &&
                           (at == s.data.size() || gap(s.data[at]) || ends_number(s.data[at])));
            return v;
        };
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t obj = number(INT32_MAX);
            eb_pdf_require(at < s.data.size() && gap(s.data[at]) && obj != num);
            s.index.emplace_back(obj, number(s.data.size() - start));
            eb_pdf_require(i + 1 == count || (at < s.data.size() && gap(s.data[at])));
        }
        return s;
    }

    eb_pdf_objects objs_;
    eb_pdf_xref xref_;
    std::deque<std::pair<QPDFObjGen, eb_pdf_object>> cache_;
    std::deque<object_stream> streams_;
    std::size_t reads_ = 0, decoded_ = 0;
};

// dict with each of keys resolved where it is a reference.
QPDFObjectHandle resolved(lazy_document &doc, QPDFObjectHandle dict,
                          std::initializer_list<const char *> keys) {
    dict = dict.shallowCopy();
    for (const char *k : keys) {
        QPDFObjectHandle v = dict.getKey(k);
        if (v.isIndirect()) dict.replaceKey(k, doc.value(v));
    }
    return dict;
}

}  // namespace

bool eb_pdf_lazy_record(const std::shared_ptr<eb_pdf_input> &in,
                        const std::optional<std::string> &header, eb_record &r) {
    try {
        lazy_document doc(in);
        QPDFObjectHandle trailer = doc.xref().trailer().shallowCopy();
        QPDFObjectHandle root = doc.value(trailer.getKey("/Root"));
        eb_pdf_require(root.isDictionary());
        root = resolved(doc, root, {"/Pages", "/Version", "/Lang"});
        // The metadata stream, when there is one, read here: its packet
        // is all the record takes of it.
        QPDFObjectHandle md = root.getKey("/Metadata");
        std::optional<std::string> packet;
        if (md.isIndirect() || !md.isNull()) packet = doc.metadata(md);
        QPDFObjectHandle pages = root.getKey("/Pages");
        std::uint64_t objects = 0;
        if (pages.isDictionary()) {
            pages = resolved(doc, pages, {"/Count"});
            root.replaceKey("/Pages", pages);
            // Above a thousand pages the count is checked against the
            // objects the file lists: the newest section's entries in use
            // are as many as qpdf counts or fewer, so a count within them
            // passes in both paths; a larger one is left to qpdf.
            QPDFObjectHandle count = pages.getKey("/Count");
            if (count.isInteger() && count.getIntValue() > 1000 &&
                count.getIntValue() <= INT32_MAX) {
                objects = doc.xref().in_use();
                eb_pdf_require(static_cast<std::uint64_t>(count.getIntValue()) <= objects);
            }
        }
        QPDFObjectHandle info = doc.value(trailer.getKey("/Info"));
        if (info.isDictionary())
            info = resolved(doc, info,
                            {"/Title", "/Author", "/Subject", "/Keywords", "/CreationDate",
                             "/ModDate", "/ISBN", "/DOI", "/doi"});
        trailer.replaceKey("/Root", root);
        trailer.replaceKey("/Info", info);

        eb_record out;
        out.format = r.format;
        eb_pdf_read_fields(
            {[&] { return trailer; }, [&] { return root; },
             [&] { return static_cast<std::size_t>(objects); },
             [&](eb_record &) { return packet ? eb_pdf_read_xmp(*packet) : eb_pdf_xmp{}; },
             nullptr},
            header, out);
        // The context only names references; anything it noted would be one
        // of qpdf's warnings in its path.
        eb_pdf_require(!doc.context().anyWarnings());
        r = std::move(out);
        return true;
    } catch (const std::bad_alloc &) {
        throw;
    } catch (...) {
        return false;
    }
}
