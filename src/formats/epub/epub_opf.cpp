// epub_opf.cpp - EPUB package document to full record: Dublin Core, EPUB 2 and 3, OEB 1.2,
// calibre.
//
// The document is read as a stream: each element is settled when it ends and
// only what a later element may still change is kept (titles and people
// until their refinements are known, refinements by id, the cover
// candidates), so that thousands of meta or item elements cost no memory.
#include "formats/epub/epub_opf.h"

#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/opf_text.h"
#include "record/identifiers.h"
#include "text/plain_text.h"
#include "text/xml_reader.h"

namespace {

using namespace eb_opf;

// Text collected from one element; the record cuts every text shorter still.
constexpr std::size_t kMaxCollected = 4 * EB_TEXT_LIMIT;
// Titles kept as candidates for the EPUB 3 main title and subtitle.
constexpr std::size_t kMaxTitles = 64;
// Manifest items kept while the cover's id is not yet known (a manifest
// before the metadata).
constexpr std::size_t kMaxPendingItems = 4096;

// The Dublin Core element a local name stands for, "" for none. OEB 1.2
// packages capitalise them (dc:Title, dc:Creator).
std::string dc_name(std::string_view local) {
    static constexpr std::string_view names[] = {
        "title", "creator",     "contributor", "language", "identifier", "publisher",
        "date",  "description", "subject",     "rights",   "source",     "type"};
    const std::string l = lower(std::string(local.substr(0, 16)));
    for (std::string_view x : names)
        if (l == x && local.size() == x.size()) return l;
    return "";
}

// An element whose text is being read, with the attributes its rule needs.
struct collected {
    std::string name;  // DC local name, "meta" or "modified" (dcterms)
    std::string id, role, file_as, scheme, event, property, refines;
    std::string text;
};

struct title_elem {
    std::string id, file_as, text;
};

struct person_elem {
    bool creator;
    std::string id, role, file_as, text;
};

struct identifier_elem {
    std::string id, scheme, text;
};

struct series_elem {
    std::string name;
    std::string id;  // a collection's, for its group-position refinement
    bool calibre_first = false;  // the first calibre:series: the calibre index is its own
};

struct item_elem {
    std::string id, href, media_type;
    bool cover_image;
};

// What a refinement says: its text, and its scheme (for identifier-type).
struct refinement {
    std::string text, scheme;
};

class opf_handler : public eb_xml_handler {
  public:
    explicit opf_handler(eb_record &r) : r_(r) {}

