// record_expect.h - checks one full record against a table of JSON pointers and wanted values.
#ifndef QEM_TEST_RECORD_EXPECT_H
#define QEM_TEST_RECORD_EXPECT_H

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "metadata_probe.h"

namespace qtest {

// JSON pointer -> value as MetaProbe::at gives it. A pointer ending in '~'
// ("/warnings~", "/warnings~~"...) names a warning that must contain the value.
using RecordWant = std::map<std::string, std::string>;

inline bool has_warning(const MetaProbe &p, const std::string &part) {
    for (std::size_t i = 0; i < p.count("/warnings"); ++i)
        if (p.at("/warnings/" + std::to_string(i)).find(part) != std::string::npos) return true;
    return false;
}

// The record of bytes under name: described, schema-valid, and as wanted.
inline void expect_record(const std::string &what, const std::string &bytes, const char *name,
                          const RecordWant &want) {
    MetaProbe p = MetaProbe::from_memory(bytes, name);
    ASSERT_TRUE(p.ok()) << what << ": " << p.error();
    EXPECT_EQ(p.schema_error(), "") << what;
    for (const auto &[ptr, value] : want) {
        if (ptr.back() == '~')
            EXPECT_TRUE(has_warning(p, value))
                << what << ": no warning '" << value << "' in " << p.json();
        else
            EXPECT_EQ(p.at(ptr), value) << what << " " << ptr << " in " << p.json();
    }
}

}  // namespace qtest

#endif  // QEM_TEST_RECORD_EXPECT_H
