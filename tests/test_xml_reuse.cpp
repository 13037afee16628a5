// test_xml_reuse.cpp - the reader's per-thread parser: readings after a stop, an error or
// inside another reading, and on several threads, give what a fresh parser gives.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "text/xml_reader.h"

namespace {

// Logs events; optionally stops after an element, or reads `inner` while
// inside the element named `nest_at`.
class logger : public eb_xml_handler {
  public:
    std::string log, stop_after, nest_at, inner, inner_log;

    void start(std::string_view ns, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        log += "<{" + std::string(ns) + "}" + std::string(local);
        for (const auto &a : attrs)
            log +=
                " {" + std::string(a.ns) + "}" + std::string(a.local) + "=" + std::string(a.value);
        log += ">";
        if (local == nest_at) {
            logger in;
            const eb_xml_result r = eb_xml_read(inner, in);
            inner_log = in.log + "|" + std::to_string(r.warnings.size());
        }
    }
    void end(std::string_view, std::string_view local) override {
        log += "</" + std::string(local) + ">";
        if (local == stop_after) stop = true;
    }
    void text(std::string_view t) override { log += t; }
};

std::string read_log(const std::string &doc, const std::string &stop_after = "") {
    logger h;
    h.stop_after = stop_after;
    const eb_xml_result r = eb_xml_read(doc, h);
    std::string out = h.log + "|" + std::to_string(r.consumed);
    for (const auto &w : r.warnings)
        out += "|" + w;
    return out;
}

const std::vector<std::string> &documents() {
    static const std::vector<std::string> docs = {
        "<?xml version=\"1.0\"?><a xmlns=\"urn:x\" xmlns:l=\"urn:l\"><b l:href=\"#c\">t</b></a>",
        "<a><b>one &nbsp; two</b><c>after</c></a>",       // an HTML entity: resumed
        "<a><dc:title>T</dc:title><x:y/></a>",            // undeclared prefixes
        "<a><b>x</c></b><d>y</d></a>",                    // a stray end tag
        "<d xmlns=\"urn:y\"><stop>1</stop><after/></d>",  // read up to the stop
        "<a>unclosed",
        "<r>" + std::string(70 * 1024, 'z') + "</r>",  // longer than a kept parser reads
    };
    return docs;
}

TEST(XmlReuse, ReadingsInAnyOrderGiveTheSameEvents) {
    std::vector<std::string> first;
    for (const auto &d : documents())
        first.push_back(read_log(d, "stop"));
    // Again, backwards, so that each follows a different reading.
    for (std::size_t k = documents().size(); k-- > 0;)
        EXPECT_EQ(read_log(documents()[k], "stop"), first[k]) << k;
    for (std::size_t k = 0; k < documents().size(); ++k)
        EXPECT_EQ(read_log(documents()[k], "stop"), first[k]) << k;
}

TEST(XmlReuse, AReadingInsideAnotherLeavesBothWhole) {
    logger outer;
    outer.nest_at = "b";
    outer.inner = "<i xmlns=\"urn:i\"><j k=\"v\">w</j></i>";
    eb_xml_read("<a xmlns=\"urn:o\"><b>x</b><c>y</c></a>", outer);
    EXPECT_EQ(outer.log, "<{urn:o}a><{urn:o}b>x</b><{urn:o}c>y</c></a>");
    EXPECT_EQ(outer.inner_log, "<{urn:i}i><{urn:i}j {}k=v>w</j></i>|0");
    EXPECT_EQ(read_log("<a xmlns=\"urn:o\"><b>x</b></a>"), "<{urn:o}a><{urn:o}b>x</b></a>|29");
}

TEST(XmlReuse, ThreadsReadAtOnce) {
    std::vector<std::string> expected;
    for (const auto &d : documents())
        expected.push_back(read_log(d, "stop"));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round)
                for (std::size_t k = 0; k < documents().size(); ++k)
                    mismatches[t] += read_log(documents()[(k + t) % documents().size()], "stop") !=
                                     expected[(k + t) % documents().size()];
        });
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(mismatches[t], 0) << t;
}

}  // namespace