    std::string version;
    std::vector<title_elem> titles;
    std::vector<person_elem> people;
    std::vector<identifier_elem> identifiers;
    std::vector<series_elem> series;
    std::string title_sort_meta, calibre_index, loose_position, modified_meta, dcterms_modified;
    std::string modification_date, date, publication_date;
    bool calibre_seen = false;

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
            if (!manifest_depth_) manifest_depth_ = depth_;
        } else if (local == "item" && manifest_depth_) {
            item({std::string(attr(attrs, "id")), std::string(attr(attrs, "href")),
                  trim(attr(attrs, "media-type")),
                  has_token(attr(attrs, "properties"), "cover-image")});
        } else if (local == "meta") {
            meta_start(attrs);
        } else if (ns == kDcTermsNs && local == "modified") {
            collect("modified", attrs);
        } else if (std::string dc = dc_name(local); !dc.empty() && (ns == kDcNs || metadata_depth_)) {
            collect(std::move(dc), attrs);
            cur_.role = trim(attr(attrs, "role"));
            cur_.file_as = trim(attr(attrs, "file-as"));
            cur_.event = lower(trim(attr(attrs, "event")));
        }
    }

    void end(std::string_view, std::string_view qname) override {
        if (target_ && depth_ == target_depth_) {
            target_ = false;
            settle();
        }
        const std::string_view local = local_of(qname);
        if (depth_ == metadata_depth_) {
            metadata_depth_ = 0;
            metadata_done_ = true;
        }
        if (depth_ == manifest_depth_ && local == "manifest") {
            manifest_depth_ = 0;
            manifest_done_ = true;
        }
        // The spine and guide hold nothing of the record: reading ends once
        // the metadata and the manifest are both read, in either order. The
        // manifest matters only for the cover: once its item is chosen, the
        // items after it (most of a package document's markup) are not read,
        // nor is a broken spot among them warned of.
        if (metadata_done_ && (manifest_done_ || found_)) stop = true;
        --depth_;
    }

    void text(std::string_view utf8) override {
        if (target_ && cur_.text.size() < kMaxCollected)
            cur_.text.append(utf8.substr(0, kMaxCollected - cur_.text.size()));
    }

    // The first refinement of id with property, or null.
    const refinement *refined(const std::string &id, std::string_view property) const {
        if (id.empty()) return nullptr;
        const auto it = refinements_.find(id + '\n' + std::string(property));
        return it == refinements_.end() ? nullptr : &it->second;
    }
    std::string refined_text(const std::string &id, std::string_view property) const {
        const refinement *m = refined(id, property);
        return m ? trim(m->text) : std::string();
    }

    // The cover item as the package names it: a meta name="cover" (or an
    // EPUB 3 property "cover") naming an item id, or an item with the
    // cover-image property, whichever comes first in the manifest; else the
    // first image.
    eb_opf_cover cover() const {
        if (found_) return chosen_;
        for (const item_elem &it : pending_)
            if (it.cover_image || (!cover_id_.empty() && it.id == cover_id_))
                return {it.href, it.media_type, it.cover_image ? "cover-image" : "meta-cover"};
        if (!first_image_.href.empty())
            return {first_image_.href, first_image_.media_type, "first-image"};
        return {};
    }

  private:
    eb_record &r_;
    collected cur_;
    bool target_ = false;
    int depth_ = 0, target_depth_ = 0, metadata_depth_ = 0, manifest_depth_ = 0;
    bool metadata_done_ = false, manifest_done_ = false;
    std::unordered_map<std::string, refinement> refinements_;  // "id\nproperty", the first
    std::string cover_id_;
    bool cover_id_known_ = false, found_ = false;
    eb_opf_cover chosen_;
    item_elem first_image_;
    std::vector<item_elem> pending_;  // items met before the cover's id was known

    void collect(std::string name, const std::vector<eb_xml_attr> &attrs) {
        cur_ = collected();
        cur_.name = std::move(name);
        cur_.id = attr(attrs, "id");
        cur_.scheme = trim(attr(attrs, "scheme"));
        target_ = true;
        target_depth_ = depth_;
    }

    void meta_start(const std::vector<eb_xml_attr> &attrs) {
        const std::string name = trim(attr(attrs, "name"));
        const std::string_view content = attr(attrs, "content");
        if (name == "calibre:series") {
            series.push_back({trim(content), "", !calibre_seen});
            calibre_seen = true;
        } else if (name == "calibre:series_index" && calibre_index.empty()) {
            calibre_index = trim(content);
        } else if (name == "calibre:title_sort" && title_sort_meta.empty()) {
            title_sort_meta = trim(content);
        } else if (name == "cover" && !content.empty()) {
            cover_named(std::string(content));
        }
        const std::string property = trim(attr(attrs, "property"));
        if (property.empty()) return;
        collect("meta", attrs);
        cur_.property = property;
        cur_.refines = trim(attr(attrs, "refines"));
    }

    // The first meta naming the cover decides its id.
    void cover_named(std::string id) {
        if (cover_id_known_) return;
        cover_id_known_ = true;
        cover_id_ = std::move(id);
    }

    void item(item_elem it) {
        if (first_image_.href.empty() && it.media_type.rfind("image/", 0) == 0 && !it.href.empty())
            first_image_ = it;
        if (found_) return;
        if (cover_id_known_ || metadata_done_) {
            if (it.cover_image || (!cover_id_.empty() && it.id == cover_id_)) {
                chosen_ = {it.href, it.media_type, it.cover_image ? "cover-image" : "meta-cover"};
                found_ = true;
            }
            return;
        }
        // The cover's id may still come: the items up to the first marked one
        // wait for it.
        if (pending_.size() < kMaxPendingItems &&
            (pending_.empty() || !pending_.back().cover_image))
            pending_.push_back(std::move(it));
    }

    void settle() {
        collected &c = cur_;
        if (c.name == "meta") return settle_meta(c);
        if (c.name == "modified") {
            if (dcterms_modified.empty()) dcterms_modified = trim(c.text);
            return;
        }
        if (c.name == "title") {
            if (titles.size() < kMaxTitles) titles.push_back({c.id, c.file_as, std::move(c.text)});
        } else if (c.name == "creator" || c.name == "contributor") {
            people.push_back({c.name == "creator", c.id, c.role, c.file_as, std::move(c.text)});
        } else if (c.name == "identifier") {
            identifiers.push_back({c.id, c.scheme, std::move(c.text)});
        } else {
            settle_text(c);
        }
    }

    void settle_text(collected &c) {
        std::string text = trim(c.text);
        if (c.name == "language" && !text.empty()) r_.languages.push_back(text);
        if (c.name == "subject" && !text.empty()) r_.subjects.push_back(text);
        if (c.name == "publisher" && r_.publisher.empty()) r_.publisher = text;
        if (c.name == "rights" && r_.rights.empty()) r_.rights = text;
        if (c.name == "description" && r_.description.empty())
            r_.description = eb_markup_to_text(c.text);
        if (c.name != "date" || text.empty()) return;
        if (c.event == "modification") {
            if (modification_date.empty()) modification_date = text;
        } else {
            if (date.empty()) date = text;
            if (c.event == "publication" && publication_date.empty()) publication_date = text;
        }
    }

    void settle_meta(collected &m) {
        static constexpr std::string_view used[] = {"title-type", "file-as", "role",
                                                    "identifier-type", "group-position"};
        if (m.refines.size() > 1 && m.refines[0] == '#') {
            for (std::string_view p : used)
                if (m.property == p) {
                    refinements_.try_emplace(m.refines.substr(1) + '\n' + m.property,
                                             refinement{std::move(m.text), m.scheme});
                    break;
                }
            return;
        }
        if (!m.refines.empty()) return;
        if (m.property == "group-position" && loose_position.empty())
            loose_position = trim(m.text);
        if (m.property == "dcterms:modified" && modified_meta.empty())
            modified_meta = trim(m.text);
        if (m.property == "belongs-to-collection") series.push_back({trim(m.text), m.id});
        if (m.property == "cover" && !trim(m.text).empty()) cover_named(trim(m.text));
    }
};

