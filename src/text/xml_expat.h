// xml_expat.h - expat's side of the lenient reader: the thread's parser, names as expat gives
// them, and the texts a restart writes.
#ifndef QUENFOLD_TEXT_XML_EXPAT_H
#define QUENFOLD_TEXT_XML_EXPAT_H

// Debian's expat is built with DTD support; the define makes its entity
// expansion limits visible.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace eb_xml {

constexpr char kSep = '\n';  // between URI, local name and prefix; no XML name holds it

// A namespace for a prefix that a document uses without declaring it: the
// usual binding of the prefixes books use, else a private URI.
std::string guess_namespace(std::string_view prefix);

// v as an attribute value between double quotes.
std::string attr_escape(std::string_view v);

// The declaration of a general entity with this replacement text: the
// characters a literal treats specially become character references.
std::string entity_declaration(std::string_view name, std::string_view value);

// An ASCII XML name without a colon: what a prefix bound by the reader's
// own declaration may be.
bool plain_name(std::string_view s);

// The prefixes of the names in a start tag's text (element and attributes)
// that the reader may bind itself: plain names other than xml and xmlns.
std::vector<std::string_view> tag_prefixes(std::string_view tag);

// The prefixes of the start tag whose '<' is at or before `at` in text that
// are bound nowhere: each new one is added to `bound` (64 at most), with a
// warning naming the namespace it is taken as. The offset of that tag when
// any was added, where the reading may resume; else npos.
std::size_t bind_tag_prefixes(std::string_view text, std::size_t at,
                              std::set<std::string, std::less<>> &bound,
                              std::vector<std::string> &warnings);

// The name of the end tag whose '<' is at or before `at` in text, without
// trailing white space; *after is the offset past its '>', 0 when there is
// no end tag there. End tags are short: the search never runs far.
std::string_view end_tag_name(std::string_view text, std::size_t at, std::size_t *after);

struct split_name {
    std::string_view ns, local, prefix;
};

// expat's "uri\nlocal\nprefix" (any part but local may be missing).
split_name split(std::string_view s);

// True when qname ("prefix:local" as written) names n.
bool same_qname(const split_name &n, std::string_view qname);

// The open element an end tag closes, counted from 1 at the outermost (0:
// none), among open elements given outermost first (an empty local name for
// the reader's own): the innermost that qname names; else the innermost it
// names but for the letter case of ASCII letters; else, for a typo, the
// innermost element when its local name has at least four characters,
// qname's prefix is its own (letter case aside) and qname's local name is
// one edit away from its (a character added, dropped or changed, or two
// neighbours swapped).
std::size_t end_tag_target(const std::vector<split_name> &open, std::string_view qname);

struct parser_free {
    void operator()(XML_ParserStruct *p) const { XML_ParserFree(p); }
};
using parser_ptr = std::unique_ptr<XML_ParserStruct, parser_free>;

// The parser of one document: the thread's spare when it is free, else a new
// one (a handler reading another document inside its own). reset() readies it
// for a fresh start, the document's or a restart's, instead of a parser made
// anew; the spare is freed with the thread.
class parser_lease {
  public:
    parser_lease();
    ~parser_lease();
    parser_lease(const parser_lease &) = delete;
    parser_lease &operator=(const parser_lease &) = delete;

    XML_Parser get() const { return own_.get(); }
    // A parser is reset before each use, whatever state the last one left.
    // Its hash salt is the thread's own, drawn once: expat would otherwise
    // ask the system for entropy at every restart.
    bool reset();
    // A parser that was handed at most 64 KiB is kept for the thread's next
    // reading: creating and freeing one costs more than reading a short
    // description, while what it holds on to (its buffer, name pools) stays
    // small. After a long text it is freed.
    void keep_if_short(std::size_t bytes_handed) { keep_ = bytes_handed <= 64 * 1024; }

  private:
    parser_ptr own_;
    bool from_spare_ = false, keep_ = false;
};

}  // namespace eb_xml

#endif  // QUENFOLD_TEXT_XML_EXPAT_H
