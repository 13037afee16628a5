// The full record of the real PDFs (../shared/corpus/pdf) against what independent tools read in
// them (expected-pdf-comics.json), field by field under the reader's rules; and the same record
// through both of the reader's paths.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "book_builders.h"
#include "formats/pdf/pdf_paths.h"
#include "metadata_probe.h"

namespace {

const std::string kCorpus = QEM_CORPUS_DIR;
const std::string kLabels = kCorpus + "/expected-pdf-comics.json";

// Where the record differs from the labels, and why.
struct Difference {
    const char *book, *field, *value, *why;
};
const Difference kDifferences[] = {
    // The labels were read with the password its source publishes; a
    // document that needs a user password gives nothing but its protection.
    {"pdf/pdfminer-aes-256-r6.pdf", "pages", "<null>", "protected: nothing else read"},
    // A title is one line: the double space after the colon is one.
    {"pdf/fmtc-govdocs-020806.pdf", "title", "PUFF-III: A Multigroup ... System",
     "white space folded"},
};

std::string json_of(eb_record &r) {
    eb_record_settle(r);
    std::unique_ptr<char, decltype(&std::free)> j(eb_record_to_json(r), std::free);
    return j ? j.get() : "";
}

std::string str(yyjson_val *v) {
    return yyjson_is_str(v) ? std::string(yyjson_get_str(v), yyjson_get_len(v)) : "";
}

std::vector<std::string> split_on(const std::string &s, const std::string &seps) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= s.size()) {
        std::size_t e = s.find_first_of(seps, i);
        if (e == std::string::npos) e = s.size();
        std::string p = s.substr(i, e - i);
        p.erase(0, p.find_first_not_of(' '));
        p.erase(p.find_last_not_of(' ') + 1);
        if (!p.empty()) parts.push_back(p);
        i = e + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string> &list) {
    std::string out;
    std::set<std::string> seen;
    for (const std::string &s : list)
        if (seen.insert(s).second) out += s + ";";
    return out;
}

// The record the labels call for. Every corpus PDF with both sources has
// them agree (info_xmp_agree), so XMP-first is the rule's result here.
std::map<std::string, std::string> stated(yyjson_val *want) {
    std::map<std::string, std::string> s;
    yyjson_val *enc = yyjson_obj_get(want, "encryption");
    const bool locked = yyjson_get_bool(yyjson_obj_get(enc, "encrypted")) &&
                        str(yyjson_obj_get(enc, "empty_password_opens_as")) != "user";
    s["format"] = "pdf";
    s["drm"] = locked ? "true" : "false";
    s["drm_scheme"] = locked ? "pdf-password" : "<null>";
    yyjson_val *pages = yyjson_obj_get(want, "pages");
    s["pages"] = yyjson_is_int(pages) ? std::to_string(yyjson_get_uint(pages)) : "<null>";
    yyjson_val *version = yyjson_obj_get(want, "pdf_version");
    s["version"] = str(yyjson_obj_get(version, "header"));
    if (locked) return s;

    yyjson_val *info = yyjson_obj_get(want, "info");
    yyjson_val *dates = yyjson_obj_get(want, "info_dates_iso");
    yyjson_val *xmp = yyjson_obj_get(yyjson_obj_get(want, "xmp"), "summary");
    auto either = [&](const char *xmp_key, const std::string &from_info) {
        const std::string x = str(yyjson_obj_get(xmp, xmp_key));
        return x.empty() ? from_info : x;
    };
    s["title"] = either("title", str(yyjson_obj_get(info, "Title")));
    std::vector<std::string> creators;
    std::size_t i, n;
    yyjson_val *c;
    yyjson_arr_foreach(yyjson_obj_get(xmp, "creators"), i, n, c) if (!str(c).empty())
        creators.push_back(str(c));
    s["authors"] =
        joined(creators.empty() ? split_on(str(yyjson_obj_get(info, "Author")), ";&") : creators);
    s["language"] = str(yyjson_obj_get(want, "catalog_lang"));
    s["description"] = either("description", str(yyjson_obj_get(info, "Subject")));
    s["subjects"] =
        joined(split_on(either("keywords", str(yyjson_obj_get(info, "Keywords"))), ",;"));
    s["published"] = either("create_date", str(yyjson_obj_get(dates, "CreationDate")));
    // The later modification date; both sources agree where both have one.
    s["modified"] = either("modify_date", str(yyjson_obj_get(dates, "ModDate")));
    s["repaired"] = yyjson_get_bool(yyjson_obj_get(want, "damaged")) ? "true" : "false";
    return s;
}

