// metadata_probe.h - one book's full record through the public export, schema-checked.
#ifndef QEM_TEST_METADATA_PROBE_H
#define QEM_TEST_METADATA_PROBE_H

#include <cstddef>
#include <memory>
#include <string>

struct yyjson_doc;

namespace qtest {

class MetaProbe {
  public:
    // ebook_metadata_from_memory over bytes (name may be null).
    static MetaProbe from_memory(const std::string &bytes, const char *name);
    // ebook_metadata over a file.
    static MetaProbe from_file(const std::string &path);
    // ebook_write_metadata: the record it returns for the new book.
    static MetaProbe from_write(const std::string &path, const std::string &changes,
                                unsigned flags = 0);

    bool ok() const { return doc_ != nullptr; }
    const std::string &json() const { return json_; }
    const std::string &error() const { return error_; }  // ebook_last_error after the call
    // "" when the object matches docs/metadata.schema.json (or the call failed).
    const std::string &schema_error() const { return schema_error_; }

    // The value at a JSON pointer ("/authors/0/name"): strings as they are,
    // true/false, numbers in decimal, "<null>", or "<missing>".
    std::string at(const std::string &pointer) const;
    // Elements of the array at pointer (0 when it is none).
    std::size_t count(const std::string &pointer) const;

  private:
    void take(char *json);
    struct doc_free {
        void operator()(yyjson_doc *d) const noexcept;
    };
    std::shared_ptr<yyjson_doc> doc_;
    std::string json_, error_, schema_error_;
};

}  // namespace qtest

#endif
