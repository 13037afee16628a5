// epub_opf.cpp - EPUB package document to full record: Dublin Core, EPUB 2 and 3, calibre.
#include "formats/epub_opf.h"

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "record/identifiers.h"
#include "text/plain_text.h"
#include "text/xml_reader.h"

namespace {

constexpr std::string_view kDcNs = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kDcTermsNs = "http://purl.org/dc/terms/";

// A name whose prefix the document never declared arrives with the prefix
// still on it; only the part after the last ':' names the element.
std::string_view local_of(std::string_view name) {
    std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view attr(const std::vector<eb_xml_attr> &attrs, std::string_view name) {
    for (const eb_xml_attr &a : attrs)
        if (local_of(a.local) == name) return a.value;
    return {};
}

std::string trim(std::string_view s) {
    const char *ws = " \t\r\n";
    std::size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(ws) - b + 1));
}

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool has_token(std::string_view list, std::string_view token) {
    std::size_t i = 0;
    while (i < list.size()) {
        std::size_t e = list.find_first_of(" \t\r\n", i);
        if (e == std::string_view::npos) e = list.size();
        if (list.substr(i, e - i) == token) return true;
        i = e + 1;
    }
    return false;
}

// A Dublin Core element of the metadata, with the EPUB 2 attributes.
struct dc_elem {
    std::string name;  // local name: title, creator, identifier...
    std::string id, role, file_as, scheme, event;
    std::string text;
};

// A meta element: EPUB 2 name/content or EPUB 3 property/refines and text.
struct meta_elem {
    std::string name, content, property, refines, scheme, id;
    std::string text;
};

struct item_elem {
    std::string id, href, media_type, properties;
};

bool is_dc_name(std::string_view n) {
    static constexpr std::string_view names[] = {
        "title", "creator",     "contributor", "language", "identifier", "publisher",
        "date",  "description", "subject",     "rights",   "source",     "type"};
    for (std::string_view x : names)
        if (n == x) return true;
    return false;
}

class opf_handler : public eb_xml_handler {
  public:
    std::string version;
    std::vector<dc_elem> dc;
    std::vector<meta_elem> metas;
    std::vector<item_elem> items;
    std::string dcterms_modified;  // a dcterms:modified element (EPUB 2 extensions)

    void start(std::string_view ns, std::string_view qname,
               const std::vector<eb_xml_attr> &attrs) override {
        ++depth_;
        std::string_view local = local_of(qname);
        if (target_) return;  // markup inside a collected text: its text still counts
        if (local == "package" && version.empty()) {
            version = trim(attr(attrs, "version"));
        } else if (local == "metadata" || local == "dc-metadata") {
            if (!metadata_depth_) metadata_depth_ = depth_;
        } else if (local == "manifest") {
            in_manifest_ = true;
        } else if (local == "item" && in_manifest_) {
            items.push_back({std::string(attr(attrs, "id")), std::string(attr(attrs, "href")),
                             trim(attr(attrs, "media-type")),
                             std::string(attr(attrs, "properties"))});
        } else if (local == "meta") {
            metas.push_back({trim(attr(attrs, "name")),
                             std::string(attr(attrs, "content")),
                             trim(attr(attrs, "property")),
                             trim(attr(attrs, "refines")),
                             trim(attr(attrs, "scheme")),
                             std::string(attr(attrs, "id")),
                             {}});
            collect(&metas.back().text);
        } else if (ns == kDcTermsNs && local == "modified") {
            collect(&dcterms_modified);
        } else if (is_dc_name(local) && (ns == kDcNs || metadata_depth_)) {
            dc.push_back({std::string(local),
                          std::string(attr(attrs, "id")),
                          trim(attr(attrs, "role")),
                          trim(attr(attrs, "file-as")),
                          trim(attr(attrs, "scheme")),
                          lower(trim(attr(attrs, "event"))),
                          {}});
            collect(&dc.back().text);
        }
    }
    void end(std::string_view, std::string_view qname) override {
        if (target_ && depth_ == target_depth_) target_ = nullptr;
        if (depth_ == metadata_depth_) metadata_depth_ = 0;
        // The spine and guide hold nothing of the record.
        if (local_of(qname) == "manifest" && in_manifest_) stop = true;
        --depth_;
    }
    void text(std::string_view utf8) override {
        if (target_) target_->append(utf8);
    }

