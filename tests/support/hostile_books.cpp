// hostile_books.cpp - nested, unclosed and far-inflating books built in memory or streamed.

#include "hostile_books.h"

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

}  // namespace qtest
