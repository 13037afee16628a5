// fb2_full.cpp - the full record of a FictionBook 2 document, read through the lenient XML reader.
//
// Reading rules where the format leaves a choice:
// - Elements count in the FictionBook namespace under any prefix, or in no
//   namespace; the first title-info, publish-info and document-info of the
//   description are read, the others passed over.
// - A person's name is "First Middle Last" (the nickname when none of those
//   is given), as the book info builds it; the sort form is "Last, First
//   Middle" when there is a last name and something before it, else "".
// - A section spelled "Title-info" gives its authors when the document has
//   no title-info at all, and nothing else (as for the book info).
// - src-lang is the original's language, not one the book is written in: it
//   is not among the record's languages.
// - An isbn whose check digit fails stays an identifier, as "isbn-invalid".
// - The series of title-info come first in document order (nested ones after
//   their parent), then those of publish-info; repeats are dropped.
#include <cstring>
#include <string>
#include <vector>

#include "error.h"
#include "formats/fb2/fb2_text.h"
#include "formats/full_readers.h"
#include "text/isbn.h"
#include "text/xml_reader.h"

namespace {

constexpr std::string_view kFb2Ns = "http://www.gribuser.ru/xml/fictionbook/2.0";

// A person element's parts (author, translator).
struct name_parts {
    std::string first, middle, last, nick;

    // "First Middle Last" from the parts given, else the nickname: the same
    // name the book info gives for the first author.
    std::string name() const {
        std::string out;
        for (const std::string *p : {&first, &middle, &last}) {
            if (p->empty()) continue;
            if (!out.empty()) out += ' ';
            out += *p;
        }
        return out.empty() ? nick : out;
    }
    // "Last, First Middle" when the book gives a last name and something
    // before it; a name that is a single part has no sort form of its own.
    std::string sort() const {
        if (last.empty() || (first.empty() && middle.empty())) return "";
        std::string out = last + ",";
        for (const std::string *p : {&first, &middle})
            if (!p->empty()) out += " " + *p;
        return out;
    }
};

class fb2_handler : public eb_xml_handler {
  public:
    explicit fb2_handler(eb_record &r) : r_(r) {}
    bool description_closed = false;

    void start(std::string_view ns, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        const bool own = ns.empty() || ns == kFb2Ns;
        const std::string name = own ? std::string(local) : std::string();
        const std::string_view parent = up(0);
        const std::string_view sect = section();
        if (name == "title-info" && parent == "description" && ++title_infos_ == 1)
            in_title_ = true;
        if (name == "Title-info" && parent == "description") ++cap_title_infos_;
        if (name == "publish-info" && parent == "description" && ++publish_infos_ == 1)
            in_publish_ = true;
        if (name == "document-info" && parent == "description" && ++document_infos_ == 1)
            in_document_ = true;

        if (in_annotation_) annotation_.start(name);
        if (sect == "title-info" && in_title_) {
            if ((name == "author" || name == "translator") && parent == "title-info") person_ = {};
            if (name == "annotation" && parent == "title-info" && !annotation_seen_) {
                annotation_seen_ = in_annotation_ = true;
            }
            if (name == "coverpage" && parent == "title-info") ++coverpages_;
            if (name == "image" && coverpages_ == 1 && coverpage_at_ != kNowhere &&
                cover_href_.empty())
                cover_href_ = href(attrs);
            if (name == "date" && parent == "title-info" && date_attr_.empty())
                date_attr_ = attr(attrs, "value");
        }
        if (name == "sequence" &&
            ((sect == "title-info" && in_title_) || (sect == "publish-info" && in_publish_)))
            add_series(attr(attrs, "name"), attr(attrs, "number"));
        if (!capturing_ && is_field(name)) {
            // A field's text includes that of any markup inside it.
            capturing_ = true;
            capture_depth_ = stack_.size();
            text_.clear();
        }
        opened(name);
        stack_.push_back(name);
    }

