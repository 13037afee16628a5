// hostile_books.cpp - nested, unclosed and far-inflating books built in memory or streamed.

#include "hostile_books.h"

#include "book_builders.h"
#include "zip_builder.h"

namespace qtest {

namespace {
const char kContainer[] =
    "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
    "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
    "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
    "</rootfiles></container>\n";

const char kPackageHead[] =
    "<?xml version=\"1.0\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\">"
    "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>Hostile</dc:title>";

std::string repeated(const std::string &piece, std::size_t count) {
    std::string s;
    s.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        s += piece;
    return s;
}
}  // namespace

std::string nested_creators_opf(std::size_t count) {
    return kPackageHead + std::string("<dc:creator>") + repeated("<dc:creator ", count);
}

std::string unclosed_metas_opf(std::size_t count, const std::string &property) {
    return kPackageHead + repeated("<meta property=\"" + property + "\">", count);
}

std::string epub_around_opf(const std::string &opf) {
    return build_zip({zip_file("mimetype", "application/epub+zip", false),
                      zip_file("META-INF/container.xml", kContainer),
                      zip_file("OEBPS/content.opf", opf)});
}

std::string nested_title_info_fb2(std::size_t count) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<FictionBook><description><title-info>" +
           repeated("<title-info ", count);
}

void write_inflating_epub(const std::string &path, std::uint64_t size) {
    write_zero_zip(path, "OEBPS/content.opf", size,
                   {zip_file("mimetype", "application/epub+zip", false),
                    zip_file("META-INF/container.xml", kContainer)});
}

// ---- round two --------------------------------------------------------------

std::string fb2_title_info(const std::string &inner, const std::string &encoding) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding +
           "\"?>\n<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
           "xmlns:l=\"http://www.w3.org/1999/xlink\"><description><title-info>"
           "<book-title>Hostile</book-title>" +
           inner + "</title-info></description><body><p>x</p></body></FictionBook>";
}

std::string many_genres_fb2(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i)
        s += "<genre>g" + std::to_string(i) + "</genre>";
    return fb2_title_info(s);
}

std::string many_keywords_fb2(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i)
        s += (i % 1000 == 0 ? (i ? "</keywords><keywords>k" : "<keywords>k") : ", k") +
             std::to_string(i);
    return fb2_title_info(s + "</keywords>");
}

std::string many_sequences_fb2(std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i)
        s += "<sequence name=\"s" + std::to_string(i) + "\" number=\"1\"/>";
    return fb2_title_info(s);
}

std::string many_exth_mobi(std::uint32_t type, std::size_t count) {
    MobiDesc d;
    d.full_name = "Hostile";
    for (std::size_t i = 0; i < count; ++i)
        d.exth_records.push_back({type, "v" + std::to_string(i)});
    return build_mobi(d);
}

namespace {
// count times "<?a " each followed by filler, about size bytes in all.
std::string pis(std::size_t count, std::size_t size) {
    const std::string piece = "<?a " + std::string(size / count > 4 ? size / count - 4 : 0, ' ');
    return repeated(piece, count);
}
}  // namespace

std::string unclosed_pis_opf(std::size_t count, std::size_t size) {
    return kPackageHead + pis(count, size) +
           "<dc:creator>After</dc:creator></metadata><manifest/></package>";
}

std::string unclosed_pis_fb2(std::size_t count, std::size_t size) {
    return fb2_title_info(pis(count, size) + "<author><nickname>After</nickname></author>");
}

std::string repeated_opf(const std::string &piece, std::size_t size) {
    const bool item = piece.find("item") != std::string::npos;
    std::string head = kPackageHead;
    if (item) head += "</metadata><manifest>";
    const std::size_t room = size > head.size() ? size - head.size() : 0;
    return head + repeated(piece, room / piece.size());
}

std::string nested_fb2(std::size_t size) {
    const std::string head = fb2_title_info("").substr(0, fb2_title_info("").find("</title-info>"));
    return head + repeated("<p>", (size > head.size() ? size - head.size() : 0) / 3);
}

std::string entity_after_error_opf() {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE package [<!ENTITY e 'X'>]>\n"
           "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"2.0\">"
           "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title>T</dc:title>"
           "</dc:titl><dc:creator>&e;</dc:creator></metadata><manifest/></package>";
}

std::string entity_after_error_fb2() {
    return "<?xml version=\"1.0\"?>\n<!DOCTYPE FictionBook [<!ENTITY e 'X'>]>\n"
           "<FictionBook><description><title-info><book-title>T</book-title></book-titl>"
           "<author><nickname>&e;</nickname></author></title-info></description></FictionBook>";
}

std::string error_ridden_fb2(std::size_t size, std::size_t every) {
    const std::string broken =
        "<p>A paragraph with <emphasis>stressed</strong> words.</p><p class=x>Unquoted.</p>\n";
    const std::string fine =
        "<p>Ordinary prose that runs on for a while, as prose does in a long annotation.</p>\n";
    std::string piece = broken;
    while (piece.size() + fine.size() <= every)
        piece += fine;
    return fb2_title_info("<annotation>" + repeated(piece, size / piece.size()) +
                          "</annotation><author><nickname>After</nickname></author>");
}

}  // namespace qtest
