// pdf_seeds.h - seed documents for the PDF fuzz target, made with the tests' PDF builder: each
// file structure, each metadata source and text encoding, every protection case, hostile shapes.
#ifndef QEM_FUZZ_PDF_SEEDS_H
#define QEM_FUZZ_PDF_SEEDS_H

#include <string>

#include "meta_seeds.h"
#include "pdf_builder.h"
#include "pdf_hostile.h"

namespace qfuzz {

inline void meta_pdf_seeds(const add_seed &add) {
    using qtest::pdf_literal;
    using qtest::PdfDesc;
    PdfDesc full;
    full.info = {{"Title", qtest::pdf_utf16("T\xC3\xA9tulo \xF0\x9F\x98\x80")},
                 {"Author", pdf_literal("Roe, Jane; Bell & Ray")},
                 {"Subject", qtest::pdf_hex("\x8DQ\x8E \x93\xA0")},
                 {"Keywords", qtest::pdf_utf8("a, b; c")},
                 {"CreationDate", pdf_literal("D:20120919121451+01'00'")},
                 {"ModDate", pdf_literal("D:20150101Z'")},
                 {"ISBN", pdf_literal("0-306-40615-2")}};
    full.xmp = qtest::xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>X</rdf:li></rdf:Alt></dc:title>"
        "<dc:creator><rdf:Seq><rdf:li>A</rdf:li></rdf:Seq></dc:creator>"
        "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>&lt;p&gt;D&lt;/p&gt;</rdf:li>"
        "</rdf:Alt></dc:description><dc:subject><rdf:Bag><rdf:li>S</rdf:li></rdf:Bag></dc:subject>"
        "<dc:language><rdf:Bag><rdf:li>en</rdf:li></rdf:Bag></dc:language><dc:date>2001</dc:date>"
        "<dc:identifier>urn:isbn:9780306406157</dc:identifier><prism:doi>10.1000/1</prism:doi>"
        "<xmp:Identifier><rdf:Bag><rdf:li><rdf:Description xmpidq:Scheme='ISBN' "
        "rdf:value='0-306-40615-2'/></rdf:li></rdf:Bag></xmp:Identifier>"
        "<calibre:series rdf:parseType='Resource'><rdf:value>S</rdf:value>"
        "<calibreSI:series_index>1</calibreSI:series_index></calibre:series>",
        "xmp:MetadataDate='2014-06-07T08:09:10+02:00' pdf:Keywords='k1, k2'");
    full.catalog_extra = "/Lang (en) /Version /1.7";
    add("full", qtest::build_pdf(full));
    PdfDesc variant = full;
    variant.xref_stream = true;
    add("xref-stream", qtest::build_pdf(variant));
    variant.object_stream = true;
    add("object-stream", qtest::build_pdf(variant));
    variant.updates = {{{{"Title", pdf_literal("New")}}, "", {}}};
    add("object-stream-update", qtest::build_pdf(variant));
    variant = full;
    variant.xmp_flate = true;
    variant.updates = {{{{"Title", pdf_literal("New")}}, "<x:xmpmeta/>", {}}};
    add("update", qtest::build_pdf(variant));
    variant.damaged_xref = true;
    add("damaged", qtest::build_pdf(variant));
    const std::string plain = qtest::build_pdf(full);
    add("r2-open", qtest::encrypt_pdf(plain, "", "o", 2, true));
    add("r3-open", qtest::encrypt_pdf(plain, "", "o", 3, false));
    add("r4-open", qtest::encrypt_pdf(plain, "", "o", 4, true));
    add("r6-open", qtest::encrypt_pdf(plain, "", "o", 6, true));
    add("r4-locked", qtest::encrypt_pdf(plain, "u", "o", 4, true));
    add("r6-owner-only", qtest::encrypt_pdf(plain, "u", "", 6, true));
    PdfDesc ebx;
    ebx.trailer_extra = "/Encrypt 8 0 R /ID [<00><00>]";
    ebx.objects = {{8, "<< /Filter /EBX_HANDLER /V 2 >>"}};
    add("ebx", qtest::build_pdf(ebx));
    PdfDesc bomb;
    bomb.xmp = qtest::xmp_packet("") + std::string(5 << 20, ' ');
    bomb.xmp_flate = true;
    add("xmp-bomb", qtest::build_pdf(bomb));
    PdfDesc loops;
    loops.info_value = "8 0 R";
    loops.metadata_value = "8 0 R";
    loops.pages_value = "9 0 R";
    loops.objects = {{8, "<< /Title 8 0 R /Metadata 8 0 R >>"}, {9, "10 0 R"}, {10, "9 0 R"}};
    loops.page_count = "2147483648";
    add("loops", qtest::build_pdf(loops));
    // Where qpdf inflates on its own (small: each run stays quick), and a
    // repair's trailer search.
    using qtest::PdfBomb;
    add("info-stream", qtest::pdf_bomb(PdfBomb::info_stream, 64 << 10));
    add("lying-length", qtest::pdf_bomb(PdfBomb::lying_length, 64 << 10));
    add("xmp-length", qtest::pdf_bomb(PdfBomb::xmp_length, 64 << 10));
    add("encrypt-packed", qtest::pdf_bomb(PdfBomb::encrypt_dict, 64 << 10));
    add("padded-xref", qtest::pdf_bomb(PdfBomb::padded_xref, 64 << 10));
    add("filter-reference", qtest::pdf_bomb(PdfBomb::filter_reference, 0));
    add("unclosed-trailers", qtest::pdf_unclosed_trailers(40));
    add("damaged-trailers", qtest::pdf_unclosed_trailers(40, true));
}

}  // namespace qfuzz

#endif  // QEM_FUZZ_PDF_SEEDS_H