std::map<std::string, std::string> got(const qtest::MetaProbe &p) {
    std::map<std::string, std::string> g;
    for (const char *f : {"format", "drm", "drm_scheme", "pages", "version", "title", "language",
                          "description", "published", "modified"})
        g[f] = p.at(std::string("/") + f);
    std::vector<std::string> authors, subjects;
    for (std::size_t i = 0; i < p.count("/authors"); ++i)
        authors.push_back(p.at("/authors/" + std::to_string(i) + "/name"));
    for (std::size_t i = 0; i < p.count("/subjects"); ++i)
        subjects.push_back(p.at("/subjects/" + std::to_string(i)));
    g["authors"] = joined(authors);
    g["subjects"] = joined(subjects);
    bool repaired = false;
    for (std::size_t i = 0; i < p.count("/warnings"); ++i)
        repaired = repaired ||
                   p.at("/warnings/" + std::to_string(i)).find("reconstruct") != std::string::npos;
    g["repaired"] = repaired ? "true" : "false";
    return g;
}

TEST(CorpusPdf, EveryPdfAsItsLabelsState) {
    if (!std::filesystem::exists(kLabels)) GTEST_SKIP() << "no real-book corpus at " << kCorpus;
    const std::string text = qtest::read_file(kLabels);
    std::unique_ptr<yyjson_doc, decltype(&yyjson_doc_free)> doc(
        yyjson_read(text.data(), text.size(), 0), yyjson_doc_free);
    ASSERT_TRUE(doc);
    std::size_t i, n, pdfs = 0;
    yyjson_val *key, *want;
    yyjson_obj_foreach(yyjson_doc_get_root(doc.get()), i, n, key, want) {
        const std::string book = yyjson_get_str(key);
        if (book.rfind("pdf/", 0) != 0) continue;
        ++pdfs;
        const qtest::MetaProbe p = qtest::MetaProbe::from_file(kCorpus + "/" + book);
        ASSERT_TRUE(p.ok()) << book << ": " << p.error();
        EXPECT_EQ(p.schema_error(), "") << book;
        std::map<std::string, std::string> g = got(p);
        for (const auto &[field, value] : stated(want)) {
            const Difference *d = nullptr;
            for (const Difference &x : kDifferences)
                if (book == x.book && field == x.field) d = &x;
            EXPECT_EQ(g[field], d ? d->value : value) << book << " " << field << (d ? d->why : "");
        }
    }
    EXPECT_EQ(pdfs, 10u);
}

// Every real PDF the lazy reader takes gives qpdf's record, and qpdf reads
// it without a warning of its own.
TEST(CorpusPdf, LazyReaderGivesQpdfsRecord) {
    const std::string dir = kCorpus + "/pdf";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no real-book corpus at " << kCorpus;
    std::size_t taken = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        const std::string bytes = qtest::read_file(e.path());
        const eb_source src(bytes.data(), bytes.size());
        eb_record lazy, full;
        if (eb_record_pdf_by(src, lazy, eb_pdf_path::lazy) != 0) continue;
        ++taken;
        std::size_t complaints = 0;
        ASSERT_EQ(eb_record_pdf_by(src, full, eb_pdf_path::qpdf, &complaints), 0) << e.path();
        EXPECT_EQ(complaints, 0u) << e.path();
        EXPECT_EQ(json_of(lazy), json_of(full)) << e.path();
    }
    EXPECT_GE(taken, 3u);
}

}  // namespace
