// epub_opf_cover.cpp - a new cover image: its member, its manifest item, the old one's fate.
//
// Rules where the formats leave a choice:
// - The cover the book names (an item with the cover-image property, or the
//   one <meta name="cover"> names) is replaced: its member and item leave
//   the book when nothing else refers to them (the spine, another item's
//   fallback, the guide, or the text of another member); otherwise they
//   stay as an ordinary image, no longer marked as the cover.
// - The new image is stored (images are compressed already) beside the old
//   cover, under the old name when that one leaves, else as "cover.EXT"
//   (cover-2.EXT... when taken), in the package's folder for a book that
//   named no cover.
// - EPUB 3 marks it with properties="cover-image"; EPUB 2 with <meta
//   name="cover">, which EPUB 3 books that have one keep pointing at it.
#include "error.h"
#include "formats/epub/epub_opf_edit.h"
#include "formats/opf_text.h"

namespace {

std::string dir_part(const std::string &member) {
    const std::size_t slash = member.rfind('/');
    return slash == std::string::npos ? std::string() : member.substr(0, slash + 1);
}

// member as an href from the package's folder, percent-encoded.
std::string href_to(const std::string &package_dir, const std::string &member) {
    std::string rel;
    std::string dir = package_dir;
    while (!dir.empty() && member.compare(0, dir.size(), dir) != 0) {
        dir.pop_back();
        dir.erase(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/') + 1);
        rel += "../";
    }
    rel += member.substr(dir.size());
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : rel) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

class cover_edit {
  public:
    cover_edit(eb_opf_editor &ed, const eb_changes &c, eb_opf_cover_plan &plan)
        : ed_(ed), c_(c), plan_(plan) {}

    bool run() {
        items_ = ed_.manifest >= 0 ? ed_.t.children(ed_.manifest) : std::vector<int>{};
        const std::vector<int> named = ed_.metas("name", "cover");
        std::string cover_id = named.empty() ? "" : ed_.meta_attr(named[0], "content");
        for (int m : ed_.metas("property", "cover"))
            if (cover_id.empty()) cover_id = eb_opf::trim(ed_.el(m).text);
        int old = -1;
        for (int it : items_) {
            const eb_xml_elem &e = ed_.el(it);
            if (e.local() != "item") continue;
            if (eb_opf::has_token(e.attr_local("properties"), "cover-image") ||
                (!cover_id.empty() && std::string(e.attr_local("id")) == cover_id)) {
                old = it;
                break;
            }
        }
        bool removed = false;
        std::string old_member;
        if (old >= 0) {
            old_member = plan_.member(std::string(ed_.el(old).attr_local("href")));
            removed = !referenced(old, old_member);
            if (removed) {
                ed_.drop(old);
                plan_.remove_member = old_member;
            } else {
                unmark(old);
            }
        }
        if (!c_.cover.value) {
            for (int m : named)
                ed_.drop(m);
            return true;
        }
        const eb_cover_image &img = *c_.cover.value;
        plan_.add_member = member_name(old_member, removed, img.extension);
        const std::string id = ed_.fresh_id("cover-image");
        std::vector<std::pair<std::string, std::string>> a{
            {"id", id},
            {"href", href_to(plan_.package_dir, plan_.add_member)},
            {"media-type", img.mime}};
        if (ed_.epub3) a.emplace_back("properties", "cover-image");
        const std::string item = ed_.elem(ed_.in_package_ns(ed_.manifest, "item"), a, "");
        if (removed)
            ed_.p->insert_after(ed_.el(old), item);
        else
            ed_.p->append_child(ed_.el(ed_.manifest), item);
        if (!named.empty()) {
            ed_.p->set_attr(ed_.el(named[0]), "content", id);
            for (std::size_t i = 1; i < named.size(); ++i)
                ed_.drop(named[i]);
        } else if (!ed_.epub3) {
            ed_.put(-1, ed_.meta_parent,
                    ed_.elem(ed_.in_package_ns(ed_.metadata, "meta"),
                             {{"name", "cover"}, {"content", id}}, ""));
        }
        return true;
    }

  private:
    eb_opf_editor &ed_;
    const eb_changes &c_;
    eb_opf_cover_plan &plan_;
    std::vector<int> items_;

    // Whether anything but its own item and the cover metas refers to the
    // old cover: the spine, another item, the guide, another member.
    bool referenced(int old, const std::string &member) const {
        const std::string id(ed_.el(old).attr_local("id"));
        for (int i = 0; i < static_cast<int>(ed_.t.elems.size()); ++i) {
            if (i == old) continue;
            const eb_xml_elem &e = ed_.el(i);
            if (!id.empty() && (e.attr_local("idref") == id || e.attr_local("fallback") == id))
                return true;
            const std::string_view href = e.attr_local("href");
            if (!href.empty() && plan_.member(std::string(href)) == member) return true;
        }
        return member.empty() || plan_.referenced(member);
    }

    // The old image stays as an ordinary one: no cover-image property.
    void unmark(int old) {
        const eb_xml_elem &e = ed_.el(old);
        std::string kept;
        std::string_view props = e.attr_local("properties");
        for (std::size_t i = 0; i < props.size();) {
            std::size_t end = props.find_first_of(" \t\r\n", i);
            if (end == std::string_view::npos) end = props.size();
            const std::string_view tok = props.substr(i, end - i);
            if (!tok.empty() && tok != "cover-image")
                kept += (kept.empty() ? "" : " ") + std::string(tok);
            i = end + 1;
        }
        for (const auto &a : e.attrs)
            if (eb_opf::local_of(a.first) == "properties") {
                if (kept.empty())
                    ed_.p->remove_attr(e, a.first);
                else
                    ed_.p->set_attr(e, a.first, kept);
            }
    }

    std::string member_name(const std::string &old, bool removed, const std::string &ext) const {
        const std::string dir = old.empty() ? plan_.package_dir : dir_part(old);
        if (removed) {
            std::string stem = old.substr(dir.size());
            const std::size_t dot = stem.rfind('.');
            if (dot != std::string::npos && dot > 0) stem.resize(dot);
            const std::string same = dir + stem + "." + ext;
            if (same == old || !plan_.exists(same)) return same;
        }
        std::string name = dir + "cover." + ext;
        for (int n = 2; plan_.exists(name) && name != (removed ? old : ""); ++n)
            name = dir + "cover-" + std::to_string(n) + "." + ext;
        return name;
    }
};

}  // namespace

bool eb_opf_edit_cover(eb_opf_editor &ed, const eb_changes &c, eb_opf_cover_plan *plan) {
    if (ed.manifest < 0) {
        eb_set_error("cover: the package document has no manifest");
        return false;
    }
    return cover_edit(ed, c, *plan).run();
}
