// fb2_doc.cpp - the FictionBook document under edit: its sections read strictly, new elements
// placed in the schema's order.
#include <algorithm>

#include "error.h"
#include "formats/fb2/fb2_edit.h"

namespace {

constexpr std::string_view kFb2Ns = "http://www.gribuser.ru/xml/fictionbook/2.0";

std::string_view local_of(std::string_view q) {
    const std::size_t colon = q.find(':');
    return colon == std::string_view::npos ? q : q.substr(colon + 1);
}

// Elements of the FictionBook vocabulary: in its namespace, or in none.
bool own(const eb_xml_elem &e) {
    return !e.unbound && (e.ns.empty() || e.ns == kFb2Ns);
}

// The description's sections and their children (with their text), the
// coverpage's image, and the binaries; the body is only checked.
eb_xml_keep keep(const eb_xml_tree &t, int parent, int depth, std::string_view qname) {
    const std::string_view local = local_of(qname);
    if (depth == 1) return eb_xml_keep::keep;
    const std::string_view up =
        parent >= 0 ? local_of(t.elems[static_cast<std::size_t>(parent)].qname) : "";
    if (depth == 2)
        return local == "description" || local == "binary" ? eb_xml_keep::keep : eb_xml_keep::skip;
    if (depth == 3) return up == "description" ? eb_xml_keep::keep : eb_xml_keep::skip;
    if (depth == 4) return eb_xml_keep::text;
    if (depth == 5 && up == "coverpage") return eb_xml_keep::keep;
    return eb_xml_keep::skip;
}

int rank(bool title, std::string_view local) {
    static constexpr std::string_view title_order[] = {
        "genre",     "author", "book-title", "annotation", "keywords", "date",
        "coverpage", "lang",   "src-lang",   "translator", "sequence"};
    static constexpr std::string_view publish_order[] = {"book-name", "publisher", "city",
                                                         "year",      "isbn",      "sequence"};
    if (title) {
        for (int i = 0; i < 11; ++i)
            if (title_order[i] == local) return i;
    } else {
        for (int i = 0; i < 6; ++i)
            if (publish_order[i] == local) return i;
    }
    return -1;
}

}  // namespace

bool eb_fb2_doc::read() {
    std::string why;
    if (!eb_xml_tree_read(doc_, keep, &t, &why)) {
        eb_xml_tree_refuse("the FictionBook document", why);
        return false;
    }
    p.emplace(doc_, t);
    gone_.assign(t.elems.size(), false);
    if (!t.elems.empty() && own(t.elems[0]) && t.elems[0].local() == "FictionBook") root = 0;
    for (int i = 1; root == 0 && i < static_cast<int>(t.elems.size()); ++i) {
        const eb_xml_elem &e = el(i);
        if (!own(e)) continue;
        if (e.depth == 2 && e.local() == "description" && description < 0) description = i;
        if (e.depth == 2 && e.local() == "binary") binaries.push_back(i);
        if (e.depth != 3 || e.parent != description) continue;
        if (e.local() == "title-info" && title_info < 0) title_info = i;
        if (e.local() == "publish-info" && publish_info < 0) publish_info = i;
        if (e.local() == "document-info" && document_info < 0) document_info = i;
    }
    if (title_info < 0) {
        eb_set_error("the FictionBook document has no title-info; write refused, nothing changed");
        return false;
    }
    prefix_ = std::string(el(description).prefix());
    if (!prefix_.empty()) prefix_ += ':';
    return true;
}

std::vector<int> eb_fb2_doc::kids(int section, std::string_view local) const {
    std::vector<int> out;
    for (int k : t.children(section))
        if (own(el(k)) && el(k).local() == local) out.push_back(k);
    return out;
}

void eb_fb2_doc::drop(int e) {
    if (gone_[static_cast<std::size_t>(e)]) return;
    gone_[static_cast<std::size_t>(e)] = true;
    p->remove(el(e));
}

std::string eb_fb2_doc::elem(std::string_view local,
                             const std::vector<std::pair<std::string, std::string>> &attrs,
                             std::string_view text) const {
    return p->element(prefix_ + std::string(local), attrs, text);
}

std::string eb_fb2_doc::elem_raw(std::string_view local,
                                 const std::vector<std::pair<std::string, std::string>> &attrs,
                                 std::string_view inner) const {
    return p->element_raw(prefix_ + std::string(local), attrs, inner);
}

void eb_fb2_doc::place(int section, std::string_view local, const std::string &bytes) {
    placed_.push_back({section, rank(section == title_info, local), bytes});
}

void eb_fb2_doc::insert(const placed &x) {
    const bool title = x.section == title_info;
    int anchor = -1, first_kept = -1;
    for (int k : t.children(x.section)) {
        const int kr = own(el(k)) ? rank(title, el(k).local()) : -1;
        if (kr >= 0 && kr <= x.rank) anchor = k;
        if (first_kept < 0 && !gone_[static_cast<std::size_t>(k)]) first_kept = k;
    }
    if (anchor >= 0)
        p->insert_after(el(anchor), x.bytes);
    else if (first_kept >= 0)
        p->insert_before(el(first_kept), x.bytes);
    else
        p->append_child(el(x.section), x.bytes);
}

void eb_fb2_doc::publish(std::string_view local, std::string bytes) {
    if (publish_info >= 0) return place(publish_info, local, bytes);
    new_publish_.emplace_back(rank(false, local), std::move(bytes));
}

void eb_fb2_doc::finish() {
    // Elements sharing a place go in the schema's order.
    std::stable_sort(placed_.begin(), placed_.end(),
                     [](const placed &a, const placed &b) { return a.rank < b.rank; });
    for (const placed &x : placed_)
        insert(x);
    if (new_publish_.empty()) return;
    std::stable_sort(new_publish_.begin(), new_publish_.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string inner;
    for (const auto &piece : new_publish_)
        inner += piece.second;
    // After document-info, else after the last title section.
    int anchor = document_info >= 0 ? document_info : title_info;
    if (document_info < 0)
        for (int k : t.children(description))
            if (own(el(k)) && el(k).local() == "src-title-info") anchor = k;
    p->insert_after(el(anchor), elem_raw("publish-info", {}, inner));
}
