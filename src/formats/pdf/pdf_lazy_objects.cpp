// pdf_lazy_objects.cpp - one object at an offset, its stream data located and checked, and the
// zlib inflation (with PNG predictors) of the streams the lazy reader decodes itself.
#include "formats/pdf/pdf_lazy_objects.h"

#include <zlib.h>

#include <cstring>

eb_pdf_objects::eb_pdf_objects(std::shared_ptr<eb_pdf_input> in)
    : file_(in), in_(in), size_(in->size()) {
    ctx_.setSuppressWarnings(true);
}

std::string eb_pdf_objects::bytes(std::uint64_t off, std::size_t n) {
    eb_pdf_require(off <= size_ && n <= size_ - off);
    if (n <= 4096) file_->around(off);
    std::string s(n, '\0');
    in_->seek(static_cast<qpdf_offset_t>(off), SEEK_SET);
    std::size_t got = 0;
    while (got < n) {
        const std::size_t r = in_->read(s.data() + got, n - got);
        if (r == 0) break;
        got += r;
    }
    eb_pdf_require(got == n);
    return s;
}

std::string_view eb_pdf_objects::piece(std::uint64_t off, std::size_t n) {
    eb_pdf_require(off <= size_ && n <= size_ - off);
    if (n > buffer_size_) {
        buffer_.reset(new char[n]);
        buffer_size_ = n;
    }
    in_->seek(static_cast<qpdf_offset_t>(off), SEEK_SET);
    std::size_t got = 0;
    while (got < n) {
        const std::size_t r = in_->read(buffer_.get() + got, n - got);
        if (r == 0) break;
        got += r;
    }
    eb_pdf_require(got == n);
    return {buffer_.get(), n};
}

std::string_view eb_pdf_objects::span(std::uint64_t off, std::size_t n) {
    eb_pdf_require(off <= size_ && n <= size_ - off);
    const std::string_view hand = file_->cached(off);
    if (hand.size() >= n) return hand.substr(0, n);
    return piece(off, n);
}

eb_pdf_object eb_pdf_objects::object_at(std::uint64_t off, int num, int gen,
                                        const std::function<long long(QPDFObjGen)> &length) {
    eb_pdf_require(off < size_);
    file_->around(off);
    eb_pdf_object o;
    o.stream = parse_at(off, [&](eb_pdf_parser &p) {
        const std::uint64_t n = p.count(INT32_MAX), g = p.count(65535);
        eb_pdf_require(p.word() == "obj" && (num < 0 || n == static_cast<std::uint64_t>(num)) &&
                       (gen < 0 || g == static_cast<std::uint64_t>(gen)));
        o.value = p.value();
        const std::string_view w = p.word();
        if (w == "endobj") return false;
        // The data starts after one end of line, LF or CR LF: qpdf reads
        // other forms too, but with a warning.
        eb_pdf_require(w == "stream" && o.value.isDictionary() && p.line_end());
        o.data_at = off + p.pos();
        return true;
    });
    if (!o.stream) return o;
    QPDFObjectHandle l = o.value.getKey("/Length");
    const long long len = l.isIndirect()  ? length(l.getObjGen())
                          : l.isInteger() ? l.getIntValue()
                                          : -1;
    eb_pdf_require(len >= 0 && static_cast<std::uint64_t>(len) <= size_ - o.data_at);
    o.data_len = static_cast<std::uint64_t>(len);
    parse_at(o.data_at + o.data_len, [](eb_pdf_parser &p) {
        eb_pdf_require(p.word() == "endstream" && p.word() == "endobj");
        return 0;
    });
    return o;
}