    void end(std::string_view ns, std::string_view local) override {
        const bool own = ns.empty() || ns == kFb2Ns;
        const std::string name = own ? std::string(local) : std::string();
        if (!stack_.empty()) stack_.pop_back();
        closed();
        const std::string_view parent = up(0);
        const std::string_view sect = section();
        std::string value;
        if (capturing_ && stack_.size() == capture_depth_) {
            capturing_ = false;
            value = fb2_trim(text_);
            text_.clear();
        }

        if (in_annotation_) {
            if (name == "annotation" && parent == "title-info") {
                in_annotation_ = false;
                r_.description = annotation_.finish();
            } else {
                annotation_.end(name);
            }
        }
        if (sect == "title-info" && in_title_) title_field(name, parent, value);
        if (sect == "Title-info" && cap_title_infos_ == 1) cap_title_field(name, parent, value);
        if (sect == "publish-info" && in_publish_ && parent == "publish-info") {
            if (name == "publisher" && r_.publisher.empty()) r_.publisher = value;
            if (name == "year" && year_.empty()) year_ = value;
            if (name == "isbn") add_isbn(value);
        }
        if (sect == "document-info" && in_document_ && parent == "document-info" && name == "id" &&
            !value.empty())
            r_.identifiers.push_back({"fb2-id", value});

        if (name == "title-info" && parent == "description") in_title_ = false;
        if (name == "publish-info" && parent == "description") in_publish_ = false;
        if (name == "document-info" && parent == "description") in_document_ = false;
        if (name == "description") {
            // Everything the record needs lies before the body: the pictures
            // that follow are never parsed.
            description_closed = true;
            stop = true;
        }
    }

    void text(std::string_view t) override {
        if (in_annotation_) annotation_.text(t);
        if (capturing_ && text_.size() < EB_TEXT_LIMIT)
            text_.append(t.substr(0, EB_TEXT_LIMIT - text_.size()));
    }

    // Fills what only the whole description settles.
    void finish() {
        if (title_infos_ == 0) {
            // Some writers capitalise the section; its authors still count, as
            // they do for the book info.
            r_.authors = std::move(cap_authors_);
        }
        r_.published = !year_.empty() ? year_ : !date_attr_.empty() ? date_attr_ : date_text_;
        for (std::string &k : keywords_)
            add_subject(std::move(k));
    }

    std::string cover_href() const { return cover_href_; }

  private:
    eb_record &r_;
    std::vector<std::string> stack_;  // local names; "" for other vocabularies
    std::string text_;                // text of the field element being read
    bool capturing_ = false;
    std::size_t capture_depth_ = 0;  // depth of that element
    int title_infos_ = 0, cap_title_infos_ = 0, publish_infos_ = 0, document_infos_ = 0;
    bool in_title_ = false, in_publish_ = false, in_document_ = false;
    bool in_annotation_ = false, annotation_seen_ = false;
    int coverpages_ = 0;
    name_parts person_;
    std::vector<eb_person> cap_authors_;
    std::vector<std::string> keywords_;
    std::string cover_href_, date_attr_, date_text_, year_;
    fb2_paragraphs annotation_;

    // Elements whose text is a value of the record.
    static bool is_field(std::string_view name) {
        static constexpr std::string_view fields[] = {
            "book-title", "first-name", "middle-name", "last-name", "nickname", "genre", "keywords",
            "date",       "lang",       "publisher",   "year",      "isbn",     "id"};
        for (std::string_view f : fields)
            if (name == f) return true;
        return false;
    }

    // The k-th ancestor of the element being opened or just closed.
    std::string_view up(std::size_t k) const {
        return k < stack_.size() ? std::string_view(stack_[stack_.size() - 1 - k]) : "";
    }
    // Which of the description's sections encloses the current element. The
    // places of the description and the coverpage are kept as they open, so
    // that no event walks the whole stack (deep nesting stays linear).
    std::string_view section() const {
        if (desc_at_ == kNowhere || stack_.size() <= desc_at_ + 1) return "";
        return stack_[desc_at_ + 1];
    }
    static constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);
    std::size_t desc_at_ = kNowhere, coverpage_at_ = kNowhere;

    // Notes where the description or the coverpage opens, before the push.
    void opened(const std::string &name) {
        if (name == "description" && desc_at_ == kNowhere) desc_at_ = stack_.size();
        if (name == "coverpage" && coverpage_at_ == kNowhere) coverpage_at_ = stack_.size();
    }
    // Forgets them once the stack has shrunk below them, after the pop.
    void closed() {
        if (desc_at_ != kNowhere && stack_.size() <= desc_at_) desc_at_ = kNowhere;
        if (coverpage_at_ != kNowhere && stack_.size() <= coverpage_at_) coverpage_at_ = kNowhere;
    }

    static std::string attr(const std::vector<eb_xml_attr> &attrs, std::string_view local) {
        for (const auto &a : attrs)
            if (a.ns.empty() && a.local == local) return std::string(a.value);
        return "";
    }
    // The image's link, in the XLink namespace as a rule, but any href counts.
    static std::string href(const std::vector<eb_xml_attr> &attrs) {
        std::string any;
        for (const auto &a : attrs) {
            if (a.local != "href") continue;
            if (a.ns == "http://www.w3.org/1999/xlink") return std::string(a.value);
            if (any.empty()) any = a.value;
        }
        return any;
    }

