// epub_opf_edit.cpp - the metadata fields of a write, written as each EPUB version expects.
//
// Rules where the formats leave a choice:
// - An element is changed in place where one stands for the field (the main
//   title's text); otherwise the field's elements (with the metas that
//   refine them) are removed and the new ones written where the first stood,
//   else at the end of the metadata.
// - EPUB 3 writes refinements: file-as, role (scheme marc:relators for
//   three-letter codes), title-type subtitle, belongs-to-collection with
//   collection-type "series" and group-position, identifier-type for a
//   scheme its value does not show, and dcterms:modified set to the time of
//   the write. EPUB 2 writes opf:role, opf:file-as, opf:scheme and
//   opf:event attributes and calibre's series and title_sort metas, and
//   holds one series and no subtitle.
// - The package's unique identifier is never changed or removed.
// - A title and a language cannot be cleared: EPUB books require them.
#include "formats/epub/epub_opf_edit.h"
#include "error.h"
#include "formats/opf_text.h"
#include "record/identifiers.h"
#include "text/plain_markup.h"

namespace {

using attrs_t = std::vector<std::pair<std::string, std::string>>;

bool fail(const char *msg) {
    eb_set_error("%s", msg);
    return false;
}

class fields {
  public:
    fields(eb_opf_editor &ed, const eb_changes &c) : ed_(ed), c_(c) {}

    bool run() {
        if (!title() || !title_sort() || !subtitle()) return false;
        people(c_.authors, true);
        people(c_.contributors, false);
        if (!languages() || !series()) return false;
        identifiers();
        if (!isbn()) return false;
        simple("publisher", c_.publisher, false);
        simple("rights", c_.rights, false);
        simple("description", c_.description, true);
        published();
        subjects();
        modified();
        return true;
    }

  private:
    eb_opf_editor &ed_;
    const eb_changes &c_;
    int main_ = -1;             // the title the reader takes
    std::string new_title_id_;  // the id of a title written anew
    bool wrote_title_ = false;

    static int first(const std::vector<int> &v) { return v.empty() ? -1 : v.front(); }

    void emit(int anchor, int parent, const std::vector<std::string> &pieces) {
        for (const std::string &s : pieces)
            ed_.put(anchor, parent, s);
    }

    std::string refine(const std::string &id, const char *property, const std::string &value,
                       const char *scheme = nullptr) {
        attrs_t a{{"refines", "#" + id}, {"property", property}};
        if (scheme) a.emplace_back("scheme", scheme);
        return ed_.elem(ed_.in_package_ns(ed_.metadata, "meta"), a, value);
    }

    std::string meta_named(const char *name, const std::string &content) {
        return ed_.elem(ed_.in_package_ns(ed_.metadata, "meta"),
                        {{"name", name}, {"content", content}}, "");
    }

    bool title() {
        const std::vector<int> titles = ed_.entries_named("title");
        for (int e : titles)
            if (main_ < 0 && eb_opf::lower(ed_.refined(e, "title-type")) == "main") main_ = e;
        if (main_ < 0) main_ = first(titles);
        if (c_.title.clears()) return fail("cannot clear title: EPUB books require one");
        if (!c_.title.sets()) return true;
        if (main_ >= 0) {
            ed_.p->set_text(ed_.el(main_), *c_.title.value);
            return true;
        }
        attrs_t a;
        if (ed_.epub3 && (c_.title_sort.sets() || c_.subtitle.sets()))
            a.emplace_back("id", new_title_id_ = ed_.fresh_id("title"));
        emit(-1, ed_.dc_parent, {ed_.elem(ed_.dc("title"), a, *c_.title.value)});
        wrote_title_ = true;
        return true;
    }

    // The main title's own file-as attribute, written as the document writes it.
    std::string file_as_attr() const {
        for (const auto &a : ed_.el(main_).attrs)
            if (eb_opf::local_of(a.first) == "file-as") return a.first;
        return "";
    }

