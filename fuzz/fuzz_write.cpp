// fuzz_write.cpp - a write request and a document edited by it: the request parser, the package
// document editor and the FictionBook editor. An edit that succeeds must leave a document that is
// still well-formed XML. Input: the request's JSON, a line "--", then the document; without the
// line, the whole input is the document and the request sets every field.
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/epub/epub_opf_edit.h"
#include "formats/epub/epub_opf.h"
#include "formats/fb2/fb2_write.h"
#include "ops/write/changes.h"
#include "text/xml_tree.h"

namespace {

constexpr std::string_view kAll =
    R"({"title":"T & <t>","title_sort":"S","subtitle":"Sub","authors":[{"name":"Ann Bee",)"
    R"("sort":"Bee, Ann"},"Cy"],"contributors":[{"name":"Tr","role":"trl"}],"language":"fr",)"
    R"("series":[{"name":"S","index":"2"}],"identifiers":[{"scheme":"doi","value":"10.1/x"}],)"
    R"("isbn":"9780306406157","publisher":"P","published":"2001-02-03","description":"a\n\nb",)"
    R"("subjects":["sf","x"],"rights":"R"})";

bool well_formed(const std::string &doc) {
    eb_xml_tree t;
    std::string why;
    return eb_xml_tree_read(
        doc, [](const eb_xml_tree &, int, int, std::string_view) { return eb_xml_keep::skip; }, &t,
        &why);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char *>(data), size);
    std::string_view json = kAll, doc = in;
    if (const std::size_t cut = in.find("\n--\n"); cut != std::string_view::npos) {
        json = in.substr(0, cut);
        doc = in.substr(cut + 4);
    }
    eb_changes c;
    if (!eb_changes_read(json, &c) && !eb_changes_read(kAll, &c)) std::abort();
    c.cover = {};  // no image files are read here
    c.now = "2024-01-02T03:04:05Z";
    const bool was_well_formed = well_formed(std::string(doc));
    std::string out;
    eb_opf_cover_plan plan;
    plan.exists = [](const std::string &) { return false; };
    plan.referenced = [](const std::string &) { return true; };
    plan.member = [](const std::string &h) { return h; };
    if (eb_opf_edit(doc, "content.opf", c, &plan, &out)) {
        if (!was_well_formed || !well_formed(out)) std::abort();
        eb_record r;
        eb_opf_cover cover;
        eb_opf_read(out, r, &cover);
    }
    if (eb_fb2_edit(doc, c, &out) && (!was_well_formed || !well_formed(out))) std::abort();
    return 0;
}