void read_titles(const opf_handler &h, eb_record &r) {
    const title_elem *main = nullptr, *sub = nullptr;
    for (const title_elem &e : h.titles) {
        std::string type = lower(h.refined_text(e.id, "title-type"));
        if (type == "main" && !main) main = &e;
        if (type == "subtitle" && !sub) sub = &e;
    }
    // EPUB 3 names its main title; otherwise the first title is the title.
    const title_elem *t = main ? main : h.titles.empty() ? nullptr : &h.titles.front();
    if (t) {
        r.title = trim(t->text);
        r.title_sort = h.refined_text(t->id, "file-as");
        if (r.title_sort.empty()) r.title_sort = t->file_as;
    }
    if (sub && sub != t) r.subtitle = trim(sub->text);
    if (r.title_sort.empty()) r.title_sort = h.title_sort_meta;
}

void read_people(const opf_handler &h, eb_record &r) {
    for (const person_elem &e : h.people) {
        eb_person p{trim(e.text), h.refined_text(e.id, "file-as"),
                    lower(h.refined_text(e.id, "role"))};
        if (p.name.empty()) continue;
        if (p.sort.empty()) p.sort = e.file_as;
        if (p.role.empty()) p.role = lower(e.role);
        // A creator whose role is unstated is an author; a contributor is not.
        if (p.role.empty()) p.role = e.creator ? "aut" : "ctb";
        (p.role == "aut" ? r.authors : r.contributors).push_back(std::move(p));
    }
}

// Every series in document order of the meta that names it, so the first is
// the one the book's first series meta names; a name stated twice (calibre
// writes both forms) is one series.
void read_series(const opf_handler &h, eb_record &r) {
    std::unordered_map<std::string, std::size_t> seen;  // name -> place in r.series
    for (const series_elem &m : h.series) {
        eb_series s{m.name, m.calibre_first ? h.calibre_index
                                             : h.refined_text(m.id, "group-position")};
        if (s.name.empty()) continue;
        auto [at, fresh] = seen.emplace(s.name, r.series.size());
        if (!fresh) {
            eb_series &have = r.series[at->second];
            if (have.index.empty()) have.index = s.index;
            continue;
        }
        r.series.push_back(std::move(s));
    }
    if (!r.series.empty() && r.series[0].index.empty()) r.series[0].index = h.loose_position;
}

void read_identifiers(const opf_handler &h, eb_record &r) {
    for (const identifier_elem &e : h.identifiers) {
        std::string scheme = e.scheme;
        if (const refinement *t = h.refined(e.id, "identifier-type")) {
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
        r.identifiers.push_back(eb_classify_identifier(scheme, value));
    }
}

void read_dates(const opf_handler &h, eb_record &r) {
    r.modified = h.modification_date;
    r.published = !h.publication_date.empty() ? h.publication_date : h.date;
    if (!h.modified_meta.empty()) r.modified = h.modified_meta;
    if (r.modified.empty()) r.modified = h.dcterms_modified;
    if (!r.languages.empty()) r.language = r.languages[0];
}

}  // namespace

void eb_opf_read(std::string_view opf, eb_record &r, eb_opf_cover *cover) {
    opf_handler h(r);
    eb_xml_result res = eb_xml_read(opf, h);
    if (!h.version.empty()) r.version = h.version;
    read_titles(h, r);
    read_people(h, r);
    read_series(h, r);
    read_identifiers(h, r);
    read_dates(h, r);
    *cover = h.cover();
    if (!res.encoding.empty()) r.encoding = res.encoding;
    for (std::string &w : res.warnings)
        r.warnings.push_back("package document: " + w);
}
