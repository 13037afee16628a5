// test_xml_reader.cpp - the lenient XML reader: encodings, namespaces, broken documents, early
// stop.
#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"
#include "text/xml_reader.h"

namespace {

// Writes the events as compact text: [ns]local attr=value ... "text" /local.
class recorder : public eb_xml_handler {
  public:
    std::string log;
    std::string stop_after;  // local name whose end stops the reading

    void start(std::string_view ns, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        log += "<";
        if (!ns.empty()) log += "{" + std::string(ns) + "}";
        log += local;
        for (const auto &a : attrs) {
            log += " ";
            if (!a.ns.empty()) log += "{" + std::string(a.ns) + "}";
            log += std::string(a.local) + "=" + std::string(a.value);
        }
        log += ">";
    }
    void end(std::string_view, std::string_view local) override {
        log += "</" + std::string(local) + ">";
        if (local == stop_after) stop = true;
    }
    void text(std::string_view t) override { log += t; }
};

struct read_out {
    std::string log;
    eb_xml_result res;
};

read_out read(const std::string &doc, const std::string &stop_after = "") {
    recorder r;
    r.stop_after = stop_after;
    read_out out;
    out.res = eb_xml_read(doc, r);
    out.log = r.log;
    return out;
}

// ASCII text as UTF-16LE code units.
std::string utf16le(const std::string &ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

bool warned(const eb_xml_result &res, const std::string &part) {
    for (const auto &w : res.warnings)
        if (w.find(part) != std::string::npos) return true;
    return false;
}

TEST(XmlReader, WellFormedDocuments) {
    const struct {
        std::string doc, log;
    } cases[] = {
        {"<a>x</a>", "<a>x</a>"},
        {"<a x='1' y=\"&amp;&lt;\">&#1040;&#x431;</a>", "<a x=1 y=&<>Аб</a>"},
        {"<a><![CDATA[<b>&amp;</b>]]></a>", "<a><b>&amp;</b></a>"},
        {"<a><!-- c & < --><b/></a>", "<a><b></b></a>"},
        {"<p:a xmlns:p='urn:p' p:x='1'><b xmlns='urn:d'/></p:a>",
         "<{urn:p}a {urn:p}x=1><{urn:d}b></b></a>"},
        {"<?xml version='1.0'?>\n<!DOCTYPE a [<!ENTITY me 'Me'>]><a>&me;</a>", "<a>Me</a>"},
    };
    for (const auto &c : cases) {
        const read_out r = read(c.doc);
        EXPECT_EQ(r.log, c.log) << c.doc;
        EXPECT_TRUE(r.res.warnings.empty()) << c.doc << ": " << r.res.warnings.front();
        EXPECT_EQ(r.res.consumed, c.doc.size()) << c.doc;
        EXPECT_EQ(r.res.encoding, "") << c.doc;
    }
}

TEST(XmlReader, EncodingsAreDecodedBeforeParsing) {
    const struct {
        std::string doc, log, encoding;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xC0\xED\xED\xE0</t>", "<t>Анна</t>",
         "windows-1251"},
        {"<?xml version='1.0' encoding='KOI8-R'?><t>\xE1\xCE\xCE\xC1</t>", "<t>Анна</t>", "koi8-r"},
        {"\xEF\xBB\xBF<?xml version='1.0' encoding='windows-1251'?><t>\xD0\x90</t>", "<t>А</t>",
         ""},  // the byte order mark wins over the declaration
        {"\xFF\xFE" + utf16le("<t>") + std::string("\x10\x04", 2) + utf16le("</t>"), "<t>А</t>",
         "utf-16"},
        {utf16le("<?xml version='1.0'?><t/>"), "<t></t>", "utf-16le"},
        // declared UTF-16 but legible as bytes: the declaration is wrong
        {"<?xml version='1.0' encoding='UTF-16'?><t>ok</t>", "<t>ok</t>", ""},
        {"<?xml version='1.0' encoding='UCS-2'?><t>ok</t>", "<t>ok</t>", ""},
        {"<?xml version='1.0' encoding='utf-32le'?><t>ok</t>", "<t>ok</t>", ""},
        {"<?xml version='1.0' encoding='ISO-10646-UCS-4'?><t>ok</t>", "<t>ok</t>", ""},
        {"<?xml version='1.0' encoding='no-such'?><t>ok</t>", "<t>ok</t>", ""},
        {"<?xml version='1.0' encoding='win\xD6"
         "dows'?><t>ok</t>",
         "<t>ok</t>", ""},
    };
    for (const auto &c : cases) {
        const read_out r = read(c.doc);
        EXPECT_EQ(r.log, c.log) << testing::PrintToString(c.doc);
        EXPECT_EQ(r.res.encoding, c.encoding) << testing::PrintToString(c.doc);
        for (const auto &w : r.res.warnings)
            EXPECT_TRUE(eb_utf8_valid(w)) << w;
    }
}

// Broken documents: everything after the broken spot still arrives, and a
// warning names the fault.
TEST(XmlReader, BrokenDocumentsAreReadOn) {
    const struct {
        const char *name;
        std::string doc, log, warning;
    } cases[] = {
        {"bare ampersand", "<a>Tom & Jerry<b>x</b></a>", "<a>Tom & Jerry<b>x</b></a>", "bare '&'"},
        {"ampersand in attribute", "<a t='A&B'>x</a>", "<a t=A&B>x</a>", "bare '&'"},
        {"html entity", "<a>a&nbsp;b&mdash;c</a>",
         "<a>a\xC2\xA0"
         "b—c</a>",
         "&nbsp;"},
        {"unknown entity", "<a>&foo;<b/></a>", "<a>&foo;<b></b></a>", "&foo;"},
        {"stray less-than", "<a>1 < 2<b/></a>", "<a>1 < 2<b></b></a>", "'<'"},
        {"control byte", "<a>x\x01y</a>", "<a>x\xEF\xBF\xBDy</a>", "U+FFFD"},
        {"invalid utf-8", "<a>x\xFFy</a>", "<a>x\xEF\xBF\xBDy</a>", "U+FFFD"},
        {"invalid entity name", "<a>&q\x91t;</a>", "<a>&q\xEF\xBF\xBDt;</a>", "U+FFFD"},
        {"bad char reference", "<a>x&#0;y</a>", "<a>x\xEF\xBF\xBDy</a>", "forbidden"},
        {"mismatched tag", "<r><a><b>x</a><c>y</c></r>", "<r><a><b>x</b></a><c>y</c></r>",
         "mismatched"},
        {"unclosed at end", "<r><a>x", "<r><a>x", "line 1"},
        {"garbage in tag", "<r><a =>x</a><c>y</c></r>", "<r><c>y</c></r>", "not well-formed"},
        {"second root", "<r>x</r><s>y</s>", "<r>x</r><s>y</s>", "junk after"},
        {"undeclared prefix", "<r><image l:href='#c'/><t>y</t></r>",
         "<r><image {http://www.w3.org/1999/xlink}href=#c></image><t>y</t></r>", "'l'"},
        {"undeclared prefix, colon in a value", "<r><l:i t='v 1:z'/><t>y</t></r>",
         "<r><{http://www.w3.org/1999/xlink}i t=v 1:z></i><t>y</t></r>", "'l'"},
        {"undeclared prefix on the root", "<dc:title>T</dc:title>",
         "<{http://purl.org/dc/elements/1.1/}title>T</title>", "'dc'"},
        {"undeclared element prefix", "<r><dc:title>T</dc:title></r>",
         "<r><{http://purl.org/dc/elements/1.1/}title>T</title></r>", "'dc'"},
        // What never ends is passed over up to the next tag; the rest is read.
        {"unclosed comment", "<r><!-- x <a>y</a></r>", "<r><a>y</a></r>", "never ends"},
        {"unclosed instruction", "<r><?pi x <a>y</a></r>", "<r><a>y</a></r>", "never ends"},
        {"unclosed CDATA", "<r><a><![CDATA[x & y</a></r>", "<r><a>x & y</a></r>", "never ends"},
        {"entity after a restart", "<!DOCTYPE r [<!ENTITY e 'E&amp;'>]><r><a>x</b><c>&e;</c></r>",
         "<r><a>x<c>E&</c></a></r>", "mismatched"},
        {"unclosed attribute at the end", "<r><a>x</a><b t='1", "<r><a>x</a>", "line 1"},
    };
    for (const auto &c : cases) {
        const read_out r = read(c.doc);
        EXPECT_EQ(r.log, c.log) << c.name;
        EXPECT_TRUE(warned(r.res, c.warning)) << c.name;
        EXPECT_TRUE(eb_utf8_valid(r.log)) << c.name;
    }
}

TEST(XmlReader, NamespacesSurviveARestart) {
    // After the stray end tag the open elements are opened again with their
    // declarations, so later prefixed names keep their namespaces; the
    // book's end tag then closes the unclosed fb:x too.
    const std::string doc =
        "<fb:book xmlns:fb='urn:fb' xmlns='urn:d'><fb:x>1</fb:y>2<fb:z "
        "a='3'>4</fb:z><w/></fb:book>";
    const read_out r = read(doc);
    EXPECT_EQ(r.log, "<{urn:fb}book><{urn:fb}x>12<{urn:fb}z a=3>4</z><{urn:d}w></w></x></book>");
    EXPECT_EQ(r.res.warnings.size(), 2u);
}

TEST(XmlReader, StopEndsReadingEarly) {
    const std::string head = "<r><d>meta</d>";
    const std::string doc = head + "<body>" + std::string(5000, 'x') + "</body></r>";
    const read_out r = read(doc, "d");
    EXPECT_EQ(r.log, "<r><d>meta</d>");
    EXPECT_LE(r.res.consumed, head.size());
    EXPECT_GE(r.res.consumed, head.size() - 4);
}

// Past the first megabyte the text is handed over in pieces: a tag across
// the border is read whole, an error and the stop are placed as in a short
// document (its line, what is read on, the offset where reading ended).
TEST(XmlReader, ALongDocumentReadsAsAShortOne) {
    const std::string value(300, 'v');
    const std::string doc = "<r><p>" + std::string((1 << 20) - 100, 'p') + "</p>\n\n<a t='" +
                            value + "'>x</b>\n<c>y</c><d>w</d><e/></r>";
    const read_out r = read(doc, "d");
    EXPECT_TRUE(r.log.ends_with("</p>\n\n<a t=" + value + ">x\n<c>y</c><d>w</d>"));
    EXPECT_TRUE(warned(r.res, "line 3"));
    EXPECT_LE(r.res.consumed, doc.find("<e/>"));
    EXPECT_GE(r.res.consumed, doc.find("<e/>") - 4);
}

TEST(XmlReader, EntityExpansionIsBounded) {
    std::string doc = "<!DOCTYPE a [<!ENTITY e0 'xxxxxxxxxx'>";
    for (int i = 1; i < 10; ++i) {
        doc += "<!ENTITY e" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k)
            doc += "&e" + std::to_string(i - 1) + ";";
        doc += "'>";
    }
    doc += "]><a>&e9;</a>";
    const read_out r = read(doc);
    EXPECT_LT(r.log.size(), 1000000u);
    EXPECT_FALSE(r.res.warnings.empty());
}