    bool title_sort() {
        if (!c_.title_sort.given) return true;
        if (main_ < 0 && !wrote_title_) return fail("title_sort: the book states no title");
        const std::vector<int> calibre = ed_.metas("name", "calibre:title_sort");
        if (main_ >= 0) {
            for (int m : refinements(main_, "file-as"))
                ed_.drop(m);
        }
        const std::string attr = main_ >= 0 ? file_as_attr() : "";
        if (!c_.title_sort.sets()) {
            if (!attr.empty()) ed_.p->remove_attr(ed_.el(main_), attr);
            for (int m : calibre)
                ed_.drop(m);
            return true;
        }
        const std::string &v = *c_.title_sort.value;
        if (ed_.epub3) {
            if (!attr.empty()) ed_.p->remove_attr(ed_.el(main_), attr);
            for (int m : calibre)
                ed_.drop(m);
            const std::string id = main_ >= 0 ? ed_.id_of(main_) : new_title_id_;
            emit(main_, ed_.dc_parent, {refine(id, "file-as", v)});
            return true;
        }
        if (!attr.empty()) {
            ed_.p->set_attr(ed_.el(main_), attr, v);
            for (int m : calibre)
                ed_.drop(m);
        } else if (!calibre.empty()) {
            ed_.p->set_attr(ed_.el(calibre[0]), "content", v);
            for (std::size_t i = 1; i < calibre.size(); ++i)
                ed_.drop(calibre[i]);
        } else {
            emit(-1, ed_.meta_parent, {meta_named("calibre:title_sort", v)});
        }
        return true;
    }

    // The metas refining element e with a property.
    std::vector<int> refinements(int e, std::string_view property) const {
        std::vector<int> out;
        const std::string id(ed_.el(e).attr_local("id"));
        if (id.empty()) return out;
        for (int m : ed_.entries)
            if (ed_.is_meta(m) && ed_.meta_attr(m, "refines") == "#" + id &&
                ed_.meta_attr(m, "property") == property)
                out.push_back(m);
        return out;
    }

    bool subtitle() {
        if (!c_.subtitle.given) return true;
        if (!ed_.epub3) return fail("subtitle: not stored by EPUB 2 books");
        std::vector<int> subs;
        for (int e : ed_.entries_named("title"))
            if (e != main_ && eb_opf::lower(ed_.refined(e, "title-type")) == "subtitle")
                subs.push_back(e);
        const bool reuse = c_.subtitle.sets() && !subs.empty();
        for (std::size_t i = reuse ? 1 : 0; i < subs.size(); ++i)
            ed_.drop(subs[i]);
        if (reuse) ed_.p->set_text(ed_.el(subs[0]), *c_.subtitle.value);
        if (!c_.subtitle.sets() || reuse) return true;
        if (main_ < 0 && !wrote_title_) return fail("subtitle: the book states no title");
        const std::string id = ed_.fresh_id("subtitle");
        emit(main_, ed_.dc_parent,
             {ed_.elem(ed_.dc("title"), {{"id", id}}, *c_.subtitle.value),
              refine(id, "title-type", "subtitle")});
        return true;
    }

    void people(const eb_field_change<std::vector<eb_person>> &f, bool authors) {
        if (!f.given) return;
        std::vector<int> old;
        for (int e : ed_.entries) {
            const std::string dc = ed_.dc_local(e);
            if ((dc == "creator" || dc == "contributor") && !eb_opf::trim(ed_.el(e).text).empty() &&
                (ed_.role_of(e) == "aut") == authors)
                old.push_back(e);
        }
        const int anchor = first(old);
        for (int e : old)
            ed_.drop(e);
        if (!f.value) return;
        const char *tag = authors ? "creator" : "contributor";
        for (const eb_person &p : *f.value) {
            if (!ed_.epub3) {
                attrs_t a{{ed_.opf_attr("role"), p.role}};
                if (!p.sort.empty()) a.emplace_back(ed_.opf_attr("file-as"), p.sort);
                emit(anchor, ed_.dc_parent, {ed_.elem(ed_.dc(tag), a, p.name)});
                continue;
            }
            const std::string id = ed_.fresh_id(tag);
            std::vector<std::string> pieces{
                ed_.elem(ed_.dc(tag), {{"id", id}}, p.name),
                refine(id, "role", p.role, p.role.size() == 3 ? "marc:relators" : nullptr)};
            if (!p.sort.empty()) pieces.push_back(refine(id, "file-as", p.sort));
            emit(anchor, ed_.dc_parent, pieces);
        }
    }

