// xml_tree.h - the elements of a well-formed document with their byte offsets, for edits in place.
#ifndef QUENFOLD_TEXT_XML_TREE_H
#define QUENFOLD_TEXT_XML_TREE_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// One element as it lies in the document's own bytes (whatever its
// encoding): an edit replaces a byte range and leaves every other byte alone.
struct eb_xml_elem {
    int parent = -1;       // index of the parent among the kept elements, -1 for the root
    int depth = 1;         // the root is 1
    std::string qname;     // as written, UTF-8
    std::string ns;        // the namespace its prefix is bound to in scope; "" for none
    bool unbound = false;  // it has a prefix that nothing in scope declares
    std::vector<std::pair<std::string, std::string>> attrs;  // as written; values decoded, UTF-8
    // '<' of the start tag, past its '>', '<' of the end tag, past its '>'.
    // An element written <x/> has end_start == start_end == end.
    std::uint64_t start = 0, start_end = 0, end_start = 0, end = 0;
    bool empty = false;  // written as <x/>
    std::string text;    // its text, inner markup's included, when it was kept with text

    std::string_view local() const;
    std::string_view prefix() const;
    // The value of the attribute written qname, or null.
    const std::string *attr(std::string_view qname) const;
    // The value of the first attribute with this local name, any prefix; "" if none.
    std::string_view attr_local(std::string_view local) const;
};

// What the reading keeps of an element met below `parent` (-1 for the root):
// skip (with all inside it), keep, or keep with its text.
enum class eb_xml_keep { skip, keep, text };

struct eb_xml_tree {
    std::vector<eb_xml_elem> elems;  // the kept elements, in document order
    std::string encoding;            // the declared encoding, lower case; "utf-8" when none
    int unit = 1;                    // bytes of an ASCII character: 2 in UTF-16
    bool big_endian = false;         // UTF-16 byte order
    // For a single-byte code page that expat does not know itself: the code
    // point of each byte, -1 where the byte means nothing. Empty otherwise.
    std::vector<std::int32_t> code_page;
    std::unordered_set<std::string> ids;  // the value of every id attribute in the document

    // The prefix bound to uri in scope at element e ("" for a default
    // namespace, unless named_only); false when none is. A prefix that
    // cannot begin an element's name (`xmlns:1c`) is passed over.
    bool prefix_for(int e, std::string_view uri, std::string *prefix,
                    bool named_only = false) const;
    // The value of the nearest declaration attribute decl ("xmlns",
    // "xmlns:dc") on element e or an ancestor; false when none.
    bool prefix_for_decl(int e, std::string_view decl, std::string *uri) const;
    // Whether prefix is bound (to anything) in scope at element e.
    bool prefix_bound(int e, std::string_view prefix) const;
    // The kept children of element e, in order (a scan from e onwards).
    std::vector<int> children(int e) const;
};

using eb_xml_keep_fn =
    std::function<eb_xml_keep(const eb_xml_tree &, int parent, int depth, std::string_view qname)>;

// Reads a whole document strictly: any well-formedness error (a namespace
// prefix used undeclared is not one: such elements are kept with
// unbound set) fails with *error set to "line %u: <expat's words>". The
// encoding is expat's own (UTF-8, UTF-16, ISO-8859-1, US-ASCII) or any
// single-byte code page iconv knows; another fails with *error set to
// "unsupported encoding <name>". No external entity is loaded; entity
// expansion is bounded as the reader bounds it. Linear in the document.
bool eb_xml_tree_read(std::string_view doc, const eb_xml_keep_fn &keep, eb_xml_tree *out,
                      std::string *error);

// Sets the error text of a write refused because eb_xml_tree_read failed
// on the document named what: "%s is not well-formed XML; write refused,
// nothing changed (%s)", or, for an encoding no edit can be written in,
// "%s is in an encoding the writer cannot write (%s); write refused,
// nothing changed".
void eb_xml_tree_refuse(const char *what, const std::string &why);

#endif  // QUENFOLD_TEXT_XML_TREE_H
