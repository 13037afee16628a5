// epub_opf_editor.cpp - the package document's elements as the reader sees them, and the means
// of changing them: removal with refinements, fresh ids, prefixes bound where markup needs one.
#include <algorithm>

#include "error.h"
#include "formats/epub/epub_opf.h"
#include "formats/epub/epub_opf_edit.h"
#include "formats/opf_text.h"

namespace {

constexpr std::string_view kOpfNs = "http://www.idpf.org/2007/opf";

std::string lower_local(std::string_view qname) {
    return eb_opf::lower(std::string(eb_opf::local_of(qname)));
}

// What the document's reading keeps: the package, its metadata (each entry
// with its text, OEB 1.2's dc-metadata and x-metadata wrappers included),
// and the items of the manifest, spine and guide.
eb_xml_keep keep(const eb_xml_tree &t, int parent, int depth, std::string_view qname) {
    const std::string local = lower_local(qname);
    if (depth == 1) return eb_xml_keep::keep;
    const std::string up =
        parent >= 0 ? lower_local(t.elems[static_cast<std::size_t>(parent)].qname) : std::string();
    if (depth == 2)
        return local == "metadata" || local == "manifest" || local == "spine" || local == "guide"
                   ? eb_xml_keep::keep
                   : eb_xml_keep::skip;
    if (depth == 3 && up == "metadata")
        return local == "dc-metadata" || local == "x-metadata" ? eb_xml_keep::keep
                                                               : eb_xml_keep::text;
    if (depth == 3) return eb_xml_keep::keep;
    if (depth == 4 && (up == "dc-metadata" || up == "x-metadata")) return eb_xml_keep::text;
    return eb_xml_keep::skip;
}

}  // namespace

bool eb_opf_editor::read() {
    std::string why;
    if (!eb_xml_tree_read(doc_, keep, &t, &why)) {
        eb_xml_tree_refuse(member_.c_str(), why);
        return false;
    }
    p.emplace(doc_, t);
    gone_.assign(t.elems.size(), false);
    if (t.elems.empty() || lower_local(t.elems[0].qname) != "package") {
        eb_set_error("%s has no package element; write refused, nothing changed", member_.c_str());
        return false;
    }
    package = 0;
    for (int i = 1; i < static_cast<int>(t.elems.size()); ++i) {
        const eb_xml_elem &e = el(i);
        const std::string local = lower_local(e.qname);
        if (e.depth == 2) {
            int *slot = local == "metadata"   ? &metadata
                        : local == "manifest" ? &manifest
                        : local == "spine"    ? &spine
                                              : &guide;
            if (*slot < 0) *slot = i;
        } else if (e.depth >= 3 && metadata >= 0 && e.start > el(metadata).start &&
                   e.end <= el(metadata).end) {
            if (local == "dc-metadata" && dc_parent < 0) dc_parent = i;
            if (local == "x-metadata" && meta_parent < 0) meta_parent = i;
            if (local != "dc-metadata" && local != "x-metadata") entries.push_back(i);
        }
    }
    if (metadata < 0) {
        eb_set_error("%s has no metadata element; write refused, nothing changed", member_.c_str());
        return false;
    }
    if (dc_parent < 0) dc_parent = metadata;
    if (meta_parent < 0) meta_parent = metadata;
    const std::string version = eb_opf::trim(el(package).attr_local("version"));
    epub3 = !version.empty() && version[0] >= '3' && version[0] <= '9';
    unique_id = eb_opf::trim(el(package).attr_local("unique-identifier"));
    // Metas and links both refine: either goes with what it refines.
    for (int e : entries) {
        const std::string r = meta_attr(e, "refines");
        if (r.size() > 1 && r[0] == '#') refiners_[r.substr(1)].push_back(e);
    }
    return true;
}

std::string eb_opf_editor::dc_local(int e) const {
    const eb_xml_elem &x = el(e);
    if (x.local() == "meta" || (x.ns == kDcTermsNs && x.local() == "modified")) return "";
    static constexpr std::string_view names[] = {
        "title", "creator",     "contributor", "language", "identifier", "publisher",
        "date",  "description", "subject",     "rights",   "source",     "type"};
    const std::string l = eb_opf::lower(std::string(x.local()));
    for (std::string_view n : names)
        if (l == n) return l;
    return "";
}

