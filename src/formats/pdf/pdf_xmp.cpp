// pdf_xmp.cpp - XMP packet to the properties the full record takes: RDF simple values, arrays and
// structures, in element or attribute form, read with the lenient XML reader.
#include "formats/pdf/pdf_xmp.h"

#include "text/xml_reader.h"

namespace {

using namespace eb_xmp_ns;

constexpr std::size_t kMaxValues = 1000;
constexpr std::size_t kMaxText = 64 * 1024;

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Dublin Core is sometimes declared without its final '/'.
bool is_dc(std::string_view ns) {
    return ns == kDc || ns == kDc.substr(0, kDc.size() - 1);
}

// The property a name stands for, or -1 for one the record does not take.
int property_of(std::string_view ns, std::string_view local) {
    using p = eb_xmp;
    auto as = [](p x) { return static_cast<int>(x); };
    if (is_dc(ns)) {
        static constexpr std::pair<std::string_view, p> dc[] = {
            {"title", p::title},       {"creator", p::creator},     {"description", p::description},
            {"subject", p::subject},   {"publisher", p::publisher}, {"rights", p::rights},
            {"language", p::language}, {"date", p::date},           {"identifier", p::identifier}};
        for (const auto &[name, prop] : dc)
            if (local == name) return as(prop);
        return -1;
    }
    if (ns == kXmp) {
        if (local == "CreateDate") return as(p::create_date);
        if (local == "ModifyDate") return as(p::modify_date);
        if (local == "MetadataDate") return as(p::metadata_date);
        if (local == "Identifier") return as(p::xmp_identifier);
        return -1;
    }
    if (ns == kPdf && local == "Keywords") return as(p::keywords);
    if (ns == kPdfx || ns.substr(0, kPrism.size()) == kPrism) {
        if (iequal(local, "isbn")) return as(p::isbn);
        if (iequal(local, "doi")) return as(p::doi);
        return -1;
    }
    if (ns == kCalibre && local == "series") return as(p::series);
    if (ns == kCalibre && local == "title_sort") return as(p::title_sort);
    if (ns == kCalibreSI && local == "series_index") return as(p::series_index);
    return -1;
}

enum class field { none, text, scheme, series_index };

field field_of(std::string_view ns, std::string_view local) {
    if (ns == kRdf && local == "value") return field::text;
    if (ns == kIdq && local == "Scheme") return field::scheme;
    if (ns == kCalibreSI && local == "series_index") return field::series_index;
    return field::none;
}

void append_capped(std::string &to, std::string_view text) {
    if (to.size() < kMaxText) to.append(text.substr(0, kMaxText - to.size()));
}

// Follows the RDF tree: a top-level rdf:Description holds properties (as
// child elements or as its own attributes); a property holds text, an
// rdf:Bag/Seq/Alt of rdf:li items, or a structure (rdf:parseType="Resource"
// or a nested rdf:Description) whose children are its fields. Depths, not a
// stack of names, keep the state, so deep nesting costs nothing.
class xmp_handler : public eb_xml_handler {
  public:
    explicit xmp_handler(eb_pdf_xmp &out) : out_(out) {}

    void start(std::string_view ns, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        ++depth_;
        const bool rdf = ns == kRdf;
        if (!prop_depth_) {
            if (rdf && local == "Description" && !desc_depth_) {
                desc_depth_ = depth_;
                for (const eb_xml_attr &a : attrs)
                    if (a.ns != kRdf && a.ns != kXml) simple(a.ns, a.local, a.value);
            } else if (desc_depth_ && depth_ == desc_depth_ + 1) {
                open_property(ns, local, attrs);
            }
            return;
        }
        if (!values_) return;
        if (rdf && (local == "Bag" || local == "Seq" || local == "Alt")) return;
        if (rdf && local == "li") {
            if (!add_value()) return;
            value_depth_ = depth_;
            take_attrs(attrs, /*structure=*/parse_resource(attrs));
            return;
        }
        if (rdf && local == "Description") {
            // A structure as a node of its own, inside the property or an item.
            if (!value_ && !add_value()) return;
            struct_depth_ = depth_;
            take_attrs(attrs, true);
            return;
        }
        // A field of a structure; an element straight inside a property with
        // no parseType is read as one too.
        if (!struct_depth_ && depth_ == prop_depth_ + 1 && !value_) {
            if (!add_value()) return;
            struct_depth_ = prop_depth_;
        }
        if (struct_depth_ && depth_ == struct_depth_ + 1) {
            field_ = field_of(ns, local);
            field_depth_ = depth_;
        }
    }

    void end(std::string_view, std::string_view) override {
        if (field_depth_ == depth_) {
            field_depth_ = 0;
            field_ = field::none;
        }
        if (struct_depth_ == depth_) struct_depth_ = 0;
        if (value_depth_ == depth_) {
            value_depth_ = 0;
            value_ = nullptr;
        }
        if (prop_depth_ == depth_) close_property();
        if (desc_depth_ == depth_) desc_depth_ = 0;
        --depth_;
    }

