// xml_reader.h - streaming, namespace-aware and lenient XML reading for the full record.
#ifndef QUENFOLD_TEXT_XML_READER_H
#define QUENFOLD_TEXT_XML_READER_H

#include <string>
#include <string_view>
#include <vector>

struct eb_xml_attr {
    std::string_view ns;     // namespace URI, "" when none
    std::string_view local;  // local name
    std::string_view value;  // entity-decoded, UTF-8
};

// Receives the document's events in order. Names arrive split into namespace
// URI and local name whatever prefix the document used. Text may arrive in
// several pieces. Views are valid only during the call.
class eb_xml_handler {
  public:
    virtual ~eb_xml_handler() = default;
    virtual void start(std::string_view ns, std::string_view local,
                       const std::vector<eb_xml_attr> &attrs) = 0;
    virtual void end(std::string_view ns, std::string_view local) = 0;
    virtual void text(std::string_view utf8) = 0;
    // A handler sets this to end the reading early (e.g. after the metadata).
    bool stop = false;
};

struct eb_xml_result {
    std::string encoding;                // declared encoding when it is not UTF-8 ("" otherwise)
    std::vector<std::string> warnings;   // what was broken and repaired or skipped
    std::string::size_type consumed = 0; // bytes of the input read before the end or a stop
};

// Reads one document: the encoding comes from a byte order mark or the XML
// declaration and the text is decoded to UTF-8 first (invalid bytes become
// U+FFFD with a warning). No external entity is ever loaded and no entity
// expansion can grow without bound. A document that is not well-formed never
// fails: reading resumes after the broken spot, so everything after it still
// reaches the handler, and a warning says what was wrong. Linear in the input,
// restarts included, and bounded in memory: the mended text is at most twice
// the input, markup nested more than 1,024 deep ends the reading (with
// a warning), and each open element's name is kept once. Comments and
// processing instructions never reach the handler.
eb_xml_result eb_xml_read(std::string_view doc, eb_xml_handler &h);

#endif  // QUENFOLD_TEXT_XML_READER_H
