// pdf_hostile.cpp - deflate bombs placed where qpdf inflates on its own, and trailers that never
// close: objects written by hand around a cross-reference stream.
#include "pdf_hostile.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qtest {

namespace {

// prefix followed by fill bytes up to `total`, deflated as tightly as zlib
// can (a 1 GiB run twice deflated fits in a few KB, below any size a
// careless check would skip), without holding the whole in memory.
std::string deflate_padded(const std::string &prefix, std::size_t total, char fill) {
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK) throw std::runtime_error("deflateInit");
    std::string out, block(1 << 20, fill);
    char buf[1 << 16];
    std::size_t left = total > prefix.size() ? total - prefix.size() : 0;
    auto feed = [&](const std::string &s, std::size_t n, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(s.data()));
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = reinterpret_cast<Bytef *>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, flush);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in));
    };
    feed(prefix, prefix.size(), Z_NO_FLUSH);
    while (left > block.size()) {
        feed(block, block.size(), Z_NO_FLUSH);
        left -= block.size();
    }
    feed(block, left, Z_FINISH);
    deflateEnd(&z);
    return out;
}

std::string deflate(const std::string &s) {
    return deflate_padded(s, s.size(), ' ');
}

void be(std::string &s, std::size_t v, int width) {
    for (int i = width - 1; i >= 0; --i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Objects one after the other, then a cross-reference stream listing them
// (and the objects given as packed into object stream 7).
struct writer {
    std::string out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::map<int, std::pair<int, std::size_t>> at;  // type, offset or stream

    void object(int n, const std::string &body) {
        at[n] = {1, out.size()};
        out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
    }
    void stream(int n, const std::string &dict, const std::string &data) {
        object(n, dict + "\nstream\n" + data + "\nendstream");
    }
    // Dictionaries packed into object stream 7, inflating to `inflated`.
    void packed(const std::vector<std::pair<int, std::string>> &objs, std::size_t inflated,
                bool twice, const std::string &length = "") {
        std::string index, body;
        for (const auto &[n, b] : objs) {
            index += std::to_string(n) + " " + std::to_string(body.size()) + " ";
            body += b + "\n";
            at[n] = {2, 7};
        }
        std::string data = deflate_padded(index + body, inflated, ' ');
        if (twice) data = deflate(data);
        stream(7,
               "<< /Type /ObjStm /N " + std::to_string(objs.size()) + " /First " +
                   std::to_string(index.size()) + " /Filter " +
                   (twice ? "[/FlateDecode /FlateDecode]" : "/FlateDecode") + " /Length " +
                   (length.empty() ? std::to_string(data.size()) : length) + " >>",
               data);
    }
    std::string finish(const std::string &trailer, std::size_t padding = 0,
                       const std::string &filter = "/FlateDecode", int size = 0) {
        const int self = at.empty() ? 1 : at.rbegin()->first + 1;
        at[self] = {1, out.size()};
        size = std::max(size, self + 1);
        std::string rows;
        for (int n = 0; n < size; ++n) {
            const auto it = at.find(n);
            const int type = it == at.end() ? 0 : it->second.first;
            rows += static_cast<char>(type);
            be(rows, it == at.end() ? 0 : it->second.second, 4);
            be(rows, 0, 2);
        }
        std::string data =
            padding ? deflate(deflate_padded(rows, rows.size() + padding, '\0')) : deflate(rows);
        const std::string filters = padding ? "[/FlateDecode /FlateDecode]" : filter;
        const std::size_t xref = out.size();
        out += std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) +
               " /W [1 4 2] /Filter " + filters + " " + trailer + " /Length " +
               std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
        out += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }
};

}  // namespace

std::string pdf_bomb(PdfBomb kind, std::size_t inflated) {
    writer w;
    const bool xmp = kind == PdfBomb::xmp_length;
    w.object(
        1, std::string("<< /Type /Catalog /Pages 2 0 R") + (xmp ? " /Metadata 5 0 R" : "") + " >>");
    w.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    const std::string packet =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/></x:xmpmeta>";
    switch (kind) {
        case PdfBomb::info_stream:
            w.packed({{4, "<< /Title (Bomb) >>"}}, inflated, true);
            return w.finish("/Root 1 0 R /Info 4 0 R");
        case PdfBomb::lying_length:
            w.packed({{4, "<< /Title (Bomb) >>"}}, inflated, false, "10");
            return w.finish("/Root 1 0 R /Info 4 0 R");
        case PdfBomb::xmp_length:
            w.stream(5, "<< /Type /Metadata /Subtype /XML /Length 8 0 R >>", packet);
            w.packed({{8, std::to_string(packet.size())}}, inflated, true);
            return w.finish("/Root 1 0 R");
        case PdfBomb::encrypt_dict:
            w.packed({{6, "<< /Filter /Standard /V 1 /R 2 /O (o) /U (u) /P -4 >>"}}, inflated,
                     true);
            return w.finish("/Root 1 0 R /Encrypt 6 0 R /ID [<00112233><00112233>]");
        case PdfBomb::padded_xref:
            return w.finish("/Root 1 0 R", inflated);
        case PdfBomb::filter_reference:
            w.object(4, "/FlateDecode");
            return w.finish("/Root 1 0 R", 0, "4 0 R");
        case PdfBomb::many_objects:
            return w.finish("/Root 1 0 R", 0, "/FlateDecode", static_cast<int>(inflated));
    }
    return {};
}

std::string pdf_unclosed_trailers(std::size_t n, bool then_good) {
    std::string out =
        "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type /Pages "
        "/Kids [] /Count 0 >>\nendobj\n";
    for (std::size_t i = 0; i < n; ++i)
        out += then_good ? "trailer\n(no dictionary " + std::to_string(i) + ")\n"
                         : "trailer\n<< /Root 1 0 R /Size 3 /Title (Unclosed dictionary number " +
                               std::to_string(i) + ") /Producer (hostile)\n";
    if (then_good) out += "trailer\n<< /Root 1 0 R /Size 3 >>\n";
    return out + "%%EOF\n";
}

}  // namespace qtest
