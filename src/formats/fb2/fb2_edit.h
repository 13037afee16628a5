// fb2_edit.h - a FictionBook document being edited: its description's sections and binaries.
#ifndef QUENFOLD_FORMATS_FB2_FB2_EDIT_H
#define QUENFOLD_FORMATS_FB2_FB2_EDIT_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ops/write/writer.h"
#include "text/xml_patch.h"
#include "text/xml_tree.h"

class eb_fb2_doc {
  public:
    explicit eb_fb2_doc(std::string_view doc) : doc_(doc) {}
    // Reads the document strictly; false with the error text set.
    bool read();

    const eb_xml_elem &el(int i) const { return t.elems[static_cast<std::size_t>(i)]; }
    // The FictionBook children of section named local, in order.
    std::vector<int> kids(int section, std::string_view local) const;
    void drop(int e);
    // New markup with the description's prefix on every element name.
    std::string elem(std::string_view local,
                     const std::vector<std::pair<std::string, std::string>> &attrs,
                     std::string_view text) const;
    std::string elem_raw(std::string_view local,
                         const std::vector<std::pair<std::string, std::string>> &attrs,
                         std::string_view inner) const;
    // Inserts an element of section (title-info or publish-info) where the
    // schema's order puts it among the children (once finish() runs).
    void place(int section, std::string_view local, const std::string &bytes);
    // An element for publish-info, which is made when the book has none.
    void publish(std::string_view local, std::string bytes);
    // The placed elements inserted, each section's in the schema's order,
    // and publish-info made when it was needed.
    void finish();
    // The coverpage and its binary (fb2_cover_write.cpp).
    bool cover(const eb_field_change<eb_cover_image> &f);

    eb_xml_tree t;
    std::optional<eb_xml_patch> p;
    int root = -1, description = -1, title_info = -1, publish_info = -1, document_info = -1;
    std::vector<int> binaries;
    std::string_view text() const { return doc_; }

  private:
    std::string_view doc_;
    std::string prefix_;  // "fb:" when the description's name has one
    std::vector<bool> gone_;
    std::vector<std::pair<int, std::string>> new_publish_;  // rank, bytes
    struct placed {
        int section, rank;
        std::string bytes;
    };
    std::vector<placed> placed_;
    void insert(const placed &x);
};

#endif  // QUENFOLD_FORMATS_FB2_FB2_EDIT_H
