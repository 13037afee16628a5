// bench_books.cpp - seeded makers of realistic books for the benchmarks and the comparison library.
#include "bench_books.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "book_builders.h"
#include "fb2_builder.h"
#include "text/xml_expat.h"
#include "zip_builder.h"

namespace qbench {

std::uint64_t Rng::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::size_t Rng::range(std::size_t lo, std::size_t hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<std::size_t>(next() % (hi - lo + 1));
}

std::size_t Rng::log_range(std::size_t lo, std::size_t hi) {
    if (hi <= lo || lo == 0) return lo;
    double u = static_cast<double>(next() >> 11) / 9007199254740992.0;  // [0, 1)
    double v =
        std::exp(std::log(static_cast<double>(lo)) +
                 u * (std::log(static_cast<double>(hi)) - std::log(static_cast<double>(lo))));
    return static_cast<std::size_t>(v);
}

bool Rng::chance(double p) {
    return static_cast<double>(next() >> 11) / 9007199254740992.0 < p;
}

namespace {

const char *const kWords[] = {
    "the",    "of",      "and",        "to",      "a",       "in",      "was",     "he",
    "that",   "it",      "his",        "her",     "with",    "as",      "had",     "for",
    "she",    "not",     "at",         "on",      "but",     "you",     "be",      "they",
    "him",    "by",      "all",        "said",    "from",    "this",    "have",    "were",
    "one",    "which",   "there",      "would",   "what",    "an",      "been",    "their",
    "out",    "when",    "up",         "into",    "no",      "could",   "them",    "more",
    "very",   "some",    "little",     "old",     "man",     "time",    "upon",    "before",
    "house",  "long",    "down",       "know",    "like",    "never",   "shore",   "harbour",
    "lamp",   "night",   "window",     "water",   "letter",  "morning", "voice",   "garden",
    "door",   "ship",    "silence",    "winter",  "road",    "wind",    "answer",  "evening",
    "street", "quietly", "again",      "through", "himself", "herself", "perhaps", "nothing",
    "across", "towards", "remembered", "looked",  "turned",  "thought", "almost",  "another",
    "stood"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

const char *const kFirst[] = {"Ann",  "Tom",   "Jane",  "Peter",  "Mary",  "Hélène", "Jonas",
                              "Iris", "Oskar", "Clara", "Samuel", "Nadia", "Lars",   "Ruth",
                              "Emil", "Agnes", "Pavel", "Marta",  "Felix", "Zoë"};
const char *const kLast[] = {"Lee",     "Bell",    "Roe",    "Marchand",  "Holm",  "Fischer",
                             "Novak",   "Brennan", "Okafor", "Lindqvist", "Weber", "Santos",
                             "Ivanova", "Moreau",  "Keller", "Dunmore",   "Aalto", "Quinn"};
const char *const kTitleWords[] = {
    "Quiet", "Sea",   "Harbour", "Lost",    "Things",  "Winter", "Garden", "Letters", "Lamp",
    "Night", "Road",  "North",   "Glass",   "Orchard", "Silent", "River",  "House",   "Stone",
    "Salt",  "Light", "Tales",   "Shadows", "Return",  "Island", "Bells",  "Summer",  "Ashes"};

template <std::size_t N>
const char *pick(Rng &rng, const char *const (&list)[N]) {
    return list[rng.next() % N];
}

std::string title_of(Rng &rng) {
    std::string t = rng.chance(0.5) ? "The " : "";
    t += pick(rng, kTitleWords);
    if (rng.chance(0.6)) {
        t += rng.chance(0.5) ? " of the " : " and ";
        t += pick(rng, kTitleWords);
    }
    return t;
}

// Text and attribute values as the reader's own replay escapes them.
std::string xml_escape(const std::string &s) {
    return eb_xml::attr_escape(s);
}

void fill_random(Rng &rng, char *p, std::size_t n) {
    while (n >= 8) {
        std::uint64_t v = rng.next();
        std::memcpy(p, &v, 8);
        p += 8;
        n -= 8;
    }
    if (n) {
        std::uint64_t v = rng.next();
        std::memcpy(p, &v, n);
    }
}

// Splits total bytes into pieces of about piece bytes each (at least one
// piece when total is not 0).
std::vector<std::size_t> split(Rng &rng, std::size_t total, std::size_t piece) {
    std::vector<std::size_t> out;
    while (total > 0) {
        std::size_t n = std::min(total, rng.range(piece / 2, piece * 3 / 2));
        if (total - n < 64) n = total;
        out.push_back(n);
        total -= n;
    }
    return out;
}

std::string chapter_xhtml(Rng &rng, int no, std::size_t n) {
    std::string head =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Chapter " +
        std::to_string(no) +
        "</title><link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/></head>\n<body>"
        "<h2>Chapter " +
        std::to_string(no) + "</h2>\n";
    std::string body = prose(rng, n > head.size() ? n - head.size() : 64);
    return head + body + "</body></html>\n";
}

}  // namespace

Meta random_meta(Rng &rng) {
    Meta m;
    m.title = title_of(rng);
    m.author_first = pick(rng, kFirst);
    m.author_last = pick(rng, kLast);
    static const char *const langs[] = {"en", "en", "en", "fr", "de", "nl", "sv", "ru"};
    m.language = pick(rng, langs);
    if (rng.chance(0.3)) {
        m.series = "The " + std::string(pick(rng, kTitleWords)) + " Cycle";
        m.series_index = std::to_string(rng.range(1, 9));
    }
    return m;
}

std::string prose(Rng &rng, std::size_t n) {
    std::string out;
    out.reserve(n + 256);
    while (out.size() < n) {
        out += "<p>";
        std::size_t sentences = rng.range(2, 7);
        for (std::size_t s = 0; s < sentences; ++s) {
            std::size_t words = rng.range(5, 22);
            for (std::size_t w = 0; w < words; ++w) {
                const char *word = kWords[rng.next() % kWordCount];
                if (w == 0) {
                    out += static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
                    out += word + 1;
                } else {
                    out += ' ';
                    out += word;
                }
                if (w + 1 < words && rng.chance(0.08)) out += ',';
            }
            out += rng.chance(0.1) ? "? " : ". ";
        }
        out.back() = '<';
        out += "/p>\n";
    }
    return out;
}

std::string fake_jpeg(Rng &rng, std::size_t n) {
    static const char head[] =
        "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x48\x00\x48\x00\x00";
    constexpr std::size_t head_len = sizeof head - 1;
    if (n < head_len + 2) n = head_len + 2;
    std::string out(n, '\0');
    std::memcpy(out.data(), head, head_len);
    fill_random(rng, out.data() + head_len, n - head_len - 2);
    out[n - 2] = '\xFF';
    out[n - 1] = '\xD9';
    return out;
}

std::string make_epub(Rng &rng, const Meta &m, const EpubShape &shape) {
    qtest::EpubDesc desc;
    desc.rootfile = "OEBPS/content.opf";
    std::vector<qtest::ZipEntry> members;
    std::string manifest, spine;
    auto item = [&](const std::string &id, const std::string &href, const std::string &type,
                    const std::string &props = "") {
        manifest += "    <item id=\"" + id + "\" href=\"" + href + "\" media-type=\"" + type + "\"";
        if (!props.empty()) manifest += " properties=\"" + props + "\"";
        manifest += "/>\n";
    };

    if (shape.cover_bytes) {
        item("cover-image", "images/cover.jpg", "image/jpeg");
        desc.cover = fake_jpeg(rng, shape.cover_bytes);
        desc.cover_href = "images/cover.jpg";
        item("titlepage", "titlepage.xhtml", "application/xhtml+xml");
        members.push_back(qtest::zip_file(
            "OEBPS/titlepage.xhtml",
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html "
            "xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Cover</title></head><body>"
            "<div><img src=\"images/cover.jpg\" alt=\"cover\"/></div></body></html>\n"));
        spine += "    <itemref idref=\"titlepage\"/>\n";
    }
    item("ncx", "toc.ncx", "application/x-dtbncx+xml");
    item("css", "style.css", "text/css");
    members.push_back(qtest::zip_file("OEBPS/style.css",
                                      "body { margin: 0 5%; text-align: justify; }\n"
                                      "h2 { text-align: center; page-break-before: always; }\n"
                                      "p { text-indent: 1.2em; margin: 0; }\n"));

    std::string navpoints;
    int no = 0;
    for (std::size_t piece : split(rng, shape.text_bytes, 24 * 1024)) {
        ++no;
        std::string id = "ch" + std::to_string(no);
        std::string href = "text/chapter" + std::to_string(no) + ".xhtml";
        item(id, href, "application/xhtml+xml");
        spine += "    <itemref idref=\"" + id + "\"/>\n";
        members.push_back(qtest::zip_file("OEBPS/" + href, chapter_xhtml(rng, no, piece)));
        navpoints += "<navPoint id=\"np" + std::to_string(no) + "\" playOrder=\"" +
                     std::to_string(no) + "\"><navLabel><text>Chapter " + std::to_string(no) +
                     "</text></navLabel><content src=\"" + href + "\"/></navPoint>\n";
    }
    int pic = 0;
    for (std::size_t piece : split(rng, shape.image_bytes, 250 * 1024)) {
        ++pic;
        std::string href = "images/plate" + std::to_string(pic) + ".jpg";
        item("img" + std::to_string(pic), href, "image/jpeg");
        // Pictures are stored as they are: deflate gains nothing on JPEG data.
        members.push_back(qtest::zip_file("OEBPS/" + href, fake_jpeg(rng, piece), false));
    }
    for (std::size_t i = 0; i < shape.manifest_padding; ++i)
        item("page" + std::to_string(i), "pages/page" + std::to_string(i) + ".xhtml",
             "application/xhtml+xml");
    members.push_back(
        qtest::zip_file("OEBPS/toc.ncx",
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ncx "
                        "xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" version=\"2005-1\">"
                        "<head/><docTitle><text>" +
                            xml_escape(m.title) + "</text></docTitle><navMap>\n" + navpoints +
                            "</navMap></ncx>\n"));

    std::string s =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\" "
        "unique-identifier=\"uuid_id\">\n"
        "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:opf=\"http://www.idpf.org/2007/opf\">\n";
    s += "    <dc:title>" + xml_escape(m.title) + "</dc:title>\n";
    s += "    <dc:creator opf:role=\"aut\" opf:file-as=\"" + xml_escape(m.author_last) + ", " +
         xml_escape(m.author_first) + "\">" + xml_escape(m.author_first + " " + m.author_last) +
         "</dc:creator>\n";
    s += "    <dc:language>" + m.language + "</dc:language>\n";
    s += "    <dc:identifier id=\"uuid_id\" opf:scheme=\"uuid\">urn:uuid:" +
         std::to_string(rng.next()) + "</dc:identifier>\n";
    s += "    <dc:publisher>Harbour Press</dc:publisher>\n    <dc:date>2019-0" +
         std::to_string(rng.range(1, 9)) + "-1" + std::to_string(rng.range(0, 9)) +
         "</dc:date>\n    <dc:subject>Fiction</dc:subject>\n";
    s += "    <dc:description>" + prose(rng, 400) + "</dc:description>\n";
    if (!m.series.empty()) {
        s += "    <meta name=\"calibre:series\" content=\"" + xml_escape(m.series) + "\"/>\n";
        s += "    <meta name=\"calibre:series_index\" content=\"" + m.series_index + "\"/>\n";
    }
    s += "    <meta name=\"calibre:timestamp\" content=\"2020-01-01T00:00:00+00:00\"/>\n";
    if (shape.cover_bytes) s += "    <meta name=\"cover\" content=\"cover-image\"/>\n";
    s += "  </metadata>\n  <manifest>\n" + manifest + "  </manifest>\n  <spine toc=\"ncx\">\n" +
         spine + "  </spine>\n";
    if (shape.cover_bytes)
        s += "  <guide>\n    <reference type=\"cover\" title=\"Cover\" "
             "href=\"titlepage.xhtml\"/>\n  </guide>\n";
    s += "</package>\n";
    desc.opf = std::move(s);
    desc.members = std::move(members);
    desc.encryption = shape.encrypted;
    return qtest::build_epub(desc);
}

std::string make_fb2(Rng &rng, const Meta &m, const Fb2Shape &shape) {
    qtest::Fb2Desc desc;
    desc.title = xml_escape(m.title);
    desc.authors = {{m.author_first, "", m.author_last, ""}};
    desc.lang = m.language;
    desc.series = xml_escape(m.series);
    desc.series_number = m.series_index;
    desc.extra_description =
        "<document-info><author><nickname>scanner</nickname></author>"
        "<program-used>FictionBook Editor 2.6</program-used><date>2020</date>"
        "<id>" +
        std::to_string(rng.next()) + "</id><version>1.0</version></document-info>\n";
    std::string body;
    int no = 0;
    for (std::size_t piece : split(rng, shape.text_bytes, 30 * 1024)) {
        ++no;
        body += "<section><title><p>Chapter " + std::to_string(no) + "</p></title>\n" +
                prose(rng, piece) + "</section>\n";
    }
    desc.body = std::move(body);
    if (shape.cover_bytes) {
        desc.cover_href = "#cover.jpg";
        desc.binaries.push_back({"cover.jpg", "image/jpeg", fake_jpeg(rng, shape.cover_bytes)});
    }
    int pic = 0;
    for (std::size_t piece : split(rng, shape.image_bytes, 150 * 1024)) {
        ++pic;
        desc.binaries.push_back(
            {"img" + std::to_string(pic) + ".jpg", "image/jpeg", fake_jpeg(rng, piece)});
    }
    return qtest::build_fb2(desc);
}

std::string make_mobi(Rng &rng, const Meta &m, const MobiShape &shape) {
    qtest::MobiDesc desc;
    std::string palm = m.title.substr(0, 31);
    for (char &c : palm)
        if (c == ' ') c = '_';
    desc.palm_name = palm;
    desc.full_name = m.title;
    desc.encryption = shape.encryption;
    desc.mobi_type = shape.kf8 ? 248 : 2;
    desc.file_version = shape.kf8 ? 8 : 6;
    desc.exth_records = {{100, m.author_first + " " + m.author_last},
                         {101, "Harbour Press"},
                         {103, prose(rng, 300)},
                         {524, m.language}};
    if (!m.asin.empty()) desc.exth_records.push_back({113, m.asin});

    std::vector<std::string> images;
    if (shape.cover_bytes) {
        images.push_back(fake_jpeg(rng, shape.cover_bytes));
        desc.cover_image = 0;
    }
    for (std::size_t piece : split(rng, shape.image_bytes, 120 * 1024))
        images.push_back(fake_jpeg(rng, piece));
    desc.images = images;  // only its emptiness matters to record 0

    // Text in 4096-byte records, as Mobipocket writers lay it out.
    std::string text = prose(rng, shape.text_bytes ? shape.text_bytes : 1);
    std::vector<std::string> records;
    records.push_back(qtest::build_mobi_record0(desc));
    for (std::size_t at = 0; at < text.size(); at += 4096)
        records.push_back(text.substr(at, 4096));
    const std::size_t text_records = records.size() - 1;
    std::string &r0 = records[0];
    qtest::put_u32(r0, 4, static_cast<std::uint32_t>(text.size()));
    qtest::put_u16(r0, 8, static_cast<std::uint16_t>(text_records));
    if (!images.empty() && r0.size() >= 16 + 96)
        qtest::put_u32(r0, 16 + 92, static_cast<std::uint32_t>(text_records + 1));
    for (std::string &img : images)
        records.push_back(std::move(img));
    return qtest::build_palmdb(desc.palm_name, records);
}

std::string package_document(Rng &rng, const Meta &m, std::size_t n) {
    std::string s =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
        "unique-identifier=\"uid\">\n"
        "  <metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
        "    <dc:identifier id=\"uid\">urn:uuid:" +
        std::to_string(rng.next()) + "</dc:identifier>\n    <dc:title>" + xml_escape(m.title) +
        "</dc:title>\n    <dc:creator>" + xml_escape(m.author_first + " " + m.author_last) +
        "</dc:creator>\n    <dc:language>" + m.language + "</dc:language>\n    <dc:description>" +
        prose(rng, 2000) +
        "</dc:description>\n"
        "    <meta property=\"belongs-to-collection\" id=\"c01\">The Long Road</meta>\n"
        "    <meta refines=\"#c01\" property=\"group-position\">3</meta>\n"
        "  </metadata>\n  <manifest>\n";
    std::string spine;
    for (std::size_t i = 0; s.size() + spine.size() + 64 < n; ++i) {
        std::string id = "p";  // (built in two steps: GCC 12 warns falsely on "p" + string)
        id += std::to_string(i);
        s += "    <item id=\"" + id + "\" href=\"text/part" + std::to_string(i) +
             ".xhtml\" media-type=\"application/xhtml+xml\"/>\n";
        spine += "    <itemref idref=\"" + id + "\"/>\n";
    }
    s += "    <item id=\"cover\" href=\"images/cover.jpg\" media-type=\"image/jpeg\" "
         "properties=\"cover-image\"/>\n  </manifest>\n  <spine>\n" +
         spine + "  </spine>\n</package>\n";
    return s;
}

}  // namespace qbench
