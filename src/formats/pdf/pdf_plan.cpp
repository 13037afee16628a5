// pdf_plan.cpp - a change request as Info entries, XMP property elements and the properties they
// replace, and the catalog's language.
#include "formats/pdf/pdf_plan.h"

#include <algorithm>
#include <memory>
#include <set>

#include "error.h"
#include "formats/pdf/pdf_xmp.h"
#include "formats/pdf/pdf_text_out.h"
#include "text/markup_write.h"

namespace {

using namespace eb_xmp_ns;

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

// The namespaces the reader takes properties from, each by a short word.
std::string ns_word(std::string_view ns) {
    if (ns == kDc || ns == kDc.substr(0, kDc.size() - 1)) return "dc";
    if (ns == kXmp) return "xmp";
    if (ns == kPdf) return "pdf";
    if (ns == kPdfx || ns.substr(0, kPrism.size()) == kPrism) return "ids";
    if (ns == kCalibre) return "calibre";
    if (ns == kCalibreSI) return "calibreSI";
    return {};
}

std::string x(std::string_view s) {
    return eb_xml_escape(s);
}

std::string items(const char *kind, const std::vector<std::string> &values) {
    std::string out = std::string("<rdf:") + kind + ">";
    for (const std::string &v : values)
        out += "<rdf:li>" + x(v) + "</rdf:li>";
    return out + "</rdf:" + kind + ">";
}

std::string element(const char *name, const std::string &content) {
    return std::string("<") + name + ">" + content + "</" + name + ">\n";
}

std::string alt(const std::string &text) {
    return "<rdf:Alt><rdf:li xml:lang=\"x-default\">" + x(text) + "</rdf:li></rdf:Alt>";
}

std::string joined(const std::vector<std::string> &list, const char *sep) {
    std::string out;
    for (const std::string &s : list)
        out += (out.empty() ? "" : sep) + s;
    return out;
}

class planner {
  public:
    planner(eb_pdf_plan &p) : p_(p) {}

    // Replaces the properties named "word:local" by what follows.
    void replace(std::initializer_list<const char *> names) {
        for (const char *n : names)
            names_->insert(n);
    }
    void info(const char *key, const std::string &text) {
        if (text.empty())
            p_.info_removed.push_back(key);
        else
            p_.info_set.emplace_back(key, eb_pdf_text_object(text));
    }
    void xmp(const std::string &s) { p_.xmp_properties += s; }
    void finish() {
        std::shared_ptr<std::set<std::string>> names = names_;
        p_.replaced = [names](std::string_view ns, std::string_view local) {
            const std::string w = ns_word(ns);
            if (w == "ids")
                return names->count("ids:*") > 0 && (iequal(local, "isbn") || iequal(local, "doi"));
            return !w.empty() && names->count(w + ":" + std::string(local)) > 0;
        };
    }

  private:
    eb_pdf_plan &p_;
    std::shared_ptr<std::set<std::string>> names_ = std::make_shared<std::set<std::string>>();
};

std::vector<std::string> or_empty(const eb_field_change<std::vector<std::string>> &c) {
    return c.sets() ? *c.value : std::vector<std::string>{};
}

// The identifiers after the request: its own list, else the book's; with
// its ISBN in place of the book's ISBNs.
std::vector<eb_identifier> identifiers(const eb_changes &c, const eb_record &before) {
    std::vector<eb_identifier> ids;
    if (c.identifiers.given)
        ids = c.identifiers.sets() ? *c.identifiers.value : std::vector<eb_identifier>{};
    else
        ids = before.identifiers;
    if (c.isbn.given) {
        // The module's files build as C++17 under clang (qpdf's headers): no std::erase_if.
        ids.erase(std::remove_if(ids.begin(), ids.end(),
                                 [](const eb_identifier &i) {
                                     return i.scheme == "isbn" || i.scheme == "isbn-invalid";
                                 }),
                  ids.end());
        if (c.isbn.sets() && !c.isbn.value->empty())
            ids.insert(ids.begin(), {"isbn", *c.isbn.value});
    }
    return ids;
}

std::string identifier_items(const std::vector<eb_identifier> &ids) {
    std::string out = "<rdf:Bag>";
    for (const eb_identifier &i : ids) {
        if (i.scheme.empty())
            out += "<rdf:li>" + x(i.value) + "</rdf:li>";
        else
            out += "<rdf:li rdf:parseType=\"Resource\"><rdf:value>" + x(i.value) +
                   "</rdf:value><xmpidq:Scheme>" + x(i.scheme) + "</xmpidq:Scheme></rdf:li>";
    }
    return out + "</rdf:Bag>";
}

}  // namespace