namespace {

// The one filter or decode parameter of a stream: a direct value alone or
// in an array of one; a reference, which qpdf would resolve, gives up.
QPDFObjectHandle single(QPDFObjectHandle v) {
    eb_pdf_require(!v.isIndirect());
    if (v.isArray()) {
        eb_pdf_require(v.getArrayNItems() == 1);
        v = v.getArrayItem(0);
        eb_pdf_require(!v.isIndirect());
    }
    return v;
}

// A decode parameter given directly as an integer, or its default.
long long parameter(QPDFObjectHandle parms, const char *key, long long absent) {
    QPDFObjectHandle v = parms.getKey(key);
    eb_pdf_require(!v.isIndirect());
    if (v.isNull()) return absent;
    eb_pdf_require(v.isInteger());
    return v.getIntValue();
}

std::string inflate_capped(std::string_view raw, std::size_t cap) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    eb_pdf_require(inflateInit(&z) == Z_OK);
    std::string out;
    out.resize(raw.size() * 4 < cap ? (raw.size() < 1024 ? 4096 : raw.size() * 4) : cap + 1);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    std::size_t done = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (done == out.size()) {
            if (out.size() > cap) break;
            out.resize(out.size() * 2 > cap + 1 ? cap + 1 : out.size() * 2);
        }
        z.next_out = reinterpret_cast<Bytef *>(out.data() + done);
        z.avail_out = static_cast<uInt>(out.size() - done);
        rc = inflate(&z, Z_NO_FLUSH);
        done = out.size() - z.avail_out;
    }
    inflateEnd(&z);
    // Bytes after the end of the compressed data are left, as qpdf leaves them.
    eb_pdf_require(rc == Z_STREAM_END && done <= cap);
    out.resize(done);
    return out;
}

// PNG prediction undone in place: rows of one filter byte and `columns`
// bytes of one 8-bit component, the rows given back without their filter byte.
std::string unpredict(const std::string &in, std::size_t columns) {
    const std::size_t row = columns + 1;
    eb_pdf_require(columns > 0 && in.size() % row == 0);
    std::string out(in.size() / row * columns, '\0');
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    const auto *p = reinterpret_cast<const unsigned char *>(in.data());
    for (std::size_t r = 0; r < in.size() / row; ++r, p += row) {
        unsigned char *cur = o + r * columns;
        const unsigned char *up = r ? cur - columns : nullptr;
        for (std::size_t i = 0; i < columns; ++i) {
            const int a = i ? cur[i - 1] : 0, b = up ? up[i] : 0, c = i && up ? up[i - 1] : 0;
            int pred = 0;
            switch (p[0]) {
                case 0:
                    break;
                case 1:
                    pred = a;
                    break;
                case 2:
                    pred = b;
                    break;
                case 3:
                    pred = (a + b) / 2;
                    break;
                case 4: {
                    const int e = a + b - c, pa = e > a ? e - a : a - e, pb = e > b ? e - b : b - e,
                              pc = e > c ? e - c : c - e;
                    pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                    break;
                }
                default:
                    throw eb_pdf_give_up{};
            }
            cur[i] = static_cast<unsigned char>(p[1 + i] + pred);
        }
    }
    return out;
}

}  // namespace

std::string eb_pdf_decode(std::string_view raw, QPDFObjectHandle dict, std::size_t cap,
                          std::size_t png_columns) {
    QPDFObjectHandle filter = single(dict.getKey("/Filter"));
    QPDFObjectHandle parms = single(dict.getKey("/DecodeParms"));
    if (filter.isNull()) {
        eb_pdf_require(parms.isNull() && raw.size() <= cap);
        return std::string(raw);
    }
    eb_pdf_require(filter.isNameAndEquals("/FlateDecode"));
    long long predictor = 1;
    if (!parms.isNull()) {
        eb_pdf_require(parms.isDictionary());
        predictor = parameter(parms, "/Predictor", 1);
    }
    if (predictor == 1) return inflate_capped(raw, cap);
    eb_pdf_require(predictor >= 10 && predictor <= 15 && png_columns > 0 &&
                   parameter(parms, "/Colors", 1) == 1 &&
                   parameter(parms, "/BitsPerComponent", 8) == 8 &&
                   parameter(parms, "/Columns", 1) == static_cast<long long>(png_columns));
    return unpredict(inflate_capped(raw, cap + cap / png_columns), png_columns);
}
