// The PDF full record under protection and hostile input: every encryption case, documents that
// loop, inflate or lie about their pages, and files qpdf cannot open at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata_probe.h"
#include "pdf_builder.h"
#include "pdf_hostile.h"
#include "record_expect.h"

namespace {

using qtest::MetaProbe;
using qtest::pdf_literal;
using qtest::PdfDesc;
using qtest::xmp_packet;

struct Case {
    const char *what;
    PdfDesc desc;
    qtest::RecordWant want;
};

void check(const Case &c, const std::string &bytes) {
    qtest::expect_record(c.what, bytes, "book.pdf", c.want);
}

// A password-protected document is protection (nothing else is read); an
// empty user password is not, and its restrictions are named.
TEST(PdfRecord, EveryProtectionCase) {
    PdfDesc d;
    d.info = {{"Title", pdf_literal("Locked Away")}};
    d.xmp = xmp_packet("<dc:creator><rdf:Seq><rdf:li>Ann Lee</rdf:li></rdf:Seq></dc:creator>");
    const std::string plain = qtest::build_pdf(d);
    auto foreign = [&](const char *filter) {
        PdfDesc f = d;
        f.trailer_extra = "/Encrypt 8 0 R /ID [<0011223344556677><0011223344556677>]";
        f.objects = {{8, std::string("<< /Filter /") + filter + " /V 2 /R 3 /Length 128 >>"}};
        return qtest::build_pdf(f);
    };
    struct Protected {
        const char *what;
        std::string bytes;
        const char *drm, *scheme, *title, *warning;
    };
    const std::vector<Protected> cases = {
        {"not encrypted", plain, "false", "<null>", "Locked Away", nullptr},
        {"R2, empty user password", qtest::encrypt_pdf(plain, "", "owner", 2, true), "false",
         "<null>", "Locked Away",
         "(RC4) with an empty user password, read as viewers do; it restricts "
         "printing, changes, copying, notes"},
        {"R3, empty user password", qtest::encrypt_pdf(plain, "", "owner", 3, true), "false",
         "<null>", "Locked Away",
         "it restricts printing, changes, copying, notes, form filling, "
         "extraction for accessibility, page assembly"},
        {"R4 AES, empty user password, nothing withheld",
         qtest::encrypt_pdf(plain, "", "owner", 4, false), "false", "<null>", "Locked Away",
         "(AES-128) with an empty user password, read as viewers do; it restricts nothing"},
        {"R6, empty user password", qtest::encrypt_pdf(plain, "", "owner", 6, true), "false",
         "<null>", "Locked Away", "(AES-256)"},
        {"R3, user password", qtest::encrypt_pdf(plain, "user", "owner", 3, true), "true",
         "pdf-password", "", "PDF encrypted with a password; its metadata is not read"},
        {"R6, user password", qtest::encrypt_pdf(plain, "user", "owner", 6, false), "true",
         "pdf-password", "", "its metadata is not read"},
        {"R6, only the owner password empty", qtest::encrypt_pdf(plain, "user", "", 6, false),
         "true", "pdf-password", "", "with a user password; its metadata is not read"},
        {"Adobe ADEPT", foreign("EBX_HANDLER"), "true", "adobe-adept", "",
         "Adobe ADEPT (EBX_HANDLER)"},
        {"another handler", foreign("FOPN_fLock"), "true", "unknown", "",
         "security handler FOPN_fLock"},
    };
    for (const Protected &c : cases) {
        qtest::RecordWant want = {
            {"/drm", c.drm}, {"/drm_scheme", c.scheme}, {"/title", c.title}, {"/format", "pdf"}};
        want["/authors/0/name"] = c.drm == std::string("true") ? "<missing>" : "Ann Lee";
        if (c.drm == std::string("true")) want["/pages"] = "<null>";
        if (c.warning) want["/warnings~"] = c.warning;
        check({c.what, {}, want}, c.bytes);
    }
}

// Bad input costs a warning, never a hang, a crash or the record.
TEST(PdfRecord, BadInputGivesWarnings) {
    std::vector<Case> cases;
    PdfDesc bomb;
    bomb.xmp = xmp_packet(
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Bomb</rdf:li></rdf:Alt>"
        "</dc:title>" +
        std::string(6 << 20, ' '));
    bomb.xmp_flate = true;
    cases.push_back(
        {"XMP stream inflating past 4 MiB",
         bomb,
         {{"/title", "Bomb"}, {"/warnings~", "XMP stream decodes to more than 4 MiB"}}});
    // qpdf would inflate the whole object stream holding the catalog.
    PdfDesc packed_bomb;
    packed_bomb.object_stream = true;
    packed_bomb.info = {{"Title", pdf_literal("Gone")}};
    packed_bomb.objects = {{8, "(" + std::string(17 << 20, ' ') + ")"}};
    cases.push_back({"object stream inflating past 16 MiB",
                     packed_bomb,
                     {{"/title", ""},
                      {"/pages", "<null>"},
                      {"/warnings~", "object stream 7 decodes to more than 16 MiB"}}});
    PdfDesc self_info;
    self_info.info_value = "8 0 R";
    self_info.objects = {{8, "<< /Title 8 0 R /Author (A. Writer) >>"}};
    cases.push_back(
        {"Info holding itself", self_info, {{"/title", ""}, {"/authors/0/name", "A. Writer"}}});
    PdfDesc loop = self_info;
    loop.objects = {{8, "9 0 R"}, {9, "8 0 R"}};
    cases.push_back({"Info through a loop of references",
                     loop,
                     {{"/title", ""}, {"/warnings~", "Info entry is not a dictionary"}}});
    PdfDesc md_catalog;
    md_catalog.metadata_value = "1 0 R";
    cases.push_back({"/Metadata naming the catalog",
                     md_catalog,
                     {{"/pages", "1"}, {"/warnings~", "/Metadata is not a stream"}}});
    PdfDesc md_loop = md_catalog;
    md_loop.metadata_value = "8 0 R";
    md_loop.objects = {{8, "<< /Metadata 8 0 R >>"}};
    cases.push_back(
        {"/Metadata holding itself", md_loop, {{"/warnings~", "/Metadata is not a stream"}}});
    const std::vector<std::pair<std::string, std::string>> counts = {
        {"2147483648", "page count 2147483648 is impossible"},
        {"-3", "page count -3 is impossible"},
        {"5000", "page count 5000 is more than the 3 objects of the file"},
        {"(12)", "states no page count"},
        {"1.5", "states no page count"}};
    for (const auto &[count, warning] : counts) {
        PdfDesc d;
        d.page_count = count;
        cases.push_back({"page count", d, {{"/pages", "<null>"}, {"/warnings~", warning}}});
    }
    for (const char *root : {"(pages)", "99 0 R", "[2 0 R]"}) {
        PdfDesc d;
        d.pages_value = root;
        d.info = {{"Title", pdf_literal("Still Read")}};
        cases.push_back({root,
                         d,
                         {{"/pages", "<null>"},
                          {"/title", "Still Read"},
                          {"/warnings~", "page tree root is not a dictionary"}}});
    }
    PdfDesc bad_filter;
    bad_filter.objects = {{5, "<< /Filter /JBIG2Decode >>", true, "<x:xmpmeta/>", false}};
    bad_filter.metadata_value = "5 0 R";
    cases.push_back({"XMP under a filter qpdf does not decode",
                     bad_filter,
                     {{"/warnings~", "filter that cannot be decoded"}}});
    PdfDesc broken_flate;
    broken_flate.objects = {{5, "<< /Filter /FlateDecode >>", true, "not deflated at all", false}};
    broken_flate.metadata_value = "5 0 R";
    cases.push_back({"XMP stream that does not inflate",
                     broken_flate,
                     {{"/warnings~", "XMP stream cannot be decoded"}}});
    for (const Case &c : cases)
        check(c, qtest::build_pdf(c.desc));
}

// Every stream qpdf inflates on its own is decoded first under 16 MiB,
// whatever its filters, its stated length or what refers to it: past that, a
// cross-reference stream refuses the file and an object stream reads as
// missing; nothing is taken from an object stream while the file opens.
TEST(PdfRecord, StreamsQpdfInflatesAreBounded) {
    using qtest::PdfBomb;
    const std::size_t big = 20u << 20, small = 1u << 20;
    const std::string packed = "object stream 7 decodes to more than 16 MiB";
    const struct {
        const char *what;
        std::string bytes;
        const char *error;  // "" when a record is expected
        qtest::RecordWant want;
    } cases[] = {
        {"Info in a stream inflated twice",
         qtest::pdf_bomb(PdfBomb::info_stream, big),
         "",
         {{"/title", ""}, {"/pages", "1"}, {"/warnings~", packed}}},
        {"the same, 1 MiB: read",
         qtest::pdf_bomb(PdfBomb::info_stream, small),
         "",
         {{"/title", "Bomb"}, {"/warnings/0", "<missing>"}}},
        {"an object stream whose /Length says 10",
         qtest::pdf_bomb(PdfBomb::lying_length, big),
         "",
         {{"/title", ""}, {"/warnings~", packed}}},
        {"the same, 1 MiB: read",
         qtest::pdf_bomb(PdfBomb::lying_length, small),
         "",
         {{"/title", "Bomb"}}},
        {"the XMP's /Length in it",
         qtest::pdf_bomb(PdfBomb::xmp_length, big),
         "",
         {{"/pages", "1"}, {"/warnings~", packed}}},
        {"the encryption dictionary in it",
         qtest::pdf_bomb(PdfBomb::encrypt_dict, big),
         "",
         {{"/drm", "false"},
          {"/pages", "1"},
          {"/warnings~", "object 6, needed to open the file, lies in an object stream"}}},
        {"a padded cross-reference stream",
         qtest::pdf_bomb(PdfBomb::padded_xref, big),
         "not a valid PDF: cross-reference stream decodes to more than 16 MiB",
         {}},
        {"the same, 1 MiB: read",
         qtest::pdf_bomb(PdfBomb::padded_xref, small),
         "",
         {{"/pages", "1"}}},
        {"a cross-reference stream listing 2,000,000 objects",
         qtest::pdf_bomb(PdfBomb::many_objects, 2000000),
         "not a valid PDF: cross-reference streams list 2000000 objects in a file of ",
         {}},
        {"the same, 60,000: read",
         qtest::pdf_bomb(PdfBomb::many_objects, 60000),
         "",
         {{"/pages", "1"}}},
        {"a cross-reference stream's filter by reference",
         qtest::pdf_bomb(PdfBomb::filter_reference, 0),
         "not a valid PDF: cross-reference stream with /Filter given by reference",
         {}},
    };
    for (const auto &c : cases) {
        if (!*c.error) {
            qtest::expect_record(c.what, c.bytes, "book.pdf", c.want);
            continue;
        }
        MetaProbe p = MetaProbe::from_memory(c.bytes, "book.pdf");
        EXPECT_FALSE(p.ok()) << c.what << p.json();
        EXPECT_EQ(p.error().rfind(c.error, 0), 0u) << c.what << ": " << p.error();
    }
}

// A file qpdf must rebuild parses a trailer after every "trailer" line until
// one is a dictionary: those parses are bounded, so many dictionaries that
// never close refuse the file instead of costing a parse to its end each.
TEST(PdfRecord, RepairStaysLinear) {
    MetaProbe refused = MetaProbe::from_memory(qtest::pdf_unclosed_trailers(1000), "x.pdf");
    EXPECT_EQ(refused.error(), "PDF is damaged beyond repair");
    qtest::expect_record("damaged trailers, then a good one",
                         qtest::pdf_unclosed_trailers(1000, true), "x.pdf",
                         {{"/pages", "0"}, {"/warnings~", "reconstruct"}});
}

// What qpdf cannot open at all, even by recovery, is no PDF; the message
// holds the library's words and no control characters.
TEST(PdfRecord, UnopenableFiles) {
    const std::vector<std::string> files = {
        "", "%PDF-1.7\n", "%PDF-1.4\n\x1b[2J\x07 trailer << /Root 9 0 R >>\n%%EOF",
        std::string("%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\n\0\r\x9b", 47),
        "this is no PDF at all"};
    for (const std::string &f : files) {
        MetaProbe p = MetaProbe::from_memory(f, "broken.pdf");
        EXPECT_FALSE(p.ok()) << p.json();
        EXPECT_EQ(p.error().rfind("not a valid PDF: ", 0), 0u) << p.error();
        for (unsigned char c : p.error())
            EXPECT_TRUE(c >= 0x20 && c != 0x7F) << p.error();
    }
}

// A cross-reference stream filtered twice by Flate whose rows were deflated
// once (the second inflate meets no zlib data): damage for the repair to
// try, never the "out of memory" of an exception escaping the decoder.
TEST(PdfRecord, XrefStreamThatDoesNotInflate) {
    const std::string hex =
        "255044462d312e350a25e2e3cfd30a312030206f626a0a3c3c202f54797065202f436174616c6f67202f5061"
        "676573203220302052203e3e0a656e646f626a0a322030206f626a0a3c3c202f54797065202f506167657320"
        "2f4b696473205b33203020525d202f436f756e742031203e3e0a656e646f626a0a332030206f626a0a3c3c20"
        "2f54797065202f50616765202f506172656e74203220302052202f4d65646961426f78205b30203020363132"
        "203739325d7374617274787265660a0a342030206f626a0a3c3c202f54797065202f58526566202f53697a65"
        "2035202f57205b31203420325d202f46696c746572205b2f466c6174654465636f6465202f466c6174654465"
        "636f64655d202f526f6f74203120302052202f4c656e677468203531203e3e0a73747265616d0a78daabb8f5"
        "f628232f83020fcbc6850cde370ec95e8af86676ab49516872a9b5f5cdb3718c0c1481033f54fc187b01ed65"
        "117d0a656e6473747265616d0a656e646f626a0a7374617274787265660a3139320a2525454f460a";
    std::string pdf;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        pdf.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    MetaProbe p = MetaProbe::from_memory(pdf, "book.pdf");
    EXPECT_FALSE(p.ok()) << p.json();
    EXPECT_EQ(p.error().rfind("not a valid PDF: ", 0), 0u) << p.error();
}

}  // namespace