    void text(std::string_view t) override {
        if (!values_) return;
        if (field_depth_ && depth_ == field_depth_) {
            if (value_) append_capped(*target(field_), t);
        } else if (value_depth_ && depth_ == value_depth_) {
            append_capped(value_->text, t);
        } else if (depth_ == prop_depth_) {
            append_capped(direct_, t);
        }
    }

  private:
    static bool parse_resource(const std::vector<eb_xml_attr> &attrs) {
        for (const eb_xml_attr &a : attrs)
            if (a.ns == kRdf && a.local == "parseType" && a.value == "Resource") return true;
        return false;
    }

    std::string *target(field f) {
        switch (f) {
            case field::text:
                return &value_->text;
            case field::scheme:
                return &value_->scheme;
            case field::series_index:
                return &value_->series_index;
            default:
                return &scratch_;
        }
    }

    // A property written as an attribute of its description.
    void simple(std::string_view ns, std::string_view local, std::string_view value) {
        const int p = property_of(ns, local);
        if (p < 0 || seen_[p]) return;
        seen_[p] = true;
        out_.values[p].push_back({std::string(value.substr(0, kMaxText)), {}, {}, {}});
    }

    void open_property(std::string_view ns, std::string_view local,
                       const std::vector<eb_xml_attr> &attrs) {
        prop_depth_ = depth_;
        const int p = property_of(ns, local);
        if (p < 0 || seen_[p]) return;
        seen_[p] = true;
        values_ = &out_.values[p];
        direct_.clear();
        direct_lang_.clear();
        if (parse_resource(attrs)) {
            add_value();
            struct_depth_ = depth_;
        }
        for (const eb_xml_attr &a : attrs) {
            if (a.ns == kXml && a.local == "lang") direct_lang_.assign(a.value);
            if (a.ns == kRdf && a.local == "resource") direct_.assign(a.value.substr(0, kMaxText));
        }
        if (value_) take_attrs(attrs, true);
    }

    void close_property() {
        if (values_ && values_->empty() &&
            direct_.find_first_not_of(" \t\r\n") != std::string::npos)
            values_->push_back({direct_, direct_lang_, {}, {}});
        prop_depth_ = struct_depth_ = value_depth_ = field_depth_ = 0;
        values_ = nullptr;
        value_ = nullptr;
        field_ = field::none;
    }

    // A new value of the open property; false once it holds the most kept.
    bool add_value() {
        if (values_->size() >= kMaxValues) {
            if (!capped_)
                out_.warnings.push_back("more than 1000 values of one property; the rest left out");
            capped_ = true;
            return false;
        }
        values_->emplace_back();
        value_ = &values_->back();
        return true;
    }

    // xml:lang of an item, and fields written as attributes of a structure.
    void take_attrs(const std::vector<eb_xml_attr> &attrs, bool structure) {
        if (structure && !struct_depth_) struct_depth_ = depth_;
        for (const eb_xml_attr &a : attrs) {
            if (a.ns == kXml && a.local == "lang") value_->lang.assign(a.value);
            const field f = field_of(a.ns, a.local);
            if (f != field::none) target(f)->assign(a.value.substr(0, kMaxText));
        }
    }

    eb_pdf_xmp &out_;
    std::array<bool, static_cast<int>(eb_xmp::count)> seen_{};
    int depth_ = 0, desc_depth_ = 0, prop_depth_ = 0, value_depth_ = 0, struct_depth_ = 0,
        field_depth_ = 0;
    std::vector<eb_xmp_value> *values_ = nullptr;  // the open property's, when it is taken
    eb_xmp_value *value_ = nullptr;                // the value being read
    field field_ = field::none;
    std::string direct_, direct_lang_, scratch_;
    bool capped_ = false;
};

std::string trim(std::string_view s) {
    const char *ws = " \t\r\n";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(ws) - b + 1));
}

}  // namespace

std::string eb_pdf_xmp::first(eb_xmp p) const {
    for (const eb_xmp_value &v : (*this)[p]) {
        std::string t = trim(v.text);
        if (!t.empty()) return t;
    }
    return {};
}

std::string eb_pdf_xmp::alternative(eb_xmp p) const {
    for (const eb_xmp_value &v : (*this)[p])
        if (iequal(trim(v.lang), "x-default")) {
            std::string t = trim(v.text);
            if (!t.empty()) return t;
        }
    return first(p);
}

eb_pdf_xmp eb_pdf_read_xmp(std::string_view packet) {
    eb_pdf_xmp out;
    out.present = true;
    xmp_handler h(out);
    eb_xml_result res = eb_xml_read(packet, h);
    out.warnings.insert(out.warnings.end(), res.warnings.begin(), res.warnings.end());
    return out;
}
