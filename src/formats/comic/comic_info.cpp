// comic_info.cpp - ComicInfo.xml and CoMet documents through the lenient XML reader, mapped to the
// full record's terms.
#include <array>
#include <string>

#include "formats/comic/comic_meta.h"
#include "io/zip_archive.h"
#include "record/identifiers.h"
#include "text/ascii.h"
#include "text/plain_text.h"
#include "text/xml_reader.h"

namespace {

// The elements directly under the root, each handed over whole with its
// local name; text inside nested markup counts as the element's. Only the
// names a mapping asks for are collected, so memory stays with the result
// however many other elements a document holds.
class root_fields : public eb_xml_handler {
  public:
    void start(std::string_view, std::string_view local,
               const std::vector<eb_xml_attr> &attrs) override {
        ++depth_;
        if (depth_ == 2) {
            field_ = slot(local);
            text_.clear();
        } else if (depth_ == 3 && in_pages_) {
            page(local, attrs);
        }
        if (depth_ == 2) in_pages_ = eb_ascii_iequal(local, "Pages");
    }
    void end(std::string_view, std::string_view) override {
        if (depth_ == 2) {
            if (field_ >= 0) field(field_, text_);
            field_ = -1;
            in_pages_ = false;
        }
        if (depth_ > 0) --depth_;
    }
    void text(std::string_view t) override {
        if (field_ >= 0 && depth_ >= 2) text_.append(t);
    }

  protected:
    // The index of an element the mapping wants, or -1.
    virtual int slot(std::string_view local) const = 0;
    virtual void field(int slot, std::string &text) = 0;
    virtual void page(std::string_view, const std::vector<eb_xml_attr> &) {}

  private:
    int depth_ = 0;
    int field_ = -1;
    bool in_pages_ = false;
    std::string text_;
};

template <std::size_t N>
int index_of(const std::array<std::string_view, N> &names, std::string_view local) {
    for (std::size_t i = 0; i < N; ++i)
        if (eb_ascii_iequal(names[i], local)) return static_cast<int>(i);
    return -1;
}

// ComicInfo's elements that the record uses, credits in the schema's order.
// clang-format off
enum ci {
    Title, Series, Number, Volume, AlternateSeries, AlternateNumber, StoryArc, StoryArcNumber,
    Summary, Year, Month, Day, Writer, Penciller, Inker, Colorist, Letterer, CoverArtist, Editor,
    Translator, Publisher, Imprint, Genre, Tags, Web, PageCount, LanguageISO, GTIN, kCount
};
// clang-format on
constexpr std::array<std::string_view, kCount> kComicInfo = {
    "Title",    "Series",         "Number",      "Volume",   "AlternateSeries", "AlternateNumber",
    "StoryArc", "StoryArcNumber", "Summary",     "Year",     "Month",           "Day",
    "Writer",   "Penciller",      "Inker",       "Colorist", "Letterer",        "CoverArtist",
    "Editor",   "Translator",     "Publisher",   "Imprint",  "Genre",           "Tags",
    "Web",      "PageCount",      "LanguageISO", "GTIN"};

// Each element once: the first in document order wins.
class comicinfo_handler : public root_fields {
  public:
    std::array<std::string, kCount> value;
    std::array<bool, kCount> seen{};
    std::optional<std::uint64_t> front_cover;
    bool bad_front_cover = false;

  protected:
    int slot(std::string_view local) const override { return index_of(kComicInfo, local); }
    void field(int i, std::string &text) override {
        if (seen[i]) return;
        seen[i] = true;
        value[i] = std::move(text);
    }
    // <Page Image="0" Type="FrontCover"/>: Type is a list of page types.
    void page(std::string_view local, const std::vector<eb_xml_attr> &attrs) override {
        if (front_cover || !eb_ascii_iequal(local, "Page")) return;
        std::string_view image, type;
        for (const eb_xml_attr &a : attrs) {
            if (eb_ascii_iequal(a.local, "Image")) image = a.value;
            if (eb_ascii_iequal(a.local, "Type")) type = a.value;
        }
        if (!has_token(type, "FrontCover")) return;
        std::uint64_t v = 0;
        bool ok = !image.empty() && image.size() <= 18;
        for (std::size_t i = 0; ok && i < image.size(); ++i) {
            ok = image[i] >= '0' && image[i] <= '9';
            v = v * 10 + static_cast<unsigned>(image[i] - '0');
        }
        if (ok)
            front_cover = v;
        else
            bad_front_cover = true;
    }