std::string eb_opf_editor::meta_attr(int e, std::string_view local) const {
    return eb_opf::trim(el(e).attr_local(local));
}

std::string eb_opf_editor::refined(int e, std::string_view property) const {
    const std::string id(el(e).attr_local("id"));
    const auto it = refiners_.find(id);
    if (id.empty() || it == refiners_.end()) return "";
    for (int m : it->second)
        if (meta_attr(m, "property") == property) return eb_opf::trim(el(m).text);
    return "";
}

std::string eb_opf_editor::role_of(int e) const {
    std::string role = eb_opf::lower(refined(e, "role"));
    if (role.empty()) role = eb_opf::lower(eb_opf::trim(el(e).attr_local("role")));
    if (role.empty()) role = dc_local(e) == "creator" ? "aut" : "ctb";
    return role;
}

std::vector<int> eb_opf_editor::entries_named(std::string_view dc) const {
    std::vector<int> out;
    for (int e : entries)
        if (dc_local(e) == dc) out.push_back(e);
    return out;
}

std::vector<int> eb_opf_editor::metas(std::string_view attr, std::string_view value) const {
    std::vector<int> out;
    for (int e : entries)
        if (is_meta(e) && meta_attr(e, attr) == value &&
            (attr != "property" || meta_attr(e, "refines").empty()))
            out.push_back(e);
    return out;
}

// Refinements may refine refinements, in chains as long as a document
// makes them: they are followed with a list, not by recursion.
void eb_opf_editor::drop(int e) {
    std::vector<int> todo{e};
    while (!todo.empty()) {
        const int x = todo.back();
        todo.pop_back();
        if (gone_[static_cast<std::size_t>(x)]) continue;
        gone_[static_cast<std::size_t>(x)] = true;
        p->remove(el(x));
        const std::string id(el(x).attr_local("id"));
        if (const auto it = refiners_.find(id); !id.empty() && it != refiners_.end())
            todo.insert(todo.end(), it->second.begin(), it->second.end());
    }
}

std::string eb_opf_editor::fresh_id(const std::string &base) {
    std::string id = base;
    for (int n = 2; t.ids.count(id); ++n)
        id = base + "-" + std::to_string(n);
    t.ids.insert(id);
    return id;
}

std::string eb_opf_editor::id_of(int e) {
    std::string id(el(e).attr_local("id"));
    if (!id.empty()) return id;
    id = fresh_id(std::string(el(e).local()));
    p->set_attr(el(e), "id", id);
    return id;
}

// The prefix for uri in new markup: the one the metadata element has in
// scope, else `want` (or want2, want3... when that one names another
// namespace) declared on the metadata element.
std::string eb_opf_editor::bind(std::string_view uri, std::string_view want) {
    const std::string key(uri);
    if (const auto it = prefixes_.find(key); it != prefixes_.end()) return it->second;
    std::string prefix;
    bool found = false;
    for (int at : {dc_parent, metadata}) {
        std::string pf;
        if (!found && t.prefix_for(at, uri, &pf, true)) {
            prefix = pf;
            found = true;
        }
    }
    if (!found) {
        prefix = want;
        for (int n = 2; t.prefix_bound(metadata, prefix); ++n)
            prefix = std::string(want) + std::to_string(n);
        p->set_attr(el(metadata), "xmlns:" + prefix, std::string(uri));
    }
    prefixes_[key] = prefix;
    return prefix;
}

std::string eb_opf_editor::dc(std::string_view local) {
    // A document whose default namespace is Dublin Core writes its names bare.
    std::string pf;
    if (t.prefix_for(dc_parent, kDcNs, &pf) && pf.empty() && !prefixes_.count(std::string(kDcNs)))
        return std::string(local);
    return bind(kDcNs, "dc") + ":" + std::string(local);
}

std::string eb_opf_editor::opf_attr(std::string_view local) {
    return bind(kOpfNs, "opf") + ":" + std::string(local);
}

std::string eb_opf_editor::in_package_ns(int parent, std::string_view local) const {
    const std::string_view prefix = el(parent).prefix();
    return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + std::string(local);
}

void eb_opf_editor::put(int anchor, int parent, const std::string &bytes) {
    if (anchor >= 0)
        p->insert_after(el(anchor), bytes);
    else
        p->append_child(el(parent), bytes);
}