bool eb_pdf_plan_changes(const eb_changes &c, const eb_record &before, const std::string &now,
                         eb_pdf_plan *plan) {
    for (const auto &[given, name] : {std::pair{c.subtitle.given, "subtitle"},
                                      {c.contributors.given, "contributors"},
                                      {c.cover.given, "cover"}})
        if (given) {
            eb_set_error("%s: not stored by PDF books", name);
            return false;
        }
    if (c.series.sets() && c.series.value->size() > 1) {
        eb_set_error("series: PDF books hold one series");
        return false;
    }
    planner p(*plan);
    auto text = [](const eb_field_change<std::string> &f) {
        return f.sets() ? *f.value : std::string();
    };
    if (c.title.given) {
        p.replace({"dc:title"});
        p.info("/Title", text(c.title));
        if (!text(c.title).empty()) p.xmp(element("dc:title", alt(text(c.title))));
    }
    if (c.title_sort.given) {
        p.replace({"calibre:title_sort"});
        if (!text(c.title_sort).empty())
            p.xmp(element("calibre:title_sort", x(text(c.title_sort))));
    }
    if (c.authors.given) {
        std::vector<std::string> names;
        if (c.authors.sets())
            for (const eb_person &a : *c.authors.value)
                names.push_back(a.name);
        p.replace({"dc:creator"});
        p.info("/Author", joined(names, "; "));
        if (!names.empty()) p.xmp(element("dc:creator", items("Seq", names)));
    }
    if (c.description.given) {
        // The reader reads a description holding '<' as markup.
        const std::string d = text(c.description);
        p.replace({"dc:description"});
        p.info("/Subject", d);
        if (!d.empty())
            p.xmp(element("dc:description",
                          alt(d.find('<') == std::string::npos ? d : eb_text_to_markup(d))));
    }
    if (c.subjects.given) {
        const std::vector<std::string> s = or_empty(c.subjects);
        p.replace({"dc:subject", "pdf:Keywords"});
        p.info("/Keywords", joined(s, ", "));
        if (!s.empty())
            p.xmp(element("dc:subject", items("Bag", s)) +
                  element("pdf:Keywords", x(joined(s, ", "))));
    }
    if (c.languages.given) {
        const std::vector<std::string> l = or_empty(c.languages);
        p.replace({"dc:language"});
        if (!l.empty()) p.xmp(element("dc:language", items("Bag", l)));
        plan->language_changes = true;
        plan->lang = l.empty() ? "" : eb_pdf_text_object(l[0]);
    }
    if (c.publisher.given) {
        p.replace({"dc:publisher"});
        if (!text(c.publisher).empty())
            p.xmp(element("dc:publisher", items("Bag", {text(c.publisher)})));
    }
    if (c.rights.given) {
        p.replace({"dc:rights"});
        if (!text(c.rights).empty()) p.xmp(element("dc:rights", alt(text(c.rights))));
    }
    if (c.published.given) {
        p.replace({"dc:date"});
        if (!text(c.published).empty())
            p.xmp(element("dc:date", items("Seq", {text(c.published)})));
    }
    if (c.series.given) {
        p.replace({"calibre:series", "calibreSI:series_index"});
        if (c.series.sets() && !c.series.value->empty()) {
            const eb_series &s = (*c.series.value)[0];
            std::string fields = "<rdf:value>" + x(s.name) + "</rdf:value>";
            if (!s.index.empty())
                fields += "<calibreSI:series_index>" + x(s.index) + "</calibreSI:series_index>";
            p.xmp("<calibre:series rdf:parseType=\"Resource\">" + fields + "</calibre:series>\n");
        }
    }
    if (c.identifiers.given || c.isbn.given) {
        const std::vector<eb_identifier> ids = identifiers(c, before);
        p.replace({"dc:identifier", "xmp:Identifier", "ids:*"});  // ids: pdfx and prism isbn, doi
        plan->info_removed.insert(plan->info_removed.end(), {"/ISBN", "/DOI", "/doi"});
        if (!ids.empty()) p.xmp(element("xmp:Identifier", identifier_items(ids)));
    }
    // The dates that tell the reader which statement is newer: equal.
    p.replace({"xmp:ModifyDate", "xmp:MetadataDate"});
    p.xmp(element("xmp:ModifyDate", now) + element("xmp:MetadataDate", now));
    plan->info_set.emplace_back("/ModDate", "(" + eb_pdf_date_of(now) + ")");
    p.finish();
    return true;
}