    bool languages() {
        if (!c_.languages.given) return true;
        if (!c_.languages.value) return fail("cannot clear language: EPUB books require one");
        const std::vector<int> old = ed_.entries_named("language");
        for (int e : old)
            ed_.drop(e);
        for (const std::string &l : *c_.languages.value)
            emit(first(old), ed_.dc_parent, {ed_.elem(ed_.dc("language"), {}, l)});
        return true;
    }

    bool series() {
        if (!c_.series.given) return true;
        if (!ed_.epub3 && c_.series.value && c_.series.value->size() > 1)
            return fail("series: EPUB 2 books store one series");
        std::vector<int> old;
        for (int e : ed_.entries) {
            if (!ed_.is_meta(e)) continue;
            const std::string name = ed_.meta_attr(e, "name");
            const std::string prop = ed_.meta_attr(e, "property");
            const bool loose = ed_.meta_attr(e, "refines").empty();
            if (name == "calibre:series" || name == "calibre:series_index" ||
                (loose && (prop == "belongs-to-collection" || prop == "group-position")))
                old.push_back(e);
        }
        for (int e : old)
            ed_.drop(e);
        if (!c_.series.value) return true;
        for (const eb_series &s : *c_.series.value) {
            std::vector<std::string> pieces;
            if (ed_.epub3) {
                const std::string id = ed_.fresh_id("series");
                pieces.push_back(ed_.elem(ed_.in_package_ns(ed_.metadata, "meta"),
                                          {{"property", "belongs-to-collection"}, {"id", id}},
                                          s.name));
                pieces.push_back(refine(id, "collection-type", "series"));
                if (!s.index.empty()) pieces.push_back(refine(id, "group-position", s.index));
            } else {
                pieces.push_back(meta_named("calibre:series", s.name));
                if (!s.index.empty()) pieces.push_back(meta_named("calibre:series_index", s.index));
            }
            emit(first(old), ed_.meta_parent, pieces);
        }
        return true;
    }

    // An identifier as the reader names it: its scheme attribute or
    // identifier-type refinement, then the value's own form.
    eb_identifier classified(int e) const {
        std::string scheme = eb_opf::trim(ed_.el(e).attr_local("scheme"));
        const std::string type = ed_.refined(e, "identifier-type");
        if (!type.empty() && scheme.empty()) scheme = type;
        return eb_classify_identifier(scheme, eb_opf::trim(ed_.el(e).text));
    }

    int unique() const {
        for (int e : ed_.entries_named("identifier"))
            if (!ed_.unique_id.empty() && std::string(ed_.el(e).attr_local("id")) == ed_.unique_id)
                return e;
        return -1;
    }

    // A new identifier element, its scheme shown by the value where it can
    // be (urn:isbn:), else by an attribute or a refinement.
    std::vector<std::string> identifier(const eb_identifier &id) {
        const std::string q = ed_.dc("identifier");
        if (!ed_.epub3) {
            const std::string scheme = id.scheme == "isbn" ? "ISBN" : id.scheme;
            return {ed_.elem(q, {{ed_.opf_attr("scheme"), scheme}}, id.value)};
        }
        if (id.scheme == "isbn") return {ed_.elem(q, {}, "urn:isbn:" + id.value)};
        const eb_identifier plain = eb_classify_identifier("", id.value);
        if (plain.scheme == id.scheme && plain.value == id.value)
            return {ed_.elem(q, {}, id.value)};
        const std::string xid = ed_.fresh_id("identifier");
        return {ed_.elem(q, {{"id", xid}}, id.value), refine(xid, "identifier-type", id.scheme)};
    }

    void identifiers() {
        if (!c_.identifiers.given) return;
        const int u = unique();
        std::vector<int> old;
        for (int e : ed_.entries_named("identifier"))
            if (e != u) old.push_back(e);
        for (int e : old)
            ed_.drop(e);
        if (!c_.identifiers.value) return;
        const int anchor = !old.empty() ? old.front() : u;
        for (const eb_identifier &id : *c_.identifiers.value) {
            if (u >= 0) {
                const eb_identifier have = classified(u);
                if (have.scheme == id.scheme && have.value == id.value) continue;
            }
            emit(anchor, ed_.dc_parent, identifier(id));
        }
    }

