// zip_writer.h - a new ZIP archive from an old one: members copied raw, a few replaced or added.
#ifndef QUENFOLD_IO_ZIP_WRITER_H
#define QUENFOLD_IO_ZIP_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "io/out_file.h"
#include "io/zip_archive.h"

// Every member not named here is copied as it lies in the book: its local
// header, compressed bytes, data descriptor and CRC byte for byte, in the
// book's order; its directory entry likewise, with only its offset changed.
// A replaced member keeps its name, time and attributes and gets its new
// data deflated (zlib); added members go after the others. The directory
// is written anew, with the book's comment, and with ZIP64 end records
// when the book has them or the counts and offsets need them. Bytes before
// the first member (a stub) are kept, and offsets stated as the book did.
class eb_zip_rewrite {
  public:
    explicit eb_zip_rewrite(const eb_zip_archive &za) : za_(za) {}

    void replace(std::uint64_t member, std::string data);
    void remove(std::uint64_t member);
    // stored: written as it is (images, already compressed), else deflated.
    void add(std::string name, std::string data, bool stored);
    // The member named "mimetype" goes first, stored, without extra field,
    // as e-readers demand of an EPUB: it is copied raw when it already is so.
    void mimetype_first() { mimetype_first_ = true; }
    // The time written for added members, "YYYY-MM-DDThh:mm:ssZ".
    void set_time(const std::string &iso) { now_ = iso; }

    // Writes the archive; false with the error text set.
    bool write(eb_out_file &out);

  private:
    struct change {
        std::uint64_t member;
        bool removed;
        std::string data;
    };
    struct added {
        std::string name, data;
        bool stored;
    };
    struct placed {  // a directory entry to write, with its new offset
        std::string entry;
    };
    bool copy_member(eb_out_file &out, std::uint64_t i, std::string *entry);
    bool write_new(eb_out_file &out, const std::string &name, const std::string &data, bool stored,
                   const eb_zip_entry *old, std::string *entry);
    const change *changed(std::uint64_t i) const;

    const eb_zip_archive &za_;
    std::vector<change> changes_;
    std::vector<added> added_;
    bool mimetype_first_ = false;
    std::string now_;
};

#endif  // QUENFOLD_IO_ZIP_WRITER_H
