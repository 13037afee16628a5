// legacy_books.cpp - FictionBook in windows-1251 and EPUB with an obfuscated font, built in code.
#include "legacy_books.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace qtest {

std::string to_windows_1251(const std::string &utf8) {
    iconv_t cd = iconv_open("WINDOWS-1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no windows-1251 in iconv");
    std::string in = utf8, out(utf8.size() + 1, '\0');
    char *src = in.data(), *dst = out.data();
    std::size_t left = in.size(), room = out.size();
    std::size_t rc = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("not representable in windows-1251: " + utf8);
    out.resize(out.size() - room);
    return out;
}

std::string build_fb2_windows_1251(Fb2Desc desc) {
    desc.encoding = "windows-1251";
    desc.title = to_windows_1251(desc.title);
    for (Fb2Author &a : desc.authors)
        for (std::string *part : {&a.first, &a.middle, &a.last, &a.nickname})
            *part = to_windows_1251(*part);
    desc.series = to_windows_1251(desc.series);
    desc.body = to_windows_1251(desc.body);
    desc.extra_description = to_windows_1251(desc.extra_description);
    return build_fb2(desc);
}

std::string build_epub_obfuscated_font(EpubDesc desc) {
    const std::string font_href = "fonts/serif.otf";
    desc.items.push_back({"font", font_href, "application/vnd.ms-opentype", ""});
    // Obfuscation changes only the first 1040 bytes of a font; these bytes
    // stand for such a font, the reader never looks into them.
    desc.members.push_back(
        zip_file(epub_package_dir(desc) + font_href, std::string(2048, '\x5A'), false));
    desc.members.push_back(
        zip_file("META-INF/encryption.xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<encryption xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"\n"
                 "            xmlns:enc=\"http://www.w3.org/2001/04/xmlenc#\">\n"
                 "  <enc:EncryptedData>\n"
                 "    <enc:EncryptionMethod Algorithm=\"http://www.idpf.org/2008/embedding\"/>\n"
                 "    <enc:CipherData><enc:CipherReference URI=\"" +
                     epub_package_dir(desc) + font_href +
                     "\"/></enc:CipherData>\n"
                     "  </enc:EncryptedData>\n"
                     "</encryption>\n"));
    return build_epub(desc);
}

}  // namespace qtest