    bool isbn() {
        if (!c_.isbn.given) return true;
        const int u = unique();
        const eb_identifier have = u >= 0 ? classified(u) : eb_identifier{};
        const bool unique_isbn = have.scheme == "isbn" || have.scheme == "isbn-invalid";
        if (unique_isbn && !c_.isbn.sets())
            return fail("isbn: the book's unique identifier is this ISBN; it is never changed");
        int anchor = -1;
        for (int e : ed_.entries_named("identifier")) {
            if (e == u) continue;
            const eb_identifier id = classified(e);
            if (id.scheme != "isbn" && id.scheme != "isbn-invalid") continue;
            if (anchor < 0 && !ed_.dropped(e)) anchor = e;
            ed_.drop(e);
        }
        if (!c_.isbn.sets() || (have.scheme == "isbn" && have.value == *c_.isbn.value)) return true;
        const std::vector<std::string> pieces = identifier({"isbn", *c_.isbn.value});
        // The record's isbn is the first the book states: before an ISBN
        // that is the unique identifier.
        if (unique_isbn) {
            for (const std::string &s : pieces)
                ed_.p->insert_before(ed_.el(u), s);
        } else {
            emit(anchor >= 0 ? anchor : u, ed_.dc_parent, pieces);
        }
        return true;
    }

    void simple(const char *dc, const eb_field_change<std::string> &f, bool markup) {
        if (!f.given) return;
        const std::vector<int> old = ed_.entries_named(dc);
        for (int e : old)
            ed_.drop(e);
        if (f.value)
            emit(first(old), ed_.dc_parent,
                 {ed_.elem(ed_.dc(dc), {}, markup ? eb_plain_to_markup(*f.value) : *f.value)});
    }

    void published() {
        if (!c_.published.given) return;
        std::vector<int> old;
        for (int e : ed_.entries_named("date")) {
            const std::string event = eb_opf::lower(eb_opf::trim(ed_.el(e).attr_local("event")));
            // A set replaces the date and the publication date; a clear
            // every date that would read as the publication's.
            if (ed_.epub3 || event.empty() || event == "publication" ||
                (!c_.published.sets() && event != "modification"))
                old.push_back(e);
        }
        for (int e : old)
            ed_.drop(e);
        if (!c_.published.value) return;
        attrs_t a;
        if (!ed_.epub3) a.emplace_back(ed_.opf_attr("event"), "publication");
        emit(first(old), ed_.dc_parent, {ed_.elem(ed_.dc("date"), a, *c_.published.value)});
    }

    void subjects() {
        if (!c_.subjects.given) return;
        const std::vector<int> old = ed_.entries_named("subject");
        for (int e : old)
            ed_.drop(e);
        if (c_.subjects.value)
            for (const std::string &s : *c_.subjects.value)
                emit(first(old), ed_.dc_parent, {ed_.elem(ed_.dc("subject"), {}, s)});
    }

    // EPUB 3 states when the book was last changed: now.
    void modified() {
        if (!ed_.epub3 || c_.now.empty()) return;
        const std::vector<int> m = ed_.metas("property", "dcterms:modified");
        if (m.empty()) {
            emit(-1, ed_.meta_parent,
                 {ed_.elem(ed_.in_package_ns(ed_.metadata, "meta"),
                           {{"property", "dcterms:modified"}}, c_.now)});
            return;
        }
        ed_.p->set_text(ed_.el(m[0]), c_.now);
        for (std::size_t i = 1; i < m.size(); ++i)
            ed_.drop(m[i]);
    }
};

}  // namespace

bool eb_opf_edit(std::string_view doc, const std::string &member, const eb_changes &c,
                 eb_opf_cover_plan *cover, std::string *out) {
    eb_opf_editor ed(doc, member);
    if (!ed.read()) return false;
    if (!fields(ed, c).run()) return false;
    if (c.cover.given && !eb_opf_edit_cover(ed, c, cover)) return false;
    if (!ed.p->apply(out)) {
        eb_set_error("cannot edit %s: two changes overlap", member.c_str());
        return false;
    }
    return true;
}
