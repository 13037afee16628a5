// comic_meta.h - what one comic metadata source states (ComicInfo.xml, ComicBookInfo, CoMet), in
// the full record's terms.
#ifndef QUENFOLD_FORMATS_COMIC_META_H
#define QUENFOLD_FORMATS_COMIC_META_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "full_record.h"

// One source's mapping. Lists hold no repeats (found by hashing, never by
// scanning); every text is valid UTF-8.
struct eb_comic_meta {
    std::string title, published, description, publisher, language, rights;
    std::vector<eb_series> series;
    std::vector<eb_person> authors, contributors;
    std::vector<std::string> subjects;
    std::vector<eb_identifier> identifiers;
    std::uint64_t page_count = 0;              // 0: not stated
    std::optional<std::uint64_t> front_cover;  // ComicInfo: the FrontCover page's image index
    std::string cover_name;                    // CoMet: coverImage
    std::string encoding;                      // declared when not UTF-8
    std::vector<std::string> warnings;

    // A credit (ComicInfo's element name, ComicBookInfo's or CoMet's role)
    // with its names: split on commas when split, else one name. Writers
    // become authors ("aut"); the others contributors, with the MARC
    // relator code where one fits (colorist "clr", cover artist "cov",
    // editor "edt", translator "trl") and else the credit's name in lower case.
    void add_credit(std::string_view credit, std::string_view names, bool split);
    // Subjects, split on commas when split, trimmed.
    void add_subjects(std::string_view list, bool split);
    void add_identifier(eb_identifier id);
    void add_series(std::string_view name, std::string_view index);

  private:
    bool first_time(char list, std::string_view a, std::string_view b = {});
    std::unordered_set<std::string> seen_;
};

// ComicInfo.xml (schema 1.0 to 2.1, element names in any letter case),
// through the lenient XML reader.
eb_comic_meta eb_comicinfo_read(std::string_view doc);
// A CoMet document (comet.xml).
eb_comic_meta eb_comet_read(std::string_view doc);
// The ComicBookInfo object ("ComicBookInfo/1.0") of a ZIP archive comment;
// false when the comment holds none.
bool eb_comicbookinfo_read(std::string_view comment, eb_comic_meta *out);

// Fills each field of r that is still empty from m (m is left in pieces).
void eb_comic_fill(eb_record &r, eb_comic_meta &m);

// "YYYY", "YYYY-MM" or "YYYY-MM-DD" from the numbers as written, as much as
// is valid from the year on; "" without a valid year.
std::string eb_comic_date(std::string_view year, std::string_view month, std::string_view day);

// Text trimmed of ASCII white space, and valid UTF-8.
std::string eb_comic_text(std::string_view s);

#endif  // QUENFOLD_FORMATS_COMIC_META_H