    void person_part(std::string_view name, const std::string &value) {
        if (name == "first-name" && person_.first.empty()) person_.first = value;
        if (name == "middle-name" && person_.middle.empty()) person_.middle = value;
        if (name == "last-name" && person_.last.empty()) person_.last = value;
        if (name == "nickname" && person_.nick.empty()) person_.nick = value;
    }

    void title_field(const std::string &name, std::string_view parent, const std::string &value) {
        if (parent == "author" || parent == "translator") person_part(name, value);
        if (parent != "title-info") return;
        if (name == "author" || name == "translator") {
            const std::string n = person_.name();
            if (n.empty()) return;
            if (name == "author")
                r_.authors.push_back({n, person_.sort(), "aut"});
            else
                r_.contributors.push_back({n, person_.sort(), "trl"});
        } else if (name == "book-title" && !title_seen_) {
            title_seen_ = true;
            r_.title = value;
        } else if (name == "genre") {
            add_subject(value);
        } else if (name == "keywords") {
            split_keywords(value);
        } else if (name == "lang" && !lang_seen_) {
            lang_seen_ = true;
            r_.language = value;
            if (!value.empty()) r_.languages.push_back(value);
        } else if (name == "date" && date_text_.empty()) {
            date_text_ = value;
        }
    }
    bool title_seen_ = false, lang_seen_ = false;

    void cap_title_field(const std::string &name, std::string_view parent,
                         const std::string &value) {
        if (parent == "author") person_part(name, value);
        if (name == "author" && parent == "Title-info") {
            const std::string n = person_.name();
            if (!n.empty()) cap_authors_.push_back({n, person_.sort(), "aut"});
            person_ = {};
        }
    }

    void split_keywords(const std::string &value) {
        std::size_t from = 0;
        while (from <= value.size()) {
            std::size_t comma = value.find(',', from);
            if (comma == std::string::npos) comma = value.size();
            std::string k = fb2_trim(std::string_view(value).substr(from, comma - from));
            if (!k.empty()) keywords_.push_back(std::move(k));
            from = comma + 1;
        }
    }

    // Repeats are dropped when the record is settled.
    void add_subject(std::string s) {
        if (!s.empty()) r_.subjects.push_back(std::move(s));
    }

    void add_series(std::string name, std::string number) {
        name = fb2_trim(name);
        if (name.empty()) return;
        r_.series.push_back({std::move(name), fb2_trim(number)});
    }

    void add_isbn(const std::string &value) {
        if (value.empty()) return;
        const std::string isbn = eb_isbn13(value);
        // A number whose check digit fails is kept, but never as an ISBN.
        r_.identifiers.push_back(
            {isbn.empty() ? "isbn-invalid" : "isbn", isbn.empty() ? value : isbn});
    }
};

}  // namespace

int eb_record_fb2(std::string_view doc, eb_record &r) {
    r.format = "fb2";
    // The same two markers by which the book info calls a FictionBook protected.
    if (fb2_marked_encrypted(doc)) {
        r.drm = true;
        r.drm_scheme = "fb2-encrypted";
    }

    // The description comes first: reading stops at its end tag. A text cut
    // there spares the reader the decoding and mending of the pictures; when
    // the cut proves wrong (the end tag text sat in a comment), the whole
    // document is read instead.
    std::string_view part = doc;
    const std::size_t close = doc.find("</description>");
    if (close != std::string_view::npos) part = doc.substr(0, close + 14);
    eb_record fresh = r;
    fb2_handler h(r);
    eb_xml_result res = eb_xml_read(part, h);
    if (!h.description_closed && part.size() < doc.size()) {
        r = fresh;
        fb2_handler whole(r);
        res = eb_xml_read(doc, whole);
        whole.finish();
        fb2_cover(doc, res.encoding, whole.cover_href(), r);
    } else {
        h.finish();
        // The pictures follow the description: the search starts at its end.
        const std::size_t from = h.description_closed && part.size() < doc.size() ? part.size() : 0;
        fb2_cover(doc, res.encoding, h.cover_href(), r, from);
    }
    if (!res.encoding.empty()) r.encoding = res.encoding;
    r.warnings.insert(r.warnings.end(), res.warnings.begin(), res.warnings.end());
    return 0;
}
