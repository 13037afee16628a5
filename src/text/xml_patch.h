// xml_patch.h - edits of a document in its own bytes and encoding: elements, texts, attributes.
#ifndef QUENFOLD_TEXT_XML_PATCH_H
#define QUENFOLD_TEXT_XML_PATCH_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/xml_tree.h"

// Edits collected against one document read by eb_xml_tree_read, applied
// at once: every byte outside the edited ranges stays as it was. New text
// is written in the document's encoding; a character the encoding cannot
// hold becomes a numeric character reference. Offsets are the tree's.
class eb_xml_patch {
  public:
    eb_xml_patch(std::string_view doc, const eb_xml_tree &tree);

    // ASCII markup (names, brackets, quotes) in the document's encoding.
    std::string markup(std::string_view ascii) const;
    // UTF-8 text as character data: & < > escaped.
    std::string text(std::string_view utf8) const;
    // UTF-8 text as an attribute value between double quotes.
    std::string value(std::string_view utf8) const;
    // <qname attrs...>text</qname>, the attributes' values escaped.
    std::string element(std::string_view qname,
                        const std::vector<std::pair<std::string, std::string>> &attrs,
                        std::string_view text) const;
    // The same with children given as bytes already encoded.
    std::string element_raw(std::string_view qname,
                            const std::vector<std::pair<std::string, std::string>> &attrs,
                            std::string_view inner) const;

    void replace(std::uint64_t begin, std::uint64_t end, std::string bytes);
    void insert(std::uint64_t at, std::string bytes) { replace(at, at, std::move(bytes)); }
    // The element with the white space that leads up to it.
    void remove(const eb_xml_elem &e);
    // The element's content replaced by text (an element written <x/> opens).
    void set_text(const eb_xml_elem &e, std::string_view utf8);
    // The content replaced by bytes already encoded.
    void set_inner(const eb_xml_elem &e, std::string bytes);
    // An attribute of the start tag set (added at its end when absent) or removed.
    void set_attr(const eb_xml_elem &e, std::string_view qname, std::string_view utf8);
    void remove_attr(const eb_xml_elem &e, std::string_view qname);

    // The line break and indentation right before offset at (raw bytes),
    // "" when other text precedes it on its line.
    std::string indent_before(std::uint64_t at) const;
    // Inserts bytes (one or more elements) after element e, each on a line
    // of e's indentation when e stands on a line of its own.
    void insert_after(const eb_xml_elem &e, std::string_view bytes);
    // Inserts bytes before element e, in the same manner.
    void insert_before(const eb_xml_elem &e, std::string_view bytes);
    // Inserts bytes as the last content of e (opening an empty element).
    void append_child(const eb_xml_elem &e, std::string_view bytes);

    // The new document; false when two edits overlap (a writer's fault).
    bool apply(std::string *out) const;
    // The same in pieces handed to sink in order (a long document is not
    // copied whole); false when two edits overlap or sink fails.
    bool apply(const std::function<bool(std::string_view)> &sink) const;
    bool empty() const { return edits_.empty(); }

  private:
    struct edit {
        std::uint64_t begin, end;
        std::string bytes;
        std::size_t order;
    };
    struct tag_attr {
        std::string name;
        std::uint64_t name_at, value_at, value_end;  // value_end: its closing quote
    };
    std::vector<tag_attr> scan_tag(const eb_xml_elem &e) const;
    std::uint32_t unit_at(std::uint64_t at) const;
    void put(std::string &out, std::uint32_t cp, bool escape_as_ref) const;
    std::string encode(std::string_view utf8, int escape) const;  // 0 none, 1 text, 2 attribute
    // Where new attributes go: before "/>" or ">".
    std::uint64_t tag_close(const eb_xml_elem &e) const;

    std::string_view doc_;
    const eb_xml_tree &tree_;
    std::vector<edit> edits_;
    std::unordered_map<std::int32_t, unsigned char> reverse_;  // code page: code point -> byte
};

#endif  // QUENFOLD_TEXT_XML_PATCH_H
