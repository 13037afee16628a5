// fields.cpp - the columns of `table` and `csv`: their names, the defaults, and each book's cells.
#include <iterator>

#include "cli.h"

namespace qcli {

namespace {

struct Column {
    Field field;
    const char *name;
};

// In the order of the CSV header, so that a listing of names reads like it.
constexpr Column kColumns[] = {
    {Field::Path, "path"},           {Field::Drm, "drm"},
    {Field::Format, "format"},       {Field::Title, "title"},
    {Field::Author, "author"},       {Field::Language, "language"},
    {Field::Series, "series"},       {Field::SeriesIndex, "series_index"},
    {Field::HasCover, "has_cover"},  {Field::Asin, "asin"},
    {Field::Isbn, "isbn"},           {Field::Publisher, "publisher"},
    {Field::Published, "published"}, {Field::Pages, "pages"},
    {Field::Error, "error"},
};

const char *name_of(Field f) {
    for (const Column &c : kColumns)
        if (c.field == f) return c.name;
    return "";
}

std::string series_cell(const Book &b) {
    if (b.series_index.empty()) return b.series;
    if (b.series.empty()) return "#" + b.series_index;
    return b.series + " #" + b.series_index;
}

}  // namespace

std::string field_names() {
    std::string out;
    for (const Column &c : kColumns) {
        if (!out.empty()) out += ',';
        out += c.name;
    }
    return out;
}

bool parse_fields(std::string_view list, std::vector<Field> &out, std::string &bad) {
    out.clear();
    for (std::size_t start = 0;;) {
        std::size_t comma = list.find(',', start);
        std::string_view name = list.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const Column *found = nullptr;
        for (const Column &c : kColumns)
            if (name == c.name) found = &c;
        if (!found) {
            bad = std::string(name);
            return false;
        }
        out.push_back(found->field);
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

std::vector<Field> default_table_fields() {
    return {Field::Format, Field::Author, Field::Series, Field::Title, Field::Path};
}

std::vector<Field> default_csv_fields(Detail detail) {
    std::vector<Field> f = {Field::Path,     Field::Drm,      Field::Format, Field::Title,
                            Field::Author,   Field::Language, Field::Series, Field::SeriesIndex,
                            Field::HasCover, Field::Asin};
    // The short object has neither; its columns stay those scripts know.
    if (detail == Detail::Full) f.insert(f.end(), {Field::Isbn, Field::Publisher});
    f.push_back(Field::Error);
    return f;
}

std::string field_heading(Field f, bool table) {
    std::string name = name_of(f);
    if (table)
        for (char &c : name)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

std::string field_cell(const Book &b, Field f, bool table) {
    if (f == Field::Path) return b.path;
    if (f == Field::Error) return b.ok ? std::string() : b.error;
    if (!b.ok) {
        if (!table) return {};
        if (f == Field::Format) return "-";
        if (f == Field::Title) return "(error: " + b.error + ")";
        return {};
    }
    switch (f) {
        case Field::Drm:
            return b.drm ? "true" : "false";
        case Field::Format:
            return table && b.drm ? b.format + " (drm)" : b.format;
        case Field::Title:
            return b.title;
        case Field::Author:
            return b.author;
        case Field::Language:
            return b.language;
        case Field::Series:
            return table ? series_cell(b) : b.series;
        case Field::SeriesIndex:
            return b.series_index;
        case Field::HasCover:
            return b.has_cover ? "true" : "false";
        case Field::Asin:
            return b.asin;
        case Field::Isbn:
            return b.isbn;
        case Field::Publisher:
            return b.publisher;
        case Field::Published:
            return b.published;
        case Field::Pages:
            return b.pages;
        default:
            return {};
    }
}

}  // namespace qcli
