// The full record of EPUB books: one builder-made book per rule of the
// package document, the container's protection and the cover.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "book_builders.h"
#include "metadata_probe.h"
#include "zip_builder.h"

namespace {

using qtest::MetaProbe;

MetaProbe of_epub(const qtest::EpubDesc &desc) {
    MetaProbe p = MetaProbe::from_memory(qtest::build_epub(desc), "book.epub");
    EXPECT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(p.schema_error(), "") << p.json();
    return p;
}

// A package document around the given metadata and manifest lines.
std::string opf(const std::string &version, const std::string &metadata,
                const std::string &manifest = "", const std::string &decl = "UTF-8") {
    return "<?xml version=\"1.0\" encoding=\"" + decl +
           "\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"" + version +
           "\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:opf=\"http://www.idpf.org/2007/opf\">" +
           metadata + "</metadata><manifest>" + manifest +
           "<item id=\"c1\" href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\"/>"
           "</manifest><spine><itemref idref=\"c1\"/></spine></package>";
}

struct Expect {
    const char *pointer;
    const char *value;
};

struct OpfCase {
    const char *rule;
    std::string opf;
    std::vector<Expect> want;
};

TEST(FullEpub, PackageDocumentRules) {
    const std::vector<OpfCase> cases = {
        {"EPUB 2 attributes: role, file-as, scheme, event",
         opf("2.0",
             "<dc:title>T</dc:title><dc:creator opf:role=\"trl\" opf:file-as=\"B, A\">A "
             "B</dc:creator>"
             "<dc:creator opf:file-as=\"D, C\">C D</dc:creator>"
             "<dc:contributor>E F</dc:contributor>"
             "<dc:identifier opf:scheme=\"ISBN\">0-306-40615-2</dc:identifier>"
             "<dc:date opf:event=\"creation\">2001</dc:date>"
             "<dc:date opf:event=\"publication\">2002-03-04</dc:date>"
             "<dc:date opf:event=\"modification\">2003</dc:date>"),
         {{"/version", "2.0"},
          {"/authors/0/name", "C D"},
          {"/authors/0/sort", "D, C"},
          {"/authors/0/role", "aut"},
          {"/contributors/0/role", "trl"},
          {"/contributors/0/sort", "B, A"},
          {"/contributors/1/role", "ctb"},
          {"/isbn", "9780306406157"},
          {"/published", "2002-03-04"},
          {"/modified", "2003"}}},
        {"EPUB 3 refines: title-type, file-as, role, identifier-type",
         opf("3.0",
             "<dc:title id=\"s\">Sub</dc:title><meta refines=\"#s\" "
             "property=\"title-type\">subtitle</meta>"
             "<dc:title id=\"m\">Main</dc:title><meta refines=\"#m\" "
             "property=\"title-type\">main</meta>"
             "<meta refines=\"#m\" property=\"file-as\">Main, The</meta>"
             "<dc:creator id=\"i\">Ill Ustrator</dc:creator>"
             "<meta refines=\"#i\" property=\"role\" scheme=\"marc:relators\">ill</meta>"
             "<dc:creator id=\"a\">Au Thor</dc:creator>"
             "<meta refines=\"#a\" property=\"file-as\">Thor, Au</meta>"
             "<dc:identifier id=\"x\">9780306406157</dc:identifier>"
             "<dc:identifier id=\"y\">978-0-306-40615-8</dc:identifier>"
             "<meta refines=\"#y\" property=\"identifier-type\" scheme=\"onix:codelist5\">15</meta>"
             "<meta property=\"dcterms:modified\">2020-01-01T00:00:00Z</meta>"
             "<dc:date>2019</dc:date>"),
         {{"/title", "Main"},
          {"/title_sort", "Main, The"},
          {"/subtitle", "Sub"},
          {"/authors/0/name", "Au Thor"},
          {"/authors/0/sort", "Thor, Au"},
          {"/contributors/0/role", "ill"},
          {"/identifiers/0/scheme", "isbn"},
          {"/identifiers/1/scheme", "isbn-invalid"},
          {"/published", "2019"},
          {"/modified", "2020-01-01T00:00:00Z"}}},
        {"series: calibre and collections, primary first, one name once",
         opf("3.0",
             "<dc:title>T</dc:title>"
             "<meta property=\"belongs-to-collection\" id=\"c\">Saga</meta>"
             "<meta refines=\"#c\" property=\"collection-type\">series</meta>"
             "<meta refines=\"#c\" property=\"group-position\">4</meta>"
             "<meta name=\"calibre:series\" content=\"Other &amp; More\"/>"
             "<meta name=\"calibre:series_index\" content=\"1.5\"/>"
             "<meta name=\"calibre:series\" content=\"Saga\"/>"
             "<meta name=\"calibre:title_sort\" content=\"T, A\"/>"),
         {{"/series/0/name", "Saga"},
          {"/series/0/index", "4"},
          {"/series/1/name", "Other & More"},
          {"/series/1/index", "1.5"},
          {"/series/2", "<missing>"},
          {"/title_sort", "T, A"}}},
        {"Dublin Core under any prefix; texts, languages, subjects",
         "<?xml version=\"1.0\"?><opf:package xmlns:opf=\"http://www.idpf.org/2007/opf\" "
         "version=\"2.0\"><opf:metadata><x:title xmlns:x=\"http://purl.org/dc/elements/1.1/\">"
         "  Prefixed  </x:title><title xmlns=\"http://purl.org/dc/elements/1.1/\">Second</title>"
         "<dc:language xmlns:dc=\"http://purl.org/dc/elements/1.1/\">fr</dc:language>"
         "<dc:language xmlns:dc=\"http://purl.org/dc/elements/1.1/\">en</dc:language>"
         "<dc:subject xmlns:dc=\"http://purl.org/dc/elements/1.1/\">Sea</dc:subject>"
         "<dc:subject xmlns:dc=\"http://purl.org/dc/elements/1.1/\">Ships</dc:subject>"
         "<dc:publisher xmlns:dc=\"http://purl.org/dc/elements/1.1/\">Pub</dc:publisher>"
         "<dc:rights xmlns:dc=\"http://purl.org/dc/elements/1.1/\">Free</dc:rights>"
         "<dc:description xmlns:dc=\"http://purl.org/dc/elements/1.1/\">&lt;p&gt;One &amp;amp; "
         "two&lt;/p&gt;&lt;p&gt;Three&lt;/p&gt;</dc:description>"
         "</opf:metadata><opf:manifest/></opf:package>",
         {{"/title", "Prefixed"},
          {"/language", "fr"},
          {"/languages/1", "en"},
          {"/subjects/1", "Ships"},
          {"/publisher", "Pub"},
          {"/rights", "Free"},
          {"/description", "One & two\n\nThree"}}},
        {"a broken document keeps what follows the broken spot",
         opf("2.0",
             "<dc:title>Fish &amp; Chips & Peas&nbsp;Too</dc:title>"
             "<dc:creator>After Break</dc:creator><dc:language>en</dc:language>"),
         {{"/authors/0/name", "After Break"}, {"/language", "en"}}},
        {"a prefix the document never declares",
         "<?xml version=\"1.0\"?><package version=\"2.0\"><metadata><dc:title>Loose</dc:title>"
         "<dc:creator opf:role=\"ill\">Pic Tor</dc:creator><dc:creator>Wri Ter</dc:creator>"
         "</metadata><manifest/></package>",
         {{"/title", "Loose"}, {"/authors/0/name", "Wri Ter"}, {"/contributors/0/role", "ill"}}},
        {"a package document in windows-1252",
         opf("2.0", "<dc:title>Caf\xe9</dc:title>", "", "windows-1252"),
         {{"/title", "Caf\xc3\xa9"}, {"/encoding", "windows-1252"}}},
    };
    for (const OpfCase &c : cases) {
        SCOPED_TRACE(c.rule);
        qtest::EpubDesc desc;
        desc.opf = c.opf;
        MetaProbe p = of_epub(desc);
        for (const Expect &e : c.want)
            EXPECT_EQ(p.at(e.pointer), e.value) << e.pointer << " in " << p.json();
    }
}

// Many identifiers, series and refinements sharing one id are all kept, each
// refinement going to the first element of its id (the time this takes is
// measured by the hostile-book benchmark, not here).
TEST(FullEpub, ManyElementsSharingOneIdAreAllKept) {
    std::string meta;
    for (int i = 0; i < 8000; ++i) {
        const std::string n = std::to_string(i % 4000);
        meta += "<dc:identifier id=\"x\">id" + n +
                "</dc:identifier>"
                "<meta refines=\"#x\" property=\"identifier-type\">t" +
                n +
                "</meta>"
                "<meta name=\"calibre:series\" content=\"s" +
                n + "\"/>";
    }
    qtest::EpubDesc desc;
    desc.opf = opf("3.0", meta);
    MetaProbe p = of_epub(desc);
    EXPECT_EQ(p.count("/identifiers"), 4000u);
    EXPECT_EQ(p.count("/series"), 4000u);
    EXPECT_EQ(p.at("/identifiers/0/scheme"), "t0");  // the first refinement of "x"
}

TEST(FullEpub, BrokenDocumentWarns) {
    qtest::EpubDesc desc;
    desc.opf = opf("2.0", "<dc:title>A & B</dc:title><dc:creator>Z</dc:creator>");
    MetaProbe p = of_epub(desc);
    EXPECT_GE(p.count("/warnings"), 1u) << p.json();
    EXPECT_EQ(p.at("/authors/0/name"), "Z");
}

qtest::ZipEntry enc_xml(const std::vector<std::string> &algorithms) {
    std::string s =
        "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\" "
        "xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\">";
    for (const std::string &a : algorithms)
        s += "<enc:EncryptedData><enc:EncryptionMethod Algorithm=\"" + a +
             "\"/><enc:CipherData><enc:CipherReference URI=\"f\"/></enc:CipherData>"
             "</enc:EncryptedData>";
    return qtest::zip_file("META-INF/encryption.xml", s + "</encryption>");
}

TEST(FullEpub, ProtectionFromWhatTheContainerShows) {
    const std::string aes = "http://www.w3.org/2001/04/xmlenc#aes256-cbc";
    const std::string idpf = "http://www.idpf.org/2008/embedding";
    const std::string adobe = "http://ns.adobe.com/pdf/enc#RC";
    const qtest::ZipEntry adept_rights = qtest::zip_file(
        "META-INF/rights.xml", "<adept:rights xmlns:adept=\"http://ns.adobe.com/adept\"/>");
    struct Case {
        const char *what;
        std::vector<qtest::ZipEntry> members;
        const char *drm, *scheme, *fonts;
    };
    const std::vector<Case> cases = {
        {"fonts only", {enc_xml({idpf, adobe})}, "false", "<null>", "true"},
        {"no encryption at all", {}, "false", "<null>", "false"},
        {"adobe", {enc_xml({aes, idpf}), adept_rights}, "true", "adobe-adept", "false"},
        {"lcp",
         {enc_xml({aes}), qtest::zip_file("META-INF/license.lcpl", "{}")},
         "true",
         "readium-lcp",
         "false"},
        {"fairplay",
         {enc_xml({aes}), qtest::zip_file("META-INF/sinf.xml", "<s/>")},
         "true",
         "apple-fairplay",
         "false"},
        {"unknown", {enc_xml({aes})}, "true", "unknown", "false"},
        {"rights.xml of another kind",
         {qtest::zip_file("META-INF/rights.xml", "<r/>")},
         "false",
         "<null>",
         "false"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        qtest::EpubDesc desc;
        desc.title = "Locked";
        desc.members = c.members;
        MetaProbe p = of_epub(desc);
        EXPECT_EQ(p.at("/drm"), c.drm);
        EXPECT_EQ(p.at("/drm_scheme"), c.scheme);
        EXPECT_EQ(p.at("/obfuscated_fonts"), c.fonts);
        EXPECT_EQ(p.at("/title"), "Locked");  // the metadata is never encrypted
    }
}

TEST(FullEpub, CoverFromManifestAndCentralDirectory) {
    const std::string jpeg = qtest::tiny_jpeg();
    const std::string size = std::to_string(jpeg.size());
    const std::string png_size = std::to_string(qtest::tiny_png().size());
    qtest::EpubDesc meta;
    meta.cover = jpeg;
    qtest::EpubDesc prop = meta;
    prop.cover_by_properties = true;
    qtest::EpubDesc first;
    first.items = {{"pic", "img/a%20b.png", "image/png", ""}};
    first.members = {qtest::zip_file("OEBPS/img/a b.png", qtest::tiny_png())};
    qtest::EpubDesc missing = meta;
    missing.omit = {"OEBPS/images/cover.jpg"};
    struct Case {
        const char *what;
        qtest::EpubDesc desc;
        const char *mime, *size, *from;
    };
    const std::vector<Case> cases = {
        {"meta name=cover", meta, "image/jpeg", size.c_str(), "meta-cover"},
        {"cover-image property", prop, "image/jpeg", size.c_str(), "cover-image"},
        {"first image, href percent-encoded", first, "image/png", png_size.c_str(), "first-image"},
        {"named but not in the archive", missing, "<missing>", "<missing>", "<missing>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        MetaProbe p = of_epub(c.desc);
        EXPECT_EQ(p.at("/cover/mime"), c.mime);
        EXPECT_EQ(p.at("/cover/size"), c.size);
        EXPECT_EQ(p.at("/cover/from"), c.from);
    }
    MetaProbe gone = of_epub(missing);
    EXPECT_EQ(gone.at("/cover"), "<null>");
    EXPECT_EQ(gone.count("/warnings"), 1u);
}

// The first item named or marked as the cover, in either order of metadata
// and manifest; reading ends at that item only once the metadata is read.
TEST(FullEpub, CoverItemInAnyOrderOfThePackage) {
    const std::string items =
        "<manifest><item id=\"a\" href=\"a.jpg\" media-type=\"image/jpeg\"/><item id=\"b\" "
        "href=\"b.png\" media-type=\"image/png\" properties=\"cover-image\"/></manifest>";
    const auto meta = [](const std::string &cover) {
        return "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>T</dc:title>"
               "<meta name=\"cover\" content=\"" + cover + "\"/></metadata>";
    };
    const struct {
        std::string parts;
        const char *size, *from;
    } cases[] = {{meta("a") + items, "1", "meta-cover"},
                 {meta("x") + items, "2", "cover-image"},
                 {items + meta("a"), "1", "meta-cover"},
                 {items + meta("x"), "2", "cover-image"},
                 {"<meta name=\"cover\" content=\"a\"/>" + items + meta(""), "1", "meta-cover"}};
    for (const auto &k : cases) {
        qtest::EpubDesc desc;
        desc.opf = "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\">" + k.parts +
                   "<spine/></package>";
        desc.members = {qtest::zip_file("OEBPS/a.jpg", "1"), qtest::zip_file("OEBPS/b.png", "22")};
        MetaProbe p = of_epub(desc);
        EXPECT_EQ(p.at("/cover/size"), k.size) << k.parts;
        EXPECT_EQ(p.at("/cover/from"), k.from) << k.parts;
        EXPECT_EQ(p.at("/title"), "T") << k.parts;
    }
}

TEST(FullEpub, ContainerFailuresKeepTheSingleBookMessages) {
    qtest::EpubDesc no_container;
    no_container.omit = {"META-INF/container.xml"};
    qtest::EpubDesc no_package;
    no_package.container =
        "<container><rootfiles><rootfile full-path=\"x.opf\"/></rootfiles></container>";
    qtest::EpubDesc no_rootfile;
    no_rootfile.container = "<container/>";
    struct Case {
        std::string bytes;
        const char *error;
    };
    const Case cases[] = {
        {qtest::build_epub(no_container), "missing META-INF/container.xml"},
        {qtest::build_epub(no_package), "missing zip entry: x.opf"},
        {qtest::build_epub(no_rootfile), "no rootfile in container.xml"},
        {"PK\x03\x04 not really", "bad zip / not a valid EPUB archive"},
    };
    for (const Case &c : cases) {
        MetaProbe p = MetaProbe::from_memory(c.bytes, "x.epub");
        EXPECT_FALSE(p.ok());
        EXPECT_EQ(p.error(), c.error);
    }
}

}  // namespace
