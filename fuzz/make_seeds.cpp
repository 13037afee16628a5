// make_seeds.cpp - writes the fuzz targets' seed corpora, made with the test
// builders: valid books of each family and the variants their readers
// branch on. Usage: make_seeds OUT_DIR (writes OUT_DIR/<target>/<seed>).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "book_builders.h"
#include "comic_seeds.h"
#include "fb2_builder.h"
#include "hostile_seeds.h"
#include "meta_seeds.h"
#include "pdf_seeds.h"
#include "seed_corpus.h"
#include "shelf.h"
#include "zip_builder.h"

namespace {

namespace fs = std::filesystem;
using qfuzz::Corpus;
using qtest::put_u16;
using qtest::put_u32;

// ---- MOBI ------------------------------------------------------------------

void mobi_seeds(Corpus &c) {
    using qtest::MobiDesc;
    auto book = [&](const std::string &name, const MobiDesc &s) {
        c.add(name, qtest::build_mobi(s));
    };
    MobiDesc plain;
    book("plain", plain);

    MobiDesc full;
    full.full_name = "Full Name";
    full.exth_records = {{100, "Ann Lee"}, {524, "en"}, {113, "B00ASIN"}, {504, "B00OTHER"}};
    full.images = {qtest::tiny_jpeg(), qtest::tiny_png()};
    full.cover_image = 0;
    book("cover-jpeg", full);
    full.cover_image = 1;
    book("cover-png", full);
    full.images = {qtest::tiny_gif()};
    full.cover_image = 0;
    book("cover-gif", full);
    full.cover_image = 5;
    book("cover-past-end", full);

    MobiDesc order;
    order.exth_records = {{503, "Updated"},
                          {100, "Author"},
                          {101, "Publisher"},
                          {524, "fr"},
                          {201, std::string("\0\0\0\1", 4)},
                          {201, std::string("\0\0\0\0", 4)}};
    order.images = {qtest::tiny_jpeg(), qtest::tiny_jpeg()};
    book("exth-order", order);

    MobiDesc kf8;
    kf8.mobi_type = 248;
    book("kf8-type", kf8);
    kf8.mobi_type = 2;
    kf8.file_version = 8;
    book("kf8-version", kf8);

    for (std::uint16_t enc : {1, 2}) {
        MobiDesc drm;
        drm.encryption = enc;
        book("drm-" + std::to_string(enc), drm);
    }
    MobiDesc palmdoc;
    palmdoc.mobi_header = false;
    palmdoc.palm_name = "Only_PalmDOC";
    book("palmdoc", palmdoc);

    MobiDesc noexth;
    noexth.exth = false;
    book("no-exth", noexth);
    MobiDesc shortlen;
    shortlen.header_len = 4;
    book("header-len-4", shortlen);
    for (std::size_t size : {16u, 19u, 20u, 39u, 40u, 99u, 100u, 127u, 128u, 143u, 144u}) {
        MobiDesc cut = full;
        cut.record0_size = size;
        book("record0-" + std::to_string(size), cut);
    }
    MobiDesc blank;
    blank.full_name = "    ";
    blank.palm_name = std::string("Ab   \0", 6);
    book("blank-name", blank);

    // Damaged PalmDB headers and record lists.
    std::string base = qtest::build_mobi(plain);
    c.add("short-77", base.substr(0, 77));
    std::string none = base.substr(0, 78);
    put_u16(none, 76, 0);
    c.add("no-records", none);
    std::string trunc = base.substr(0, 85);
    put_u16(trunc, 76, 2);
    c.add("list-truncated", trunc);
    std::string bad0 = base;
    put_u32(bad0, 78, 0x7FFFFFFF);
    c.add("record0-offset", bad0);
    std::string back = base;
    put_u32(back, 86, 10);
    c.add("record1-before-0", back);
}

// ---- FB2 -------------------------------------------------------------------

void fb2_seeds(Corpus &c) {
    using qtest::Fb2Desc;
    auto book = [&](const std::string &name, const Fb2Desc &s) {
        c.add(name, qtest::build_fb2(s));
    };
    Fb2Desc plain;
    book("plain", plain);

    Fb2Desc full;
    full.title = "War &amp; Peace &#x41;&#66;";
    full.authors = {{"Lev", "Nikolayevich", "Tolstoy", "leo"}, {"Second", "", "Author", ""}};
    full.series = "Big &amp; Books";
    full.series_number = "12";
    full.cover_href = "#cover.jpg";
    full.binaries = {{"other", "", "xx"}, {"cover.jpg", "image/jpeg", qtest::tiny_jpeg()}};
    book("full", full);
    for (const char *attr : {"xlink:href", "href"}) {
        Fb2Desc s = full;
        s.cover_href_attr = attr;
        s.cover_href = "cover.jpg";
        s.binaries = {{"cover.jpg", "", qtest::tiny_png()}};
        book(std::string("cover-") + attr, s);
    }
    Fb2Desc nick;
    nick.authors = {{"", "", "", "nick"}};
    nick.encoding = "";
    book("nickname", nick);
    Fb2Desc upper;
    upper.section = "Title-info";
    upper.series = "Anywhere";
    book("Title-info", upper);
    Fb2Desc open = full;
    open.close_section = false;
    book("unclosed", open);
    Fb2Desc nosection;
    nosection.section = "";
    nosection.extra_description = "<sequence name=\"S\" number=\"1\"/>";
    book("no-section", nosection);
    Fb2Desc drm;
    drm.body = "<encrypted/>";
    book("encrypted", drm);
    Fb2Desc drm2;
    drm2.extra_description = "<FictionBookEncryption/>";
    book("encryption-ns", drm2);
    Fb2Desc lower;
    lower.root = "fictionbook";
    lower.encoding = "windows-1251";
    lower.title = "\xc2\xee\xe9\xed\xe0";
    book("cp1251", lower);
    Fb2Desc empty_cover = full;
    empty_cover.binaries = {{"cover.jpg", "image/jpeg", ""}};
    book("empty-binary", empty_cover);
    c.add("nested",
          "<FictionBook><description><title-info><title-info></title-info>"
          "<author><first-name>A</first-name><author/></author><book-title/>"
          "<coverpage><image l:href='#x'/></coverpage></title-info></description>"
          "<binary id=\"x\">TWFu=TWFu</binary></FictionBook>");
}

// ---- EPUB ------------------------------------------------------------------

// The same book with every member stored, so that mutations reach the XML.
std::string stored_epub(const qtest::EpubDesc &desc) {
    const std::string dir = qtest::epub_package_dir(desc);
    std::vector<qtest::ZipEntry> e = {
        qtest::zip_file("mimetype", "application/epub+zip", false),
        qtest::zip_file("META-INF/container.xml", qtest::build_container_xml(desc), false),
        qtest::zip_file(desc.rootfile, qtest::build_opf(desc), false)};
    if (!desc.cover.empty()) e.push_back(qtest::zip_file(dir + desc.cover_href, desc.cover, false));
    if (desc.encryption) e.push_back(qtest::zip_file("META-INF/encryption.xml", "<e/>", false));
    for (const qtest::ZipEntry &m : desc.members)
        e.push_back(m);
    return qtest::build_zip(e);
}

std::vector<std::pair<std::string, qtest::EpubDesc>> epub_books() {
    using qtest::EpubDesc;
    std::vector<std::pair<std::string, EpubDesc>> v;
    EpubDesc plain;
    v.push_back({"plain", plain});

    EpubDesc calibre;
    calibre.title = "A &amp; B";
    calibre.calibre_series = "Series &amp; Co";
    calibre.calibre_index = "1.5";
    calibre.cover = qtest::tiny_jpeg();
    v.push_back({"calibre-cover", calibre});

    EpubDesc epub3;
    epub3.collection = "Collection";
    epub3.group_position = "2";
    epub3.cover = qtest::tiny_png();
    epub3.cover_by_properties = true;
    epub3.cover_href = "../images/c.png";
    v.push_back({"epub3-properties", epub3});

    EpubDesc flat;
    flat.rootfile = "content.opf";
    flat.cover = qtest::tiny_gif();
    flat.cover_href = "./a/../c.gif";
    v.push_back({"flat", flat});

    EpubDesc absolute;
    absolute.cover = qtest::tiny_jpeg();
    absolute.cover_href = "/OEBPS/images/cover.jpg";
    v.push_back({"absolute-href", absolute});

    EpubDesc fallback;
    fallback.opf =
        "<package><metadata><title>T</title><creator>C</creator><language>l</language>"
        "<meta property=\"cover\">img</meta><meta property=\"belongs-to-collection\"/>"
        "<meta name='calibre:series' content='S'/></metadata><manifest>"
        "<opf:item id=\"x\" href=\"x.png\" media-type=\"image/png\"/>"
        "<item id=\"img\" href=\"\" media-type=\"image/jpeg\"/>"
        "<item id=\"p\" href=\"p.jpg\" media-type=\"image/jpeg\"/></manifest></package>";
    v.push_back({"fallbacks", fallback});

    EpubDesc drm;
    drm.encryption = true;
    v.push_back({"encryption", drm});

    EpubDesc nocontainer;
    nocontainer.omit = {"META-INF/container.xml"};
    v.push_back({"no-container", nocontainer});
    EpubDesc norootfile;
    norootfile.container = "<container><rootfiles/></container>";
    v.push_back({"no-rootfile", norootfile});
    EpubDesc nopath;
    nopath.container = "<container><rootfile full-path=\"\"/></container>";
    v.push_back({"empty-full-path", nopath});
    EpubDesc noopf;
    noopf.container = "<container><rootfile full-path='./OEBPS/content.opf'></container>";
    v.push_back({"missing-opf", noopf});
    return v;
}

void epub_seeds(Corpus &c) {
    for (const auto &[name, desc] : epub_books()) {
        c.add(name, qtest::build_epub(desc));
        c.add(name + "-stored", stored_epub(desc));
    }
}

// ---- ZIP -------------------------------------------------------------------

void zip_seeds(Corpus &c) {
    using qtest::zip_dir;
    using qtest::zip_file;
    c.add("empty-archive", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    c.add("members",
          qtest::build_zip({zip_file("mimetype", "application/epub+zip", false), zip_dir("OEBPS/"),
                            zip_file("OEBPS/empty", ""), zip_file("META-INF/Container.XML", "<x/>"),
                            zip_file("META-INF/encryption.xml", "<e/>", false)}));
    std::string lying = qtest::build_zip({zip_file("mimetype", "application/epub+zip", false)});
    c.add("size-lie", qtest::patch_member_header(lying, "mimetype", 0x7FFFFFFF, 0));
    c.add("crc-lie", qtest::patch_member_header(lying, "mimetype", 20, 1234));
    qtest::EpubDesc plain;
    plain.cover = qtest::tiny_jpeg();
    c.add("epub", stored_epub(plain));
}

// The other forms an archive's end may take, each over a book whose
// members are stored so that mutations reach the markup behind them: ZIP64
// records, a comment (one holding an end-record signature), bytes before the
// archive, a directory cut short, the old unknown count.
void zip_form_seeds(Corpus &c) {
    qtest::EpubDesc desc;
    desc.cover = qtest::tiny_jpeg();
    const std::string book = stored_epub(desc);
    std::string cut = book;
    cut.erase(qtest::zip_end_at(book) - 60, 20);
    c.add("form-zip64", qtest::zip64_form(book));
    c.add("form-comment", qtest::zip_with_comment(book, "PK\x05\x06 in a comment"));
    c.add("form-stub-zip64", "#!/bin/sh\n" + qtest::zip64_form(book));
    c.add("form-stub", std::string(300, '\x7f') + book);
    c.add("form-directory-cut", cut);
    c.add("form-unknown-count", qtest::zip_repeat_entries(book, 2, 0xFFFF));
}

// ---- tag scanner -----------------------------------------------------------

void text_seeds(Corpus &c) {
    auto seed = [&](const std::string &name, const std::string &text) {
        c.add(name, name + std::string(1, '\0') + text);
    };
    seed("dc:title", "<dc:title> A &amp; B &#x41;&#66;&#X20AC;&#x1F600;&#0; </dc:title>");
    seed("a", "<a>x<a/>y</a><a><a>x</a></a></a ><a></a/>");
    seed("id", "<item xml:id=\"x\" id=\"y\" id='z' href=\"h>");
    seed("content", "<meta content='v' name = \"n\"/>");
    seed("t", "<t/><t></t><t> \r\n\t</t><t>&nbsp;&AMP;AT&T&#1234567890123456;</t>");
    seed("meta", "<metadata><meta><meta name=\"x\"/><!--meta--><?meta?></meta");
    seed("title", "<title-info><title>x</title></title-info><title");
    c.add("b64", "TWFu\nTWE=TQ==T");
}

// ---- rename plan -----------------------------------------------------------

void rename_seeds(Corpus &c) {
    auto seed = [&](const std::string &name, const std::string &pattern, const std::string &json) {
        c.add(name, pattern + std::string(1, '\0') + json);
    };
    seed("default", "",
         R"(["sea.epub","SEA-COPY.EPUB","tales.fb2",{"path":"/books/x/found.epub",)"
         R"("author":"Jane Roe","title":"Found: A Story?","series":"Lost Things","idx":"2"},)"
         R"(42,{"title":"Notes"},"missing.epub"])");
    seed("books", "{series} {series_index} {idx} {title} {author}",
         R"(["deep.mobi","deep.azw3","drm.azw","palmdoc.mobi","cafe.mobi","locked.epub",)"
         R"("sealed.fb2","broken.epub","empty.fb2","notes.txt",""])");
    seed("clashes", "{title}",
         R"j([{"title":"X"},{"title":"X"},{"title":"X (2)"},{"title":"X","ext":".EPUB"},)j"
         R"({"path":"a\\b\\c.fb2","series_index":7,"idx":"3"},null,true,[],{}])");
    seed("long", "{author}{author}{author}{author}",
         R"([{"author":")" + std::string(300, 'a') + R"(","path":")" + std::string(600, 'p') +
             R"(.epub"}])");
    c.add("no-pattern", R"([{"title":"caf\u00e9 / \"x\" <y>"},{"title":"e\u0301\u202e\u009b"}])");
    seed("bad-json", "{title}", "[1,]");
    seed("object", "", "{\"path\":\"x\"}");
    seed("hostile-ext", "{title}",
         R"([{"path":"dir/book","ext":"/../../etc/x","title":"T"},{"path":"d/x.a\\b"},)"
         R"({"ext":".x\u001b[2J"},"b.e\u0001pub"])");
}

