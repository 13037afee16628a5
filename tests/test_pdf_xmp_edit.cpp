// test_pdf_xmp_edit.cpp - XMP packets edited in place: the replaced properties gone in every form
// they take, everything else kept byte for byte, the new description read back by the reader.
#include <gtest/gtest.h>

#include <string>

#include "formats/pdf/pdf_xmp_edit.h"
#include "formats/pdf/pdf_xmp.h"
#include "quenfold_ebook.h"

namespace {

const std::string kRdfNs = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

// Replaces dc:title and xmp:ModifyDate, whatever their prefixes.
bool replaced(std::string_view ns, std::string_view local) {
    return (ns == "http://purl.org/dc/elements/1.1/" && local == "title") ||
           (ns == "http://ns.adobe.com/xap/1.0/" && local == "ModifyDate");
}

const std::string kNew =
    "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">New</rdf:li></rdf:Alt>"
    "</dc:title>\n<xmp:ModifyDate>2030-01-01</xmp:ModifyDate>\n";

TEST(PdfXmpEdit, ReplacedPropertiesGoInEveryFormTheRestStays) {
    struct Case {
        const char *name;
        std::string packet;
        const char *kept;  // a part of the old packet that must stay as it was
    } cases[] = {
        {"elements and attributes",
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='" + kRdfNs +
             "'><rdf:Description rdf:about='uuid:1' xmlns:dc='http://purl.org/dc/elements/1.1/' "
             "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:ModifyDate=\"2001\" "
             "xmp:CreatorTool='T &amp; Co'><dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Old"
             "</rdf:li></rdf:Alt></dc:title><dc:format>application/pdf</dc:format>"
             "</rdf:Description></rdf:RDF></x:xmpmeta>",
         "xmp:CreatorTool='T &amp; Co'><dc:format>application/pdf</dc:format>"},
        {"other prefixes, an empty property, a byte order mark",
         "\xEF\xBB\xBF<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><R:RDF xmlns:R='" + kRdfNs +
             "'><R:Description xmlns:d='http://purl.org/dc/elements/1.1/'><d:title/>"
             "<d:rights>Old rights</d:rights></R:Description><R:Description "
             "xmlns:a='http://ns.adobe.com/xap/1.0/'><a:ModifyDate>2001</a:ModifyDate>"
             "</R:Description></R:RDF><?xpacket end='w'?>",
         "<d:rights>Old rights</d:rights></R:Description>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        ASSERT_TRUE(eb_xmp_edit(c.packet, replaced, kNew, &out)) << ebook_last_error();
        EXPECT_NE(out.find(c.kept), std::string::npos) << out;
        EXPECT_EQ(out.find("Old<"), std::string::npos);
        EXPECT_EQ(out.find("2001"), std::string::npos);
        const eb_pdf_xmp x = eb_pdf_read_xmp(out);
        EXPECT_TRUE(x.warnings.empty()) << x.warnings[0];
        EXPECT_EQ(x.alternative(eb_xmp::title), "New");
        EXPECT_EQ(x.first(eb_xmp::modify_date), "2030-01-01");
        // Written again over its own output: the same properties replaced once more.
        std::string twice;
        ASSERT_TRUE(eb_xmp_edit(out, replaced, kNew, &twice));
        EXPECT_EQ(eb_pdf_read_xmp(twice)[eb_xmp::title].size(), 1u);
    }
    std::string fresh;
    ASSERT_TRUE(eb_xmp_edit("", replaced, kNew, &fresh));
    EXPECT_EQ(eb_pdf_read_xmp(fresh).alternative(eb_xmp::title), "New");
    EXPECT_FALSE(eb_xmp_edit("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>", replaced, kNew, &fresh));
    EXPECT_STREQ(ebook_last_error(),
                 "PDF XMP packet has no rdf:RDF element to add to; write refused, nothing changed");
}

}  // namespace
