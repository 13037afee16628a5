// test_epubcheck.cpp - Debian's epubcheck over written books: every EPUB it accepts before a write
// it accepts after. A handful of books (each check starts a Java VM); QEM_EPUBCHECK_ALL=1 takes
// every EPUB of the corpus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "book_builders.h"
#include "metadata_probe.h"
#include "temp_dir.h"
#include "zip_builder.h"

extern char **environ;

namespace {

constexpr const char *kJar = "/usr/share/java/epubcheck.jar";

// epubcheck's verdict: 0 accepted, 1 rejected (its report in *report), -1
// when it cannot run here.
int epubcheck(const std::string &book, std::string *report) {
    const std::string out = book + ".report";
    std::vector<std::string> args = {"java", "-XX:TieredStopAtLevel=1", "-jar", kJar, "-e", book};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "java", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    *report = qtest::read_file(out);
    std::filesystem::remove(out);
    if (report->find("EPUBCheck") == std::string::npos) return -1;
    return WEXITSTATUS(status) == 0 ? 0 : 1;
}

std::string chapter(bool epub3) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") +
           (epub3 ? "<!DOCTYPE html>\n"
                  : "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                    "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n") +
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>One</title></head>"
           "<body><p>Once upon a time.</p></body></html>\n";
}

// A complete book of each version, as a packager makes it.
std::string valid_epub(bool epub3) {
    std::string opf = std::string(
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package "
                          "xmlns=\"http://www.idpf.org/2007/opf\" "
                          "version=\"") +
                      (epub3 ? "3.0" : "2.0") +
                      "\" unique-identifier=\"uid\">\n  <metadata xmlns:dc=\"http://purl.org/dc/"
                      "elements/1.1/\" xmlns:opf=\"http://www.idpf.org/2007/opf\">\n"
                      "    <dc:identifier id=\"uid\">urn:uuid:0e6c2c0a-1b4e-4c3a-9f0e-3c5d2a1b4e6f"
                      "</dc:identifier>\n    <dc:title>Built</dc:title>\n"
                      "    <dc:language>en</dc:language>\n    <dc:creator>Ann Lee</dc:creator>\n";
    opf += epub3 ? "    <meta property=\"dcterms:modified\">2020-01-01T00:00:00Z</meta>\n"
                 : "    <meta name=\"cover\" content=\"cov\"/>\n";
    opf +=
        "  </metadata>\n  <manifest>\n"
        "    <item id=\"ch1\" href=\"ch1.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
        "    <item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n";
    opf += std::string("    <item id=\"cov\" href=\"cover.png\" media-type=\"image/png\"") +
           (epub3 ? " properties=\"cover-image\"/>\n" : "/>\n");
    if (epub3)
        opf +=
            "    <item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
            "properties=\"nav\"/>\n";
    opf +=
        "  </manifest>\n  <spine toc=\"ncx\">\n    <itemref idref=\"ch1\"/>\n  "
        "</spine>\n</package>\n";
    const std::string ncx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ncx "
        "xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
        "version=\"2005-1\"><head><meta name=\"dtb:uid\" "
        "content=\"urn:uuid:0e6c2c0a-1b4e-4c3a-9f0e-"
        "3c5d2a1b4e6f\"/></head><docTitle><text>Built</text></docTitle><navMap><navPoint "
        "id=\"n1\" playOrder=\"1\"><navLabel><text>One</text></navLabel><content "
        "src=\"ch1.xhtml\"/></navPoint></navMap></ncx>\n";
    const std::string nav =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html "
        "xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
        "<head><title>Contents</title></head><body><nav epub:type=\"toc\"><ol><li><a "
        "href=\"ch1.xhtml\">One</a></li></ol></nav></body></html>\n";
    std::vector<qtest::ZipEntry> m = {
        qtest::zip_file("mimetype", "application/epub+zip", false),
        qtest::zip_file("META-INF/container.xml", qtest::build_container_xml(qtest::EpubDesc{})),
        qtest::zip_file("OEBPS/content.opf", opf),
        qtest::zip_file("OEBPS/ch1.xhtml", chapter(epub3)),
        qtest::zip_file("OEBPS/toc.ncx", ncx),
        qtest::zip_file("OEBPS/cover.png", qtest::tiny_png(), false)};
    if (epub3) m.push_back(qtest::zip_file("OEBPS/nav.xhtml", nav));
    return qtest::build_zip(m);
}

// Every field a request may set; the cover too.
std::string changes(const std::string &version, const std::string &cover) {
    std::string c =
        R"({"title":"Written & Checked","title_sort":"Written","authors":[{"name":"Jane Doe","sort":"Doe, Jane"},"Bob Roe"],
        "contributors":[{"name":"Ed Itor","role":"edt"}],"language":"fr","publisher":"P","published":"2001-02-03",
        "rights":"CC BY","description":"One.\n\nTwo & <three>.","subjects":["A","B"],"isbn":"0-306-40615-2",
        "identifiers":[{"scheme":"doi","value":"10.1000/182"}],"cover":")" +
        cover + "\"";
    if (version.rfind("3", 0) == 0)
        c += R"(,"subtitle":"Sub","series":[{"name":"Saga","index":"2"},{"name":"Other"}]})";
    else
        c += R"(,"series":[{"name":"Saga","index":"2"}]})";
    return c;
}

class Epubcheck : public ::testing::TestWithParam<std::string> {};

TEST_P(Epubcheck, AcceptedBeforeAcceptedAfter) {
    const std::string &name = GetParam();
    std::string bytes;
    if (name == "built-epub2" || name == "built-epub3") {
        bytes = valid_epub(name == "built-epub3");
    } else {
        const std::string from = std::string(QEM_CORPUS_DIR) + "/epub/" + name;
        if (!std::filesystem::exists(from)) GTEST_SKIP() << "skipped: no corpus book " << from;
        bytes = qtest::read_file(from);
    }
    qtest::TempDir dir("epubcheck");
    const std::string book = dir.put("book.epub", bytes);
    std::string report;
    const int before = epubcheck(book, &report);
    if (before < 0) GTEST_SKIP() << "skipped: epubcheck (Debian's jar, run by java) is not here";
    if (before != 0) GTEST_SKIP() << "skipped: epubcheck rejects the book already:\n" << report;
    const std::string cover = dir.put("cover.png", qtest::tiny_png());
    const qtest::MetaProbe before_rec = qtest::MetaProbe::from_file(book);
    const qtest::MetaProbe p =
        qtest::MetaProbe::from_write(book, changes(before_rec.at("/version"), cover));
    ASSERT_TRUE(p.ok()) << p.error();
    EXPECT_EQ(epubcheck(book, &report), 0) << report;
}

std::vector<std::string> books() {
    std::vector<std::string> out = {"built-epub2",
                                    "built-epub3",
                                    "pandoc-epub2-cover.epub",
                                    "idpf-wasteland-woff-obf.epub",
                                    "w3c-pkg-title-order.epub",
                                    "librera-alicesadventures.epub"};
    if (!std::getenv("QEM_EPUBCHECK_ALL")) return out;
    out.resize(2);
    const std::string dir = std::string(QEM_CORPUS_DIR) + "/epub";
    if (std::filesystem::exists(dir))
        for (const auto &e : std::filesystem::directory_iterator(dir))
            out.push_back(e.path().filename().string());
    return out;
}

INSTANTIATE_TEST_SUITE_P(Books, Epubcheck, ::testing::ValuesIn(books()), [](const auto &info) {
    std::string n = info.param;
    for (char &c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

}  // namespace
