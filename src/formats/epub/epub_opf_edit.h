// epub_opf_edit.h - a package document edited in place: what a write request changes in it.
#ifndef QUENFOLD_FORMATS_EPUB_EPUB_OPF_EDIT_H
#define QUENFOLD_FORMATS_EPUB_EPUB_OPF_EDIT_H

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ops/write/writer.h"
#include "text/xml_patch.h"
#include "text/xml_tree.h"

// What the cover's change needs of the archive, and what it asks of it.
struct eb_opf_cover_plan {
    std::string package_dir;                                 // "OEBPS/", "" at the root
    std::function<bool(const std::string &)> exists;         // a member of that name
    std::function<bool(const std::string &)> referenced;     // another member's text names it
    std::function<std::string(const std::string &)> member;  // an href's member
    std::string add_member;                                  // out: where the new image goes
    std::string remove_member;  // out: the old cover image, when nothing else refers to it
};

// Edits the package document named member (for messages) as c asks: the
// metadata children of the changed fields are replaced and everything else
// stays byte for byte. False with the error text set: the document is not
// well-formed XML, has no package or metadata, or the request cannot be
// stated in the book's EPUB version.
bool eb_opf_edit(std::string_view doc, const std::string &member, const eb_changes &c,
                 eb_opf_cover_plan *cover, std::string *out);

// The document being edited, its elements and their meaning as the reader
// sees them; shared by the metadata fields and the cover.
class eb_opf_editor {
  public:
    eb_opf_editor(std::string_view doc, const std::string &member) : doc_(doc), member_(member) {}
    bool read();  // false with the error text set

    const eb_xml_elem &el(int i) const { return t.elems[static_cast<std::size_t>(i)]; }
    // The Dublin Core name of a metadata entry ("title", "creator"...), "" for others.
    std::string dc_local(int e) const;
    bool is_meta(int e) const { return el(e).local() == "meta"; }
    std::string meta_attr(int e, std::string_view local) const;  // trimmed
    // The first refinement of element e with that property, trimmed; "".
    std::string refined(int e, std::string_view property) const;
    // The role the reader gives a creator or contributor.
    std::string role_of(int e) const;
    std::vector<int> entries_named(std::string_view dc) const;
    // Metadata meta entries whose name (or, with property, whose property) is value.
    std::vector<int> metas(std::string_view attr, std::string_view value) const;

    // Removes an element with every meta that refines it.
    void drop(int e);
    bool dropped(int e) const { return gone_[static_cast<std::size_t>(e)]; }
    // An id no element of the document has: base, or base-2, base-3...
    std::string fresh_id(const std::string &base);
    // The id of element e, given one when it has none.
    std::string id_of(int e);
    // Qualified names for new markup, binding a prefix on the metadata
    // element when the document has none for the namespace.
    std::string dc(std::string_view local);
    std::string opf_attr(std::string_view local);
    std::string in_package_ns(int parent, std::string_view local) const;
    // New elements after anchor (in its manner), or at the end of parent.
    void put(int anchor, int parent, const std::string &bytes);
    std::string elem(std::string_view qname,
                     const std::vector<std::pair<std::string, std::string>> &attrs,
                     std::string_view text) const {
        return p->element(qname, attrs, text);
    }

    eb_xml_tree t;
    std::optional<eb_xml_patch> p;
    int package = -1, metadata = -1, dc_parent = -1, meta_parent = -1;
    int manifest = -1, spine = -1, guide = -1;
    bool epub3 = false;
    std::string unique_id;     // the package's unique-identifier
    std::vector<int> entries;  // the metadata's children, document order

  private:
    std::string bind(std::string_view uri, std::string_view want);

    std::string_view doc_;
    std::string member_;
    std::unordered_map<std::string, std::vector<int>> refiners_;  // id -> metas refining it
    std::vector<bool> gone_;
    std::unordered_map<std::string, std::string> prefixes_;  // uri -> prefix chosen for new markup
};

// The cover's part of an edit (epub_opf_cover.cpp).
bool eb_opf_edit_cover(eb_opf_editor &ed, const eb_changes &c, eb_opf_cover_plan *plan);

#endif  // QUENFOLD_FORMATS_EPUB_EPUB_OPF_EDIT_H