  private:
    static bool has_token(std::string_view list, std::string_view token) {
        std::size_t i = 0;
        while (i < list.size()) {
            while (i < list.size() && eb_ascii_space(static_cast<unsigned char>(list[i])))
                ++i;
            std::size_t e = i;
            while (e < list.size() && !eb_ascii_space(static_cast<unsigned char>(list[e])))
                ++e;
            if (e > i && eb_ascii_iequal(list.substr(i, e - i), token)) return true;
            i = e;
        }
        return false;
    }
};

// A count ComicInfo writes as a number; 0 (its "unset") when it is none.
std::uint64_t count_of(std::string_view s) {
    std::string t = eb_comic_text(s);
    if (t.empty() || t.size() > 9) return 0;
    std::uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    return v;
}

// ComicInfo writes -1 for an unset Volume.
std::string volume_of(std::string_view s) {
    std::string t = eb_comic_text(s);
    return t.size() > 1 && t[0] == '-' ? std::string() : t;
}

void take_result(const eb_xml_result &x, const char *doc, eb_comic_meta &m) {
    m.encoding = x.encoding;
    for (const std::string &w : x.warnings)
        m.warnings.push_back(std::string(doc) + ": " + w);
}

// CoMet's elements; those from creator on may repeat, and each occurrence counts.
// clang-format off
enum cm {
    CTitle, CDescription, CSeries, CIssue, CVolume, CDate, CPublisher, CLanguage, CRights, CPages,
    CCoverImage, CGenre, CIdentifier, CCreator, CWriter, CPenciller, CEditor, CCoverDesigner,
    CLetterer, CInker, CColorist, kCometCount
};
// clang-format on
constexpr std::array<std::string_view, kCometCount> kComet = {
    "title",    "description", "series", "issue",         "volume",   "date",       "publisher",
    "language", "rights",      "pages",  "coverImage",    "genre",    "identifier", "creator",
    "writer",   "penciller",   "editor", "coverDesigner", "letterer", "inker",      "colorist"};

class comet_handler : public root_fields {
  public:
    std::array<std::string, CGenre> value;
    std::array<bool, CGenre> seen{};
    eb_comic_meta *meta = nullptr;

  protected:
    int slot(std::string_view local) const override { return index_of(kComet, local); }
    void field(int i, std::string &text) override {
        if (i < CGenre) {
            if (!seen[i]) value[i] = std::move(text);
            seen[i] = true;
        } else if (i == CGenre) {
            meta->add_subjects(text, false);
        } else if (i == CIdentifier) {
            eb_identifier id = eb_classify_identifier("", eb_comic_text(text));
            meta->add_identifier(std::move(id));
        } else {
            meta->add_credit(kComet[i], text, false);
        }
    }
};

}  // namespace

eb_comic_meta eb_comicinfo_read(std::string_view doc) {
    eb_comic_meta m;
    comicinfo_handler h;
    take_result(eb_xml_read(doc, h), "ComicInfo.xml", m);
    const auto &v = h.value;
    m.title = eb_comic_text(v[Title]);
    // Series with its number (else the volume), then the alternate series,
    // then the story arc, each when named.
    std::string number = eb_comic_text(v[Number]);
    m.add_series(v[Series], number.empty() ? volume_of(v[Volume]) : number);
    m.add_series(v[AlternateSeries], v[AlternateNumber]);
    m.add_series(v[StoryArc], v[StoryArcNumber]);
    m.published = eb_comic_date(v[Year], v[Month], v[Day]);
    m.description = eb_markup_to_text(eb_comic_text(v[Summary]));
    m.publisher = eb_comic_text(v[Publisher]);
    if (m.publisher.empty()) m.publisher = eb_comic_text(v[Imprint]);
    m.language = eb_comic_text(v[LanguageISO]);
    m.add_subjects(v[Genre], true);
    m.add_subjects(v[Tags], true);
    for (int c = Writer; c <= Translator; ++c)
        m.add_credit(kComicInfo[c], v[c], true);
    m.page_count = count_of(v[PageCount]);
    // A GTIN is an ISBN when its digits pass as one.
    if (std::string gtin = eb_comic_text(v[GTIN]); !gtin.empty()) {
        eb_identifier id = eb_classify_identifier("", gtin);
        m.add_identifier(id.scheme == "isbn" ? id : eb_identifier{"gtin", gtin});
    }
    // Web may hold several URLs, separated by blanks or commas.
    std::string_view web = v[Web];
    while (!web.empty()) {
        std::size_t cut = web.find_first_of(" \t\r\n,");
        m.add_identifier({"url", std::string(web.substr(0, cut))});
        web = cut == std::string_view::npos ? std::string_view() : web.substr(cut + 1);
    }
    m.front_cover = h.front_cover;
    if (h.bad_front_cover && !h.front_cover)
        m.warnings.push_back("ComicInfo.xml: FrontCover page without an image index");
    return m;
}

eb_comic_meta eb_comet_read(std::string_view doc) {
    eb_comic_meta m;
    comet_handler h;
    h.meta = &m;
    take_result(eb_xml_read(doc, h), "comet.xml", m);
    const auto &v = h.value;
    m.title = eb_comic_text(v[CTitle]);
    std::string issue = eb_comic_text(v[CIssue]);
    m.add_series(v[CSeries], issue.empty() ? eb_comic_text(v[CVolume]) : issue);
    m.published = eb_comic_text(v[CDate]);
    m.description = eb_markup_to_text(eb_comic_text(v[CDescription]));
    m.publisher = eb_comic_text(v[CPublisher]);
    m.language = eb_comic_text(v[CLanguage]);
    m.rights = eb_comic_text(v[CRights]);
    m.page_count = count_of(v[CPages]);
    m.cover_name = eb_comic_text(v[CCoverImage]);
    return m;
}
