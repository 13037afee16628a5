// schema_check.h - a checker of JSON documents against the JSON Schema subset docs/ uses.
#ifndef QEM_TEST_SCHEMA_CHECK_H
#define QEM_TEST_SCHEMA_CHECK_H

#include <map>
#include <memory>
#include <regex>
#include <string>

struct yyjson_doc;
struct yyjson_val;

namespace qtest {

// Keywords understood: type (a name or a list), enum, properties, required,
// additionalProperties (false or a schema), items, minLength, minimum,
// pattern, $ref to "#/$defs/..."; $schema, $id, title, description and $defs
// are annotations. Any other keyword makes every check fail, so a schema that
// outgrows the checker is noticed.
class SchemaChecker {
  public:
    // Throws std::runtime_error when the file cannot be read or parsed.
    explicit SchemaChecker(const std::string &schema_path);
    ~SchemaChecker();
    SchemaChecker(const SchemaChecker &) = delete;
    SchemaChecker &operator=(const SchemaChecker &) = delete;

    // "" when json parses strictly and matches; else what is wrong and where.
    std::string check(const std::string &json);

  private:
    std::string check_value(yyjson_val *schema, yyjson_val *v, const std::string &where);
    std::string check_keyword(const std::string &key, yyjson_val *arg, yyjson_val *schema,
                              yyjson_val *v, const std::string &where);
    yyjson_doc *schema_ = nullptr;
    std::map<std::string, std::regex> patterns_;
};

// The schema shipped in docs/ (path compiled in).
std::string metadata_schema_path();

}  // namespace qtest

#endif