// Package documents and FictionBooks, alone (every field set) and after a request.
void write_seeds(Corpus &c) {
    qtest::EpubDesc d3;
    d3.collection = "Saga";
    d3.group_position = "2";
    d3.cover = "x";
    d3.cover_by_properties = true;
    const std::string opf2 = qtest::build_opf(qtest::EpubDesc{}), opf3 = qtest::build_opf(d3);
    c.add("opf2", opf2);
    c.add("opf3", opf3);
    c.add("opf3-clear", R"({"authors":null,"series":[],"subjects":"","identifiers":null})"
                        "\n--\n" +
                            opf3);
    c.add("opf2-isbn", R"({"isbn":"0-306-40615-2","identifiers":[{"scheme":"uuid","value":"u"}]})"
                       "\n--\n" +
                           opf2);
    qtest::Fb2Desc f;
    f.series = "S";
    f.series_number = "1";
    f.cover_href = "#c.jpg";
    f.binaries = {{"c.jpg", "image/jpeg", qtest::tiny_jpeg()}};
    c.add("fb2", qtest::build_fb2(f));
    f.encoding = "koi8-r";
    c.add("fb2-koi8", R"({"title":"Ночь","description":"a"})"
                      "\n--\n" +
                          qtest::build_fb2(f));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    Corpus mobi(root, "fuzz_mobi"), fb2(root, "fuzz_fb2"), epub(root, "fuzz_epub"),
        zip(root, "fuzz_zip"), text(root, "fuzz_text"), rename(root, "fuzz_rename"),
        meta_epub(root, "fuzz_meta_epub"), meta_fb2(root, "fuzz_meta_fb2"),
        meta_mobi(root, "fuzz_meta_mobi"), meta_comic(root, "fuzz_meta_comic"),
        meta_pdf(root, "fuzz_meta_pdf"), write(root, "fuzz_write"),
        write_binary(root, "fuzz_write_binary");
    mobi_seeds(mobi);
    fb2_seeds(fb2);
    epub_seeds(epub);
    epub_seeds(zip);
    zip_seeds(zip);
    zip_form_seeds(zip);
    text_seeds(text);
    rename_seeds(rename);
    write_seeds(write);
    qfuzz::hostile_seeds(epub, fb2, zip, text);
    // The full record's targets start from the same books, the hostile ones
    // included, and their own.
    qfuzz::hostile_book_seeds(meta_epub, meta_fb2);
    qfuzz::full_record_hostile_seeds(meta_epub, meta_fb2, meta_mobi);
    epub_seeds(meta_epub);
    zip_form_seeds(meta_epub);
    fb2_seeds(meta_fb2);
    mobi_seeds(meta_mobi);
    qfuzz::meta_epub_seeds(
        [&](const std::string &n, const std::string &b) { meta_epub.add(n, b); });
    qfuzz::meta_fb2_seeds([&](const std::string &n, const std::string &b) { meta_fb2.add(n, b); });
    qfuzz::meta_mobi_seeds(
        [&](const std::string &n, const std::string &b) { meta_mobi.add(n, b); });
    qfuzz::comic_seeds([&](const std::string &n, const std::string &b) { meta_comic.add(n, b); });
    qfuzz::meta_pdf_seeds([&](const std::string &n, const std::string &b) { meta_pdf.add(n, b); });
    // The binary writers' target: a first byte picking the writer, then the book.
    qfuzz::meta_pdf_seeds([&](const std::string &n, const std::string &b) {
        write_binary.add(n, std::string(1, '\1') + b);
    });
    qfuzz::meta_mobi_seeds([&](const std::string &n, const std::string &b) {
        write_binary.add(n, std::string(1, '\0') + b);
    });
    // Every book of the planner's shelf is a seed of its reader as well.
    for (const qtest::ShelfBook &b : qtest::shelf_books()) {
        const std::string ext = fs::path(b.name).extension().string();
        if (ext == ".epub") epub.add("shelf-" + b.name, b.bytes);
        if (ext == ".fb2") fb2.add("shelf-" + b.name, b.bytes);
        if (ext == ".mobi" || ext == ".azw3" || ext == ".azw") mobi.add("shelf-" + b.name, b.bytes);
    }
    for (const Corpus *c : {&mobi, &fb2, &epub, &zip, &text, &rename, &meta_epub, &meta_fb2,
                            &meta_mobi, &meta_comic, &meta_pdf, &write, &write_binary})
        std::printf("%s: %d seeds\n", c->dir.string().c_str(), c->count);
    return 0;
}
