// pdf_builder.cpp - PDF files written object by object, cross-reference tables and streams,
// object streams and incremental updates; encryption through libqpdf's writer.
#include "pdf_builder.h"

#include <zlib.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "book_builders.h"

namespace qtest {

namespace {

std::string deflate(const std::string &in) {
    uLongf n = compressBound(static_cast<uLong>(in.size()));
    std::string out(n, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &n,
                  reinterpret_cast<const Bytef *>(in.data()), static_cast<uLong>(in.size()),
                  9) != Z_OK)
        throw std::runtime_error("deflate failed");
    out.resize(n);
    return out;
}

std::string dict_of(const std::vector<std::pair<std::string, std::string>> &entries) {
    std::string d = "<<";
    for (const auto &[k, v] : entries)
        d += " /" + k + " " + v;
    return d + " >>";
}

std::string ten_digits(std::size_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%010zu", v);
    return b;
}

void put_be(std::string &s, std::size_t v, int width) {
    for (int i = width - 1; i >= 0; --i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Writes objects one after the other and remembers where each begins.
class Writer {
  public:
    explicit Writer(const std::string &version) {
        out_ = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
    }
    void object(const PdfObject &o) {
        highest_ = std::max(highest_, o.num);
        offsets_[o.num] = {1, out_.size()};
        out_ += std::to_string(o.num) + " 0 obj\n";
        if (!o.stream) {
            out_ += o.body + "\nendobj\n";
            return;
        }
        const std::string data = o.flate ? deflate(o.data) : o.data;
        std::string dict = o.body.empty() ? "<< >>" : o.body;
        dict.resize(dict.rfind(">>"));
        dict += " /Length " + std::to_string(data.size()) +
                (o.flate ? " /Filter /FlateDecode" : "") + " >>";
        out_ += dict + "\nstream\n" + data + "\nendstream\nendobj\n";
    }
    // Dictionaries packed into one object stream numbered num.
    void object_stream(int num, const std::vector<PdfObject> &packed) {
        std::string index, body;
        for (std::size_t i = 0; i < packed.size(); ++i) {
            index += std::to_string(packed[i].num) + " " + std::to_string(body.size()) + " ";
            body += packed[i].body + "\n";
            offsets_[packed[i].num] = {2, static_cast<std::size_t>(num) * 65536 + i};
            highest_ = std::max(highest_, packed[i].num);
        }
        object({num,
                "<< /Type /ObjStm /N " + std::to_string(packed.size()) + " /First " +
                    std::to_string(index.size()) + " >>",
                true, index + body, true});
    }
    // A cross-reference section for the objects written since the last one,
    // with its trailer; prev is the offset of the section before (0: none).
    // A stream section is object `size` and lists itself.
    std::size_t xref(bool as_stream, int size, const std::string &trailer, std::size_t prev,
                     bool damaged) {
        const std::size_t at = out_.size();
        const std::string tail = trailer + (prev ? " /Prev " + std::to_string(prev) : "");
        if (as_stream)
            offsets_[size] = {1, at};
        else if (prev == 0)
            offsets_.emplace(0, Entry{0, 0});
        // Runs of consecutive numbers: rows of text in a table, of bytes in a stream.
        std::string index, rows;
        for (auto it = offsets_.begin(); it != offsets_.end();) {
            auto run = it;
            int n = 0;
            for (; run != offsets_.end() && run->first == it->first + n; ++run)
                ++n;
            index += std::to_string(it->first) + " " + std::to_string(n) + (as_stream ? " " : "\n");
            for (; it != run; ++it) {
                const Entry &e = it->second;
                if (!as_stream) {
                    index +=
                        e.type == 0 ? "0000000000 65535 f \n" : ten_digits(e.where) + " 00000 n \n";
                    continue;
                }
                rows += static_cast<char>(e.type);
                put_be(rows, e.type == 2 ? e.where / 65536 : e.where, 4);
                put_be(rows, e.type == 2 ? e.where % 65536 : 0, 2);
            }
        }
        std::string coding;
        if (as_stream && predicted_) {
            // PNG "Up" rows (a filter byte, then each byte less the one above), deflated.
            std::string up;
            for (std::size_t r = 0; r < rows.size(); r += 7) {
                up += '\x02';
                for (std::size_t i = r; i < r + 7; ++i)
                    up += static_cast<char>(rows[i] - (r ? rows[i - 7] : 0));
            }
            rows = deflate(up);
            coding = " /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 7 >>";
        }
        if (as_stream)
            out_ += std::to_string(size) + " 0 obj\n<< /Type /XRef /Size " +
                    std::to_string(size + 1) + " /W [1 4 2] /Index [" + index + "] " + tail +
                    coding + " /Length " + std::to_string(rows.size()) + " >>\nstream\n" + rows +
                    "\nendstream\nendobj\n";
        else
            out_ += "xref\n" + index + "trailer\n<< /Size " + std::to_string(size) + " " + tail +
                    " >>\n";
        out_ += "startxref\n" + std::to_string(damaged ? at + 5 : at) + "\n%%EOF\n";
        offsets_.clear();
        return at;
    }
    std::string &text() { return out_; }
    int highest() const { return highest_; }
    void predict_rows() { predicted_ = true; }

  private:
    struct Entry {
        int type;           // 1 in the file, 2 in an object stream
        std::size_t where;  // offset, or stream * 65536 + index
    };
    std::string out_;
    std::map<int, Entry> offsets_;
    int highest_ = 0;
    bool predicted_ = false;
};

}  // namespace

std::string pdf_literal(std::string_view bytes) {
    std::string s = "(";
    for (char c : bytes) {
        if (c == '\\' || c == '(' || c == ')') s += '\\';
        if (c == '\r') {
            s += "\\r";
            continue;
        }
        s += c;
    }
    return s + ")";
}

std::string pdf_hex(std::string_view bytes) {
    static const char *digits = "0123456789ABCDEF";
    std::string s = "<";
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s + ">";
}

std::string pdf_utf16(std::string_view utf8) {
    std::string be = "\xFE\xFF";
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        unsigned cp = len == 1 ? c : c & (0x3F >> (len - 1));
        for (int k = 1; k < len && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        auto unit = [&be](unsigned u) {
            be += static_cast<char>(u >> 8);
            be += static_cast<char>(u & 0xFF);
        };
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return pdf_hex(be);
}

std::string pdf_utf8(std::string_view utf8) {
    return pdf_literal("\xEF\xBB\xBF" + std::string(utf8));
}

std::string xmp_packet(const std::string &properties, const std::string &attributes) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "<rdf:Description rdf:about=\"\"\n"
           " xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
           " xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n"
           " xmlns:pdfx=\"http://ns.adobe.com/pdfx/1.3/\"\n"
           " xmlns:prism=\"http://prismstandard.org/namespaces/basic/2.0/\"\n"
           " xmlns:xmpidq=\"http://ns.adobe.com/xmp/Identifier/qual/1.0/\"\n"
           " xmlns:calibre=\"http://calibre-ebook.com/xmp-namespace\"\n"
           " xmlns:calibreSI=\"http://calibre-ebook.com/xmp-namespace-series-index\" " +
           attributes + ">\n" + properties +
           "\n</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

std::string build_pdf(const PdfDesc &d) {
    Writer w(d.version);
    const bool xref_stream = d.xref_stream || d.object_stream || d.xref_predictor;
    if (d.xref_predictor) w.predict_rows();
    if (d.filler) w.object({6, "<< >>", true, incompressible(d.filler), false});

    std::vector<PdfObject> dicts, streams;
    std::string catalog =
        "<< /Type /Catalog /Pages " + (d.pages_value.empty() ? "2 0 R" : d.pages_value);
    if (!d.xmp.empty() || !d.metadata_value.empty())
        catalog += " /Metadata " + (d.metadata_value.empty() ? "5 0 R" : d.metadata_value);
    catalog += " " + d.catalog_extra + " >>";
    dicts.push_back({1, catalog});
    dicts.push_back({2, "<< /Type /Pages /Kids [3 0 R] /Count " + d.page_count + " >>"});
    dicts.push_back({3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"});
    if (!d.info.empty()) dicts.push_back({4, dict_of(d.info)});
    if (!d.xmp.empty())
        streams.push_back({5, "<< /Type /Metadata /Subtype /XML >>", true, d.xmp, d.xmp_flate});
    for (const PdfObject &o : d.objects)
        (o.stream ? streams : dicts).push_back(o);

    // Writers pack some hundred objects per stream: the first stream is
    // object 7, the others take numbers past every object's.
    int next = 8;
    for (const PdfObject &o : d.objects)
        next = std::max(next, o.num + 1);
    if (d.object_stream)
        for (std::size_t i = 0; i < dicts.size(); i += 100)
            w.object_stream(
                i == 0 ? 7 : next++,
                {dicts.begin() + static_cast<std::ptrdiff_t>(i),
                 dicts.begin() + static_cast<std::ptrdiff_t>(std::min(i + 100, dicts.size()))});
    else
        for (const PdfObject &o : dicts)
            w.object(o);
    for (const PdfObject &o : streams)
        w.object(o);

    int size = w.highest() + 1;
    std::string trailer = "/Root 1 0 R";
    if (!d.info.empty() || !d.info_value.empty())
        trailer += " /Info " + (d.info_value.empty() ? "4 0 R" : d.info_value);
    trailer += " " + d.trailer_extra;
    std::size_t prev = w.xref(xref_stream, size, trailer, 0, d.damaged_xref && d.updates.empty());

    for (std::size_t u = 0; u < d.updates.size(); ++u) {
        const PdfUpdate &up = d.updates[u];
        if (!up.info.empty()) w.object({4, dict_of(up.info)});
        if (!up.xmp.empty())
            w.object({5, "<< /Type /Metadata /Subtype /XML >>", true, up.xmp, false});
        for (const PdfObject &o : up.objects)
            w.object(o);
        // Each section's cross-reference stream takes the next free number.
        size = std::max(size + (xref_stream ? 1 : 0), w.highest() + 1);
        const bool last = u + 1 == d.updates.size();
        prev = w.xref(xref_stream, size, trailer, prev, d.damaged_xref && last);
    }
    return w.text();
}

std::string encrypt_pdf(const std::string &pdf, const std::string &user, const std::string &owner,
                        int r, bool restricted) {
    QPDF in;
    auto log = QPDFLogger::create();
    log->setWarn(log->discard());
    in.setLogger(log);
    in.processMemoryFile("builder", pdf.data(), pdf.size());
    QPDFWriter w(in);
    w.setOutputMemory();
    const bool a = !restricted;
    switch (r) {
        case 2:
            w.setR2EncryptionParametersInsecure(user.c_str(), owner.c_str(), a, a, a, a);
            break;
        case 3:
            w.setR3EncryptionParametersInsecure(user.c_str(), owner.c_str(), a, a, a, a, a, a,
                                                a ? qpdf_r3p_full : qpdf_r3p_none);
            break;
        case 4:
            w.setR4EncryptionParametersInsecure(user.c_str(), owner.c_str(), a, a, a, a, a, a,
                                                a ? qpdf_r3p_full : qpdf_r3p_none, true, true);
            break;
        case 6:
            w.setR6EncryptionParameters(user.c_str(), owner.c_str(), a, a, a, a, a, a,
                                        a ? qpdf_r3p_full : qpdf_r3p_none, true);
            break;
        default:
            throw std::runtime_error("unknown encryption revision");
    }
    w.write();
    std::shared_ptr<Buffer> b = w.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char *>(b->getBuffer()), b->getSize());
}

}  // namespace qtest