TEST(XmlReader, ExternalEntitiesAreNeverLoaded) {
    const std::string doc = "<!DOCTYPE a [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><a>[&x;]</a>";
    const read_out r = read(doc);
    EXPECT_EQ(r.log.find("root:"), std::string::npos);
    EXPECT_EQ(r.log.substr(0, 4), "<a>[");
}

// Shapes that once cost a pass to the end of the text per broken spot, or
// memory per open element: the result is what a plain reading gives.
TEST(XmlReader, HostileShapesGiveThePlainResult) {
    const auto times = [](const std::string &piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += piece;
        return out;
    };
    const struct {
        const char *name;
        std::string doc, log_end, warning;
    } cases[] = {
        // More unclosed instructions than the reader restarts.
        {"unclosed instructions", "<r>" + times("<?a x", 2000) + "<b>after</b></r>",
         "<r><b>after</b></r>", "(2000 times)"},
        {"unclosed comments", "<r>" + times("<!-- x", 2000) + "<b>after</b></r>",
         "<r><b>after</b></r>", "(2000 times)"},
        {"deep nesting", "<r><t>T</t>" + times("<a>", 5000), "<a><a>", "1024 deep"},
        {"mending past twice the text", "<r>" + std::string(200000, '&') + "</r>", "&&&",
         "twice its size"},
    };
    for (const auto &c : cases) {
        const read_out r = read(c.doc);
        EXPECT_TRUE(r.log.ends_with(c.log_end)) << c.name << ": " << r.log.substr(0, 100);
        EXPECT_TRUE(warned(r.res, c.warning)) << c.name;
        EXPECT_LT(r.log.size(), 3 * c.doc.size()) << c.name;
    }
}

TEST(XmlReader, ManyErrorsStayBounded) {
    std::string doc = "<r>";
    for (int i = 0; i < 5000; ++i)
        doc += "<a></b>";
    doc += "<end/></r>";
    const read_out r = read(doc);
    EXPECT_LE(r.res.warnings.size(), 25u);
    EXPECT_TRUE(warned(r.res, "not listed"));
}

}  // namespace