  private:
    void collect(std::string *to) {
        target_ = to;
        target_depth_ = depth_;
    }
    std::string *target_ = nullptr;
    int depth_ = 0, target_depth_ = 0, metadata_depth_ = 0;
    bool in_manifest_ = false;
};

// EPUB 3 refinements of one element, by the refined element's id: the first
// of each property, found in logarithmic time, so that a document of many
// elements sharing an id stays linear to read.
class refinements {
  public:
    explicit refinements(const std::vector<meta_elem> &metas) {
        for (const meta_elem &m : metas)
            if (m.refines.size() > 1 && m.refines[0] == '#')
                first_.emplace(std::make_pair(m.refines.substr(1), m.property), &m);
    }
    // The first refinement of id with property, or null.
    const meta_elem *get(const std::string &id, const std::string &property) const {
        if (id.empty()) return nullptr;
        auto it = first_.find(std::make_pair(id, property));
        return it == first_.end() ? nullptr : it->second;
    }
    std::string text(const std::string &id, const std::string &property) const {
        const meta_elem *m = get(id, property);
        return m ? trim(m->text) : std::string();
    }

  private:
    std::map<std::pair<std::string, std::string>, const meta_elem *> first_;
};

void read_titles(const std::vector<dc_elem> &dc, const refinements &ref,
                 const std::vector<meta_elem> &metas, eb_record &r) {
    const dc_elem *first = nullptr, *main = nullptr, *sub = nullptr;
    for (const dc_elem &e : dc) {
        if (e.name != "title") continue;
        if (!first) first = &e;
        std::string type = lower(ref.text(e.id, "title-type"));
        if (type == "main" && !main) main = &e;
        if (type == "subtitle" && !sub) sub = &e;
    }
    // EPUB 3 names its main title; otherwise the first title is the title.
    const dc_elem *t = main ? main : first;
    if (t) {
        r.title = trim(t->text);
        r.title_sort = ref.text(t->id, "file-as");
        if (r.title_sort.empty()) r.title_sort = t->file_as;
    }
    if (sub && sub != t) r.subtitle = trim(sub->text);
    for (const meta_elem &m : metas)
        if (r.title_sort.empty() && m.name == "calibre:title_sort") r.title_sort = trim(m.content);
}

void read_people(const std::vector<dc_elem> &dc, const refinements &ref, eb_record &r) {
    for (const dc_elem &e : dc) {
        if (e.name != "creator" && e.name != "contributor") continue;
        eb_person p{trim(e.text), ref.text(e.id, "file-as"), lower(ref.text(e.id, "role"))};
        if (p.name.empty()) continue;
        if (p.sort.empty()) p.sort = e.file_as;
        if (p.role.empty()) p.role = lower(e.role);
        // A creator whose role is unstated is an author; a contributor is not.
        if (p.role.empty()) p.role = e.name == "creator" ? "aut" : "ctb";
        (p.role == "aut" ? r.authors : r.contributors).push_back(std::move(p));
    }
}

// Every series in document order of the meta that names it, so the first is
// the one the book's first series meta names; a name stated twice (calibre
// writes both forms) is one series.
void read_series(const std::vector<meta_elem> &metas, const refinements &ref, eb_record &r) {
    std::string calibre_index, loose_position;
    for (const meta_elem &m : metas) {
        if (m.name == "calibre:series_index" && calibre_index.empty())
            calibre_index = trim(m.content);
        if (m.property == "group-position" && m.refines.empty() && loose_position.empty())
            loose_position = trim(m.text);
    }
    bool calibre_seen = false;
    std::map<std::string, std::size_t> seen;  // name -> place in r.series
    for (const meta_elem &m : metas) {
        eb_series s;
        if (m.name == "calibre:series") {
            s.name = trim(m.content);
            if (!calibre_seen) s.index = calibre_index;
            calibre_seen = true;
        } else if (m.property == "belongs-to-collection") {
            s.name = trim(m.text);
            s.index = ref.text(m.id, "group-position");
        }
        if (s.name.empty()) continue;
        auto [at, fresh] = seen.emplace(s.name, r.series.size());
        if (!fresh) {
            eb_series &have = r.series[at->second];
            if (have.index.empty()) have.index = s.index;
            continue;
        }
        r.series.push_back(std::move(s));
    }
    if (!r.series.empty() && r.series[0].index.empty()) r.series[0].index = loose_position;
}

