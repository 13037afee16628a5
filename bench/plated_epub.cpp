// plated_epub.cpp - one EPUB at any weight, for setting the cost of a 60 KB book against
// the same book at 30 MB.
#include "bench_books.h"
#include "zip_builder.h"

namespace qbench {

std::string plated_epub(Rng &rng, std::size_t plate) {
    qtest::EpubDesc desc;
    desc.title = "The Quiet Sea and Other Stories";
    desc.creator = "H\xc3\xa9l\xc3\xa8ne Marchand";
    desc.calibre_series = "C\xc3\xb4tes";
    desc.calibre_index = std::string(1, '2');
    desc.cover = fake_jpeg(rng, 20 * 1024);
    for (char i = '0'; i < '4'; ++i) {
        std::string name = "OEBPS/chX.xhtml";
        name[8] = i;
        desc.members.push_back(qtest::zip_file(name, prose(rng, 10 * 1024)));
    }
    desc.members.push_back(qtest::zip_file("OEBPS/images/plate.jpg", fake_jpeg(rng, plate), false));
    return qtest::build_epub(desc);
}

}  // namespace qbench
