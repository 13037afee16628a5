// The lazy PDF reader against qpdf's path: the files it takes give qpdf's record, the files it
// leaves to qpdf are every odd structure, and through a host's callback it reads a few ranges.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/pdf/pdf_lazy_objects.h"
#include "formats/pdf/pdf_lazy_parse.h"
#include "formats/pdf/pdf_paths.h"
#include "pdf_builder.h"
#include "quenfold_ebook.h"

namespace {

using qtest::pdf_literal;
using qtest::PdfDesc;
using qtest::PdfObject;

std::string json_of(eb_record &r) {
    eb_record_settle(r);
    char *j = eb_record_to_json(r);
    std::string s = j ? j : "";
    std::free(j);
    return s;
}

// The record by one path; rc and qpdf's own warnings alongside.
std::string record(const std::string &bytes, eb_pdf_path path, int *rc = nullptr,
                   std::size_t *complaints = nullptr) {
    const eb_source src(bytes.data(), bytes.size());
    eb_record r;
    const int got = eb_record_pdf_by(src, r, path, complaints);
    if (rc) *rc = got;
    return json_of(r);
}

std::string replaced(std::string s, const std::string &from, const std::string &to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

std::vector<PdfObject> nulls(int from, int n) {
    std::vector<PdfObject> v;
    for (int i = 0; i < n; ++i)
        v.push_back({from + i, "null"});
    return v;
}

// A file written object by object in the order given, then its classic
// table (a subsection per run of numbers) and a trailer.
struct HandPdf {
    std::string f = "%PDF-1.5\n";
    std::map<int, std::size_t> at;
    void put(int n, const std::string &body) {
        at[n] = f.size();
        f += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
    }
    std::string finish(const std::string &trailer) {
        const std::size_t xref = f.size();
        f += "xref\n0 1\n0000000000 65535 f \n";
        for (auto it = at.begin(); it != at.end();) {
            auto run = it;
            int n = 0;
            for (; run != at.end() && run->first == it->first + n; ++run)
                ++n;
            f += std::to_string(it->first) + " " + std::to_string(n) + "\n";
            for (; it != run; ++it) {
                char e[32];
                std::snprintf(e, sizeof e, "%010zu 00000 n \n", it->second);
                f += e;
            }
        }
        return f + "trailer\n<< " + trailer + " >>\nstartxref\n" + std::to_string(xref) +
               "\n%%EOF\n";
    }
};

// A hybrid file: a classic table for the objects in the file, and a stream
// (/XRefStm) for the Info dictionary, which lies in an object stream.
std::string hybrid_pdf() {
    HandPdf h;
    h.put(1, "<< /Type /Catalog /Pages 2 0 R >>");
    h.put(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    h.put(3, "<< /Type /Page /Parent 2 0 R >>");
    const std::string packed = "4 0 << /Title (Hybrid) /Author (Mixed Writer) >>";
    h.put(5, "<< /Type /ObjStm /N 1 /First 4 /Length " + std::to_string(packed.size()) +
                 " >>\nstream\n" + packed + "\nendstream");
    const std::string rows = {'\x02', '\x00', '\x00', '\x00', '\x05', '\x00', '\x00'};
    h.put(6, "<< /Type /XRef /Size 7 /W [1 4 2] /Index [4 1] /Length 7 >>\nstream\n" + rows +
                 "\nendstream");
    return h.finish("/Size 7 /Root 1 0 R /Info 4 0 R /XRefStm " + std::to_string(h.at[6]));
}

// As TeX writes a book: the pages' objects first, the page tree root, the
// catalog and Info last, just before a table of n entries.
std::string tex_layout_pdf(int n) {
    HandPdf h;
    for (int i = 5; i < n; ++i)
        h.put(i, "<< /Type /Annot /Rect [0 0 10 10] >>");
    h.put(3, "<< /Type /Page /Parent 2 0 R >>");
    h.put(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    h.put(1, "<< /Type /Catalog /Pages 2 0 R >>");
    h.put(4, "<< /Title (Counted) >>");
    return h.finish("/Size " + std::to_string(n) + " /Root 1 0 R /Info 4 0 R");
}

struct Case {
    const char *what;
    std::string bytes;
    bool lazy;  // taken by the lazy reader
};

std::vector<Case> cases() {
    std::vector<Case> c;
    PdfDesc plain;
    plain.info = {{"Title", pdf_literal("Tide (Tables)")},
                  {"Author", qtest::pdf_utf16("Mara Quinn; J\xC3\xBCrgen")},
                  {"CreationDate", pdf_literal("D:20120919121451+01'00'")}};
    plain.xmp = qtest::xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Tides"
        "</rdf:li></rdf:Alt></dc:title>");
    plain.xmp_flate = true;
    plain.catalog_extra = "/Lang (de) /Version /1.7";
    c.push_back({"table, Info, deflated XMP", build_pdf(plain), true});
    PdfDesc d = plain;
    d.xref_stream = true;
    c.push_back({"cross-reference stream", build_pdf(d), true});
    d.xref_predictor = true;
    c.push_back({"stream rows after PNG prediction", build_pdf(d), true});
    d = plain;
    d.object_stream = true;
    c.push_back({"object streams", build_pdf(d), true});
    PdfDesc indirect = plain;
    indirect.info = {{"Title", "8 0 R"}, {"Author", "10 0 R"}};
    indirect.page_count = "9 0 R";
    indirect.objects = {{8, "(Kept Apart)"}, {9, "3"}, {10, "<FEFF004A>"}};
    c.push_back({"values in objects of their own", build_pdf(indirect), true});
    indirect.object_stream = true;
    c.push_back({"values in an object stream", build_pdf(indirect), true});
    for (bool stream : {false, true}) {
        d = plain;
        d.xref_stream = stream;
        d.updates.push_back({{{"Title", pdf_literal("Second Edition")}}, "", {}});
        d.updates.push_back({{}, qtest::xmp_packet("<dc:creator>Tom Bell</dc:creator>"), {}});
        c.push_back({stream ? "updates with streams" : "updates with tables", build_pdf(d), true});
    }
    for (bool stream : {false, true}) {
        d = plain;
        d.xref_stream = stream;
        d.page_count = "1200";
        d.objects = nulls(8, 1300);
        c.push_back({"1,200 pages among 1,300 objects", build_pdf(d), true});
        d.objects = nulls(8, 20);
        c.push_back({"1,200 pages among 30 objects (qpdf warns)", build_pdf(d), false});
    }
    c.push_back({"hybrid: table and /XRefStm", hybrid_pdf(), true});
    c.push_back({"TeX's layout", tex_layout_pdf(3000), true});

    const std::string base = build_pdf(plain);
    c.push_back({"encrypted", qtest::encrypt_pdf(base, "", "owner", 4, false), false});
    d = plain;
    d.damaged_xref = true;
    c.push_back({"startxref off the table", build_pdf(d), false});
    c.push_back({"no startxref", base.substr(0, base.rfind("startxref")), false});
    c.push_back({"bytes before the header", "junk\n" + base, false});
    c.push_back(
        {"/Size not one past the highest object", replaced(base, "/Size 6", "/Size 9"), false});
    c.push_back({"entries of 19 bytes", replaced(base, " n \n", " n\n"), false});
    c.push_back(
        {"object where the table says another", replaced(base, "4 0 obj", "7 0 obj"), false});
    d = plain;
    d.info_value = "40 0 R";
    c.push_back({"Info listed nowhere", build_pdf(d), false});
    d = plain;
    d.info = {{"Title", pdf_literal("One")}, {"Title", pdf_literal("Two")}};
    c.push_back({"a key twice (qpdf warns)", build_pdf(d), false});
    d = plain;
    d.xmp_flate = false;
    const std::string whole = build_pdf(d);
    const std::string len = "/Length " + std::to_string(d.xmp.size());
    c.push_back({"stream data shorter than its /Length",
                 replaced(whole, len, "/Length " + std::to_string(d.xmp.size() + 3)), false});
    d.metadata_value = "8 0 R";
    d.objects = {
        {8, "<< /Type /Metadata /Filter /ASCIIHexDecode >>", true, qtest::pdf_hex("<x/>")}};
    c.push_back({"metadata in a filter left to qpdf", build_pdf(d), false});
    return c;
}

TEST(PdfLazy, TakenFilesGiveQpdfsRecordAndOddOnesGoToQpdf) {
    for (const Case &c : cases()) {
        int rc = 0;
        std::size_t complaints = 0;
        const std::string lazy = record(c.bytes, eb_pdf_path::lazy, &rc);
        const std::string full = record(c.bytes, eb_pdf_path::qpdf, nullptr, &complaints);
        EXPECT_EQ(rc == 0, c.lazy) << c.what << "\n" << full;
        if (rc == 0) {
            EXPECT_EQ(lazy, full) << c.what;
            EXPECT_EQ(complaints, 0u) << c.what;
        }
        // Whichever path reads it, the reader's record is qpdf's.
        EXPECT_EQ(record(c.bytes, eb_pdf_path::either), full) << c.what;
    }
}

// Values read as qpdf's own parser reads them, and what is left to qpdf.
TEST(PdfLazy, ParserReadsAsQpdfOrGivesUp) {
    const char *same[] = {
        "<< /Title (a\\nb\\r\\t\\b\\f\\(\\)\\\\c) /Author (\\0\\07\\101\\400\\777\\0777) >>",
        "(a\\Cb\\8 (nested (twice)) x)",
        "(line\\\nbreak\\\r\njoined\\\rtoo)",
        "(raw\r\nends\rbecome\nLF)",
        "<FEFF 00e9 4> ",
        "[1 -2 +3 0.5 -.25 4.0 true false null /Name /A.b-c_1 <> ()]",
        "<< /Pages << /Deeper [[[ ]]] /Kids << /Count 1 >> >> /Count << >> >>",
        "123456789012345678",
    };
    for (const char *text : same) {
        QPDF ctx;
        eb_pdf_parser p(ctx, text, true);
        EXPECT_EQ(p.value().unparseBinary(), QPDFObjectHandle::parse(text).unparseBinary()) << text;
    }
    const std::string deep(40, '[');
    const char *odd[] = {"<< /A 1 % a comment\n >>",
                         "/A#20B",
                         "<< /K 1 /K 2 >>",
                         "{ }",
                         "<< /A >>",
                         "(no end",
                         deep.c_str(),
                         "1.2.3",
                         "+5 0 R",
                         "<< /A 1 \f>>",
                         "<< /A (x) /B <4G> >>",
                         "1234567890123456789"};
    for (const char *text : odd) {
        QPDF ctx;
        eb_pdf_parser p(ctx, text, true);
        EXPECT_THROW(p.value(), eb_pdf_give_up) << text;
    }
    // A reference is kept under the outermost dictionary, a stand-in deeper;
    // what the record never reads is read through and stands in.
    QPDF ctx;
    eb_pdf_parser p(ctx, "<< /Pages 3 0 R /Count [4 0 R] /Kids [5 0 R (x) <<>>] >>", true);
    QPDFObjectHandle d = p.value();
    EXPECT_TRUE(d.getKey("/Pages").isIndirect());
    EXPECT_EQ(d.getKey("/Pages").getObjGen().getObj(), 3);
    EXPECT_TRUE(d.getKey("/Count").getArrayItem(0).isOperator());
    EXPECT_EQ(d.getKey("/Kids").unparse(), "...");
    // A piece of the file that ends inside a value asks for a longer one.
    eb_pdf_parser cut(ctx, "<< /Title (Tide", false);
    EXPECT_THROW(cut.value(), eb_pdf_short);
}

// PNG prediction of every filter type, each row differently.
TEST(PdfLazy, PredictedRowsOfEveryFilterType) {
    const unsigned char bytes[] = {1, 2, 3,    4,    0xF0, 0x10, 0x20, 0x30, 0x99, 0,
                                   0, 1, 0xFE, 0x80, 0x7F, 1,    5,    6,    7,    8};
    const std::string rows(reinterpret_cast<const char *>(bytes), sizeof bytes);
    const std::size_t columns = 4;
    std::string coded;
    for (std::size_t r = 0; r * columns < rows.size(); ++r) {
        const int type = static_cast<int>(r % 5);
        coded += static_cast<char>(type);
        for (std::size_t i = 0; i < columns; ++i) {
            const auto at = [&](std::size_t row, std::size_t col) -> int {
                return static_cast<unsigned char>(rows[row * columns + col]);
            };
            const int a = i ? at(r, i - 1) : 0, b = r ? at(r - 1, i) : 0,
                      cc = i && r ? at(r - 1, i - 1) : 0;
            const int p = a + b - cc, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - cc);
            const int pred[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : cc};
            coded += static_cast<char>(at(r, i) - pred[type]);
        }
    }
    uLongf n = compressBound(static_cast<uLong>(coded.size()));
    std::string z(n, '\0');
    ASSERT_EQ(compress(reinterpret_cast<Bytef *>(z.data()), &n,
                       reinterpret_cast<const Bytef *>(coded.data()), coded.size()),
              Z_OK);
    z.resize(n);
    QPDFObjectHandle dict = QPDFObjectHandle::parse(
        "<< /Filter /FlateDecode /DecodeParms << /Predictor 15 /Columns 4 >> >>");
    EXPECT_EQ(eb_pdf_decode(z, dict, rows.size(), columns), rows);
    EXPECT_THROW(eb_pdf_decode(z, dict, rows.size() - 1, columns), eb_pdf_give_up);
    EXPECT_THROW(eb_pdf_decode(z, dict, rows.size(), 5), eb_pdf_give_up);
}

long long counted_read(void *ctx, unsigned long long off, void *buf, std::size_t len) {
    auto *p = static_cast<std::pair<const std::string *, int> *>(ctx);
    ++p->second;
    std::memcpy(buf, p->first->data() + off, len);
    return static_cast<long long>(len);
}

// Through a host's callback a book with a classic table costs its tail and
// its header and, when the table reaches further back, the bytes around its
// first entries, where TeX puts the objects it writes last.
TEST(PdfLazy, ClassicTableInThreeReadsAtMost) {
    PdfDesc heavy;
    heavy.filler = 2 << 20;
    heavy.info = {{"Title", pdf_literal("Counted")}};
    heavy.xmp = qtest::xmp_packet("<dc:language>en</dc:language>");
    PdfDesc small = heavy;
    small.filler = 0;
    const struct {
        const char *what;
        std::string bytes;
        int most;
    } books[] = {{"small book", build_pdf(small), 1},
                 {"2 MB of pages first", build_pdf(heavy), 2},
                 {"table of 8,000 entries", tex_layout_pdf(8000), 3}};
    for (const auto &b : books) {
        std::pair<const std::string *, int> ctx{&b.bytes, 0};
        char *json = ebook_metadata_from_reader(counted_read, &ctx, b.bytes.size(), "b.pdf");
        ASSERT_NE(json, nullptr) << b.what;
        EXPECT_NE(std::strstr(json, "\"title\":\"Counted\""), nullptr) << b.what;
        EXPECT_LE(ctx.second, b.most) << b.what;
        ebook_free_string(json);
    }
}

}  // namespace