void read_identifiers(const std::vector<dc_elem> &dc, const refinements &ref, eb_record &r) {
    std::set<std::pair<std::string, std::string>> seen;  // scheme, value
    for (const dc_elem &e : dc) {
        if (e.name != "identifier") continue;
        std::string scheme = e.scheme;
        if (const meta_elem *t = ref.get(e.id, "identifier-type")) {
            std::string code = trim(t->text);
            if (lower(t->scheme) == "onix:codelist5") {
                if (code == "02" || code == "15")
                    scheme = "isbn";
                else if (code == "06")
                    scheme = "doi";
            } else if (scheme.empty()) {
                scheme = code;
            }
        }
        std::string value = trim(e.text);
        if (value.empty()) continue;
        eb_identifier id = eb_classify_identifier(scheme, value);
        if (seen.emplace(id.scheme, id.value).second) r.identifiers.push_back(std::move(id));
    }
}

void read_dates_and_texts(const opf_handler &h, eb_record &r) {
    const dc_elem *date = nullptr, *publication = nullptr;
    for (const dc_elem &e : h.dc) {
        std::string text = trim(e.text);
        if (e.name == "language" && !text.empty()) r.languages.push_back(text);
        if (e.name == "subject" && !text.empty()) r.subjects.push_back(text);
        if (e.name == "publisher" && r.publisher.empty()) r.publisher = text;
        if (e.name == "rights" && r.rights.empty()) r.rights = text;
        if (e.name == "description" && r.description.empty())
            r.description = eb_markup_to_text(e.text);
        if (e.name != "date" || text.empty()) continue;
        if (e.event == "modification") {
            if (r.modified.empty()) r.modified = text;
        } else {
            if (!date) date = &e;
            if (e.event == "publication" && !publication) publication = &e;
        }
    }
    const dc_elem *pub = publication ? publication : date;
    if (pub) r.published = trim(pub->text);
    for (const meta_elem &m : h.metas)
        if (m.property == "dcterms:modified" && m.refines.empty()) {
            std::string text = trim(m.text);
            if (!text.empty()) {
                r.modified = text;
                break;
            }
        }
    if (r.modified.empty()) r.modified = trim(h.dcterms_modified);
    if (!r.languages.empty()) r.language = r.languages[0];
}

// The cover item as the package names it: a meta name="cover" (or an EPUB 3
// property "cover") naming an item id, or an item with the cover-image
// property, whichever comes first in the manifest; else the first image.
void read_cover(const opf_handler &h, eb_opf_cover *cover) {
    std::string cover_id;
    for (const meta_elem &m : h.metas) {
        if (m.name == "cover" && !m.content.empty()) {
            cover_id = m.content;
            break;
        }
        if (m.property == "cover" && !trim(m.text).empty()) {
            cover_id = trim(m.text);
            break;
        }
    }
    for (const item_elem &it : h.items) {
        bool by_prop = has_token(it.properties, "cover-image");
        if (by_prop || (!cover_id.empty() && it.id == cover_id)) {
            *cover = {it.href, it.media_type, by_prop ? "cover-image" : "meta-cover"};
            return;
        }
    }
    for (const item_elem &it : h.items)
        if (it.media_type.rfind("image/", 0) == 0 && !it.href.empty()) {
            *cover = {it.href, it.media_type, "first-image"};
            return;
        }
}

}  // namespace

void eb_opf_read(std::string_view opf, eb_record &r, eb_opf_cover *cover) {
    opf_handler h;
    eb_xml_result res = eb_xml_read(opf, h);
    if (!h.version.empty()) r.version = h.version;
    refinements ref(h.metas);
    read_titles(h.dc, ref, h.metas, r);
    read_people(h.dc, ref, r);
    read_series(h.metas, ref, r);
    read_identifiers(h.dc, ref, r);
    read_dates_and_texts(h, r);
    read_cover(h, cover);
    if (!res.encoding.empty()) r.encoding = res.encoding;
    for (std::string &w : res.warnings)
        r.warnings.push_back("package document: " + w);
}
