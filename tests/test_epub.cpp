// test_epub.cpp - the EPUB reader: failures, DRM, container, Dublin Core,
// series, cover discovery, href resolution and cover media types.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "book_builders.h"
#include "error.h"
#include "formats/readers.h"
#include "quenfold_ebook.h"
#include "record.h"
#include "zip_builder.h"

namespace {

using qtest::EpubItem;
using qtest::EpubDesc;
using qtest::zip_file;

struct meta_deleter {
    void operator()(eb_meta *m) const {
        eb_meta_free(m);
        delete m;
    }
};

struct EpubBook {
    int rc;
    std::unique_ptr<eb_meta, meta_deleter> meta;
    std::string error;

    const eb_meta &m() const { return *meta; }
    std::string cover() const {
        return meta->cover_data
                   ? std::string(reinterpret_cast<const char *>(meta->cover_data), meta->cover_len)
                   : "<none>";
    }
};

EpubBook parse(const std::string &bytes, int want_cover = 0) {
    EpubBook p{0, std::unique_ptr<eb_meta, meta_deleter>(new eb_meta), {}};
    eb_meta_init(p.meta.get());
    eb_clear_error();
    p.rc = eb_parse_epub(bytes.data(), bytes.size(), p.meta.get(), want_cover);
    p.error = ebook_last_error();
    return p;
}

std::string str(const char *s) {
    return s ? s : "<null>";
}

// An OPF around the given metadata and manifest text.
std::string opf(const std::string &metadata, const std::string &manifest = "") {
    return "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" "
           "version=\"3.0\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n" +
           metadata + "\n</metadata>\n<manifest>\n" + manifest + "\n</manifest>\n</package>\n";
}

std::string container_with(const std::string &rootfiles) {
    return "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
           "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n<rootfiles>\n" +
           rootfiles + "\n</rootfiles>\n</container>\n";
}

TEST(EpubReader, FailureTable) {
    auto with = [](auto edit) {
        EpubDesc s;
        edit(s);
        return qtest::build_epub(s);
    };
    struct Case {
        const char *what;
        std::string bytes;
        const char *error;
        int drm;
    } cases[] = {
        {"empty file", "", "bad zip / not a valid EPUB archive", 0},
        {"not a zip", "PK\x03\x04 but nothing more than text here",
         "bad zip / not a valid EPUB archive", 0},
        {"encryption.xml", with([](EpubDesc &s) { s.encryption = true; }),
         "DRM protected EPUB (encryption.xml present); will not decrypt", 1},
        {"no container", with([](EpubDesc &s) { s.omit = {"META-INF/container.xml"}; }),
         "missing META-INF/container.xml", 0},
        {"no rootfile", with([](EpubDesc &s) { s.container = container_with("<rootfiles/>"); }),
         "no rootfile in container.xml", 0},
        {"unclosed rootfile",
         with([](EpubDesc &s) { s.container = "<rootfile full-path=\"OEBPS/content.opf\""; }),
         "malformed rootfile", 0},
        {"no full-path",
         with([](EpubDesc &s) { s.container = container_with("<rootfile path=\"x.opf\"/>"); }),
         "rootfile missing full-path", 0},
        {"empty full-path",
         with([](EpubDesc &s) { s.container = container_with("<rootfile full-path=\"\"/>"); }),
         "rootfile missing full-path", 0},
        {"no package document", with([](EpubDesc &s) { s.omit = {"OEBPS/content.opf"}; }),
         "missing zip entry: OEBPS/content.opf", 0},
        {"package path taken literally", with([](EpubDesc &s) {
             s.container = container_with("<rootfile full-path=\"./OEBPS/content.opf\"/>");
         }),
         "missing zip entry: ./OEBPS/content.opf", 0},
    };
    for (const Case &c : cases) {
        EpubBook p = parse(c.bytes);
        EXPECT_EQ(p.rc, -1) << c.what;
        EXPECT_EQ(p.error, c.error) << c.what;
        EXPECT_EQ(str(p.m().format), "epub") << c.what;
        EXPECT_EQ(p.m().drm, c.drm) << c.what;
        EXPECT_EQ(p.m().title, nullptr) << c.what;
        EXPECT_EQ(p.m().has_cover, 0) << c.what;
    }
}

TEST(EpubReader, DrmScanLooksAtNamesOnly) {
    auto drm_of = [](std::vector<qtest::ZipEntry> extra) {
        EpubDesc s;
        s.members = std::move(extra);
        EpubBook p = parse(qtest::build_epub(s));
        return p.m().drm;
    };
    EXPECT_EQ(drm_of({zip_file("OEBPS/old-encryption.xml", "")}), 1);
    EXPECT_EQ(drm_of({zip_file("META-INF/ENCRYPTION.XML", "<encryption/>")}), 0);
    EXPECT_EQ(drm_of({zip_file("META-INF/Encryption.xml", "<encryption/>")}), 0);
    // Font obfuscation only: still refused.
    EXPECT_EQ(drm_of({zip_file("META-INF/encryption.xml",
                               "<encryption><EncryptedData><EncryptionMethod Algorithm="
                               "\"http://www.idpf.org/2008/embedding\"/></EncryptedData>"
                               "</encryption>")}),
              1);
}

TEST(EpubReader, ContainerAndFirstRootfile) {
    // Member names and the package path are looked up ignoring ASCII case;
    // only the first rootfile counts; mimetype is neither needed nor read.
    EpubDesc s;
    s.mimetype = false;
    s.omit = {"META-INF/container.xml"};
    s.container = container_with(
        "<rootfile full-path=\"oebps/CONTENT.opf\" media-type=\"text/plain\"/>\n"
        "<rootfile full-path=\"other.opf\" media-type=\"application/oebps-package+xml\"/>");
    s.members = {zip_file("meta-inf/Container.XML", s.container),
                 zip_file("other.opf", opf("<dc:title>Other</dc:title>")),
                 zip_file("mimetype", "text/plain")};
    EpubBook p = parse(qtest::build_epub(s));
    EXPECT_EQ(p.rc, 0) << p.error;
    EXPECT_EQ(str(p.m().title), "Sample Book");
    EXPECT_EQ(str(p.m().author), "Sample Author");
    EXPECT_EQ(str(p.m().language), "en");
    EXPECT_EQ(p.error, "");
}

TEST(EpubReader, DublinCoreFallbacks) {
    struct Case {
        const char *metadata;
        const char *title, *author, *language;
    } cases[] = {
        {"<dc:title>T</dc:title><dc:creator>A</dc:creator><dc:language>fr</dc:language>", "T", "A",
         "fr"},
        {"<title>T2</title><creator>A2</creator><language>de</language>", "T2", "A2", "de"},
        // Self-closing: the empty string, no fallback. Empty: null, fallback.
        {"<dc:title/><title>X</title><dc:creator></dc:creator><creator>C</creator>", "", "C",
         "<null>"},
        {"<dc:creator opf:role=\"edt\">First</dc:creator><dc:creator>Second</dc:creator>", "<null>",
         "First", "<null>"},
        {"<dc:title>  A &amp; B &#x2014; <i>C</i>\n</dc:title><dc:titleX>no</dc:titleX>",
         "A & B \xe2\x80\x94 <i>C</i>", "<null>", "<null>"},
    };
    for (const Case &c : cases) {
        EpubDesc s;
        s.opf = opf(c.metadata);
        EpubBook p = parse(qtest::build_epub(s));
        EXPECT_EQ(p.rc, 0) << c.metadata;
        EXPECT_EQ(str(p.m().title), c.title) << c.metadata;
        EXPECT_EQ(str(p.m().author), c.author) << c.metadata;
        EXPECT_EQ(str(p.m().language), c.language) << c.metadata;
        EXPECT_EQ(p.m().series, nullptr) << c.metadata;
        EXPECT_EQ(p.m().asin, nullptr) << c.metadata;
    }
}

TEST(EpubReader, SeriesFormsCompeteByPosition) {
    const std::string calibre =
        "<meta name=\"calibre:series\" content=\"X\"/>"
        "<meta name=\"calibre:series_index\" content=\"2\"/>";
    const std::string collection =
        "<meta property=\"belongs-to-collection\" id=\"c\">Saga</meta>"
        "<meta refines=\"#c\" property=\"group-position\">7</meta>";
    struct Case {
        std::string metadata;
        const char *series, *index;
    } cases[] = {
        {calibre, "X", "2"},
        {collection, "Saga", "7"},
        {collection + calibre, "Saga", "7"},
        {calibre + collection, "X", "2"},
        // The fields are fixed separately, each by its first qualifying meta.
        {"<meta name=\"calibre:series_index\" content=\"1\"/>" + collection + calibre, "Saga", "1"},
        // Raw attribute against decoded element text.
        {"<meta name=\"calibre:series\" content=\"A &amp; B\"/>", "A &amp; B", "<null>"},
        {"<meta property=\"belongs-to-collection\"> A &amp; B </meta>", "A & B", "<null>"},
        // Empty calibre contents do not count; a self-closing collection does.
        {"<meta name=\"calibre:series\" content=\"\"/><meta property=\"belongs-to-collection\"/>"
         "<meta name=\"calibre:series\" content=\"late\"/>",
         "", "<null>"},
        // The first group-position anywhere, whatever collection it refines.
        {"<meta refines=\"#other\" property=\"group-position\">9</meta>" + collection, "Saga", "9"},
    };
    for (const Case &c : cases) {
        EpubDesc s;
        s.opf = opf(c.metadata);
        EpubBook p = parse(qtest::build_epub(s));
        EXPECT_EQ(p.rc, 0) << c.metadata;
        EXPECT_EQ(str(p.m().series), c.series) << c.metadata;
        EXPECT_EQ(str(p.m().series_index), c.index) << c.metadata;
    }
}

// Cover discovery, checked through the bytes that want_cover 1 extracts.
TEST(EpubReader, CoverIdAndCoverItemPasses) {
    const std::string jpg = qtest::tiny_jpeg(), png = qtest::tiny_png();
    const std::string page = "<html><body><img src=\"c.jpg\"/></body></html>";
    struct Case {
        const char *what;
        std::string metadata, manifest;
        std::string cover;  // expected bytes, or "<none>"
    } cases[] = {
        {"meta name=cover", "<meta name=\"cover\" content=\"c2\"/>",
         "<item id=\"c1\" href=\"a.jpg\" media-type=\"image/jpeg\"/>"
         "<item id=\"c2\" href=\"b.png\" media-type=\"image/png\"/>",
         png},
        {"cover-image property first in the manifest wins", "<meta name=\"cover\" content=\"c2\"/>",
         "<item id=\"c1\" href=\"a.jpg\" media-type=\"image/jpeg\" properties=\"svg cover-image\"/>"
         "<item id=\"c2\" href=\"b.png\" media-type=\"image/png\"/>",
         jpg},
        {"meta property=cover text", "<meta property=\"cover\"> c2 </meta>",
         "<item id=\"c1\" href=\"a.jpg\" media-type=\"image/jpeg\"/>"
         "<item id=\"c2\" href=\"b.png\" media-type=\"image/png\"/>",
         png},
        {"cover meta naming a page", "<meta name=\"cover\" content=\"p\"/>",
         "<item id=\"c1\" href=\"a.jpg\" media-type=\"image/jpeg\"/>"
         "<item id=\"p\" href=\"page.xhtml\" media-type=\"application/xhtml+xml\"/>",
         page},
        {"ids compared exactly", "<meta name=\"cover\" content=\"C2\"/>",
         "<item id=\"c0\" href=\"page.xhtml\" media-type=\"application/xhtml+xml\"/>"
         "<item id=\"c2\" href=\"b.png\" media-type=\"Image/png\"/>"
         "<opf:item id=\"o\" href=\"b.png\" media-type=\"image/png\"/>"
         "<item id=\"e\" href=\"\" media-type=\"image/png\"/>"
         "<item id=\"c1\" href=\"a.jpg\" media-type=\"image/jpeg\"/>",
         jpg},
        {"no image at all", "",
         "<item id=\"p\" href=\"page.xhtml\" media-type=\"application/xhtml+xml\"/>", "<none>"},
    };
    for (const Case &c : cases) {
        EpubDesc s;
        s.opf = opf(c.metadata, c.manifest);
        s.members = {zip_file("OEBPS/a.jpg", jpg), zip_file("OEBPS/b.png", png),
                     zip_file("OEBPS/page.xhtml", page)};
        EpubBook p = parse(qtest::build_epub(s), 1);
        EXPECT_EQ(p.rc, 0) << c.what;
        EXPECT_EQ(p.cover(), c.cover) << c.what;
        EXPECT_EQ(p.m().has_cover, c.cover != "<none>") << c.what;
    }
}

TEST(EpubReader, HrefResolution) {
    struct Case {
        const char *rootfile, *href, *member;
    } cases[] = {
        {"OEBPS/content.opf", "images/c.jpg", "OEBPS/images/c.jpg"},
        {"OEBPS/content.opf", "../images/c.jpg", "images/c.jpg"},
        {"OEBPS/content.opf", "./a/../b.png", "OEBPS/b.png"},
        {"OEBPS/content.opf", "/images/c.jpg", "images/c.jpg"},
        {"OEBPS/content.opf", "images/my%20cover.jpg", "OEBPS/images/my%20cover.jpg"},
        {"OEBPS/content.opf", "images//./c.jpg", "OEBPS/images/c.jpg"},
        {"OEBPS/content.opf", "IMAGES/C.JPG", "OEBPS/images/c.jpg"},
        {"content.opf", "../x.jpg", "x.jpg"},
        {"a/b/content.opf", "../../../x.jpg", "x.jpg"},
    };
    for (const Case &c : cases) {
        EpubDesc s;
        s.rootfile = c.rootfile;
        std::string bytes = qtest::tiny_jpeg() + c.member;
        s.items = {{"cov", c.href, "image/jpeg", "cover-image"}};
        s.members = {zip_file(c.member, bytes), zip_file("decoy.jpg", qtest::tiny_jpeg())};
        EpubBook p = parse(qtest::build_epub(s), 1);
        EXPECT_EQ(p.rc, 0) << c.href;
        EXPECT_EQ(p.cover(), bytes) << c.rootfile << " + " << c.href;
        EXPECT_EQ(p.error, "") << c.href;
    }

    // At most 64 segments are kept; the rest of the path is ignored.
    std::string deep;
    for (int i = 0; i < 63; ++i)
        deep += "d/";
    EpubDesc s;
    s.rootfile = "content.opf";
    s.items = {{"cov", deep + "c.jpg/../../ignored/x.jpg", "image/jpeg", "cover-image"}};
    s.members = {zip_file(deep + "c.jpg", qtest::tiny_jpeg())};
    EpubBook p = parse(qtest::build_epub(s), 1);
    EXPECT_EQ(p.cover(), qtest::tiny_jpeg());
}

TEST(EpubReader, CoverMediaTypeByContent) {
    struct Case {
        std::string bytes;
        const char *mime;
    } cases[] = {
        {qtest::tiny_jpeg(), "image/jpeg"},
        {"\xff\xd8\xff", "image/jpeg"},
        {"\xff\xd8", "application/octet-stream"},
        {qtest::tiny_png(), "image/png"},
        {std::string("\x89PNG\r\n\x1a", 7), "application/octet-stream"},
        {qtest::tiny_gif(), "application/octet-stream"},
    };
    for (const Case &c : cases) {
        EpubDesc s;
        s.cover = c.bytes;
        s.cover_media_type = "image/png";  // never consulted
        EpubBook p = parse(qtest::build_epub(s), 1);
        EXPECT_EQ(p.rc, 0);
        EXPECT_EQ(p.cover(), c.bytes);
        EXPECT_EQ(p.m().cover_len, c.bytes.size());
        EXPECT_STREQ(p.m().cover_mime, c.mime);
        EXPECT_EQ(p.m().has_cover, 1);
    }
}

TEST(EpubReader, WantCoverAndMissingCoverMember) {
    for (const char *omit : {"OEBPS/images/cover.jpg", ""}) {
        EpubDesc s;
        s.cover = qtest::tiny_jpeg();
        s.cover_by_properties = true;
        s.omit = {omit};
        const std::string book = qtest::build_epub(s);

        EpubBook named = parse(book, 0);
        EXPECT_EQ(named.rc, 0);
        EXPECT_EQ(named.m().has_cover, 1) << omit;  // named is enough
        EXPECT_EQ(named.m().cover_data, nullptr);
        EXPECT_STREQ(named.m().cover_mime, "");

        EpubBook loaded = parse(book, 1);
        EXPECT_EQ(loaded.rc, 0);
        EXPECT_EQ(loaded.m().has_cover, *omit ? 0 : 1) << omit;
        EXPECT_EQ(loaded.error, "") << omit;
        EXPECT_EQ(loaded.m().cover_data == nullptr, *omit != 0) << omit;
    }

    // An empty cover member counts as missing; so does a directory entry.
    for (const char *href : {"images/cover.jpg", ""}) {
        EpubDesc s;
        s.items = {{"cov", href, "image/jpeg", "cover-image"}};
        s.members = {zip_file("OEBPS/images/cover.jpg", ""), qtest::zip_dir("OEBPS/")};
        EpubBook p = parse(qtest::build_epub(s), 1);
        EXPECT_EQ(p.rc, 0) << href;
        EXPECT_EQ(p.m().has_cover, 0) << href;
        EXPECT_EQ(p.m().cover_data, nullptr) << href;
        EXPECT_EQ(p.error, "") << href;
    }
}

}  // namespace
