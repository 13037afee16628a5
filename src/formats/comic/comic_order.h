// comic_order.h - which members of a comic archive are pages and documents, their reading order,
// and the cover.
#ifndef QUENFOLD_FORMATS_COMIC_ORDER_H
#define QUENFOLD_FORMATS_COMIC_ORDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/comic/comic_archive.h"

// Member names are bytes: '/' and '\' both separate folders, a leading "/"
// or "./" says nothing, and no name is ever used as a path.

// An image page: its extension (any case) is jpg, jpeg, jpe, png, gif,
// webp, bmp, avif, jxl, tif or tiff; no folder on its way is named __MACOSX
// and its own name does not start with '.'.
bool eb_comic_is_image(std::string_view name);

// The media type an image's extension names ("" for none).
std::string_view eb_comic_image_mime(std::string_view name);

// The metadata document of that file name (ASCII letters in any case): the
// one in the archive's root, else the first one folder down in archive
// order; deeper ones, those under __MACOSX and look-alikes such as
// "._ComicInfo.xml" are not it. Null when there is none.
const eb_comic_member *eb_comic_find_doc(const std::vector<eb_comic_member> &members,
                                         std::string_view file_name);

// Natural order of member names: runs of digits compare by value ("page2"
// before "page10"), other bytes case-insensitively for ASCII letters, a
// folder separator before any other character (a folder's pages before
// those of a folder whose name extends it). Names equal so far fall back to
// plain byte order.
int eb_comic_natural_cmp(std::string_view a, std::string_view b);

// The image members in reading order: natural order, archive order among
// identical names. n log n comparisons.
std::vector<const eb_comic_member *> eb_comic_pages(const std::vector<eb_comic_member> &members);

// The cover among the pages in reading order and the rule that chose it:
// the page that ComicInfo's page list marks FrontCover ("front-cover"), else
// the image CoMet's coverImage names ("comet-cover-image"), else the first
// page ("first-image"). A FrontCover index or a coverImage name that names
// no page is passed over with a warning in *warning.
struct eb_comic_cover_choice {
    const eb_comic_member *member = nullptr;
    const char *from = "";
};
eb_comic_cover_choice eb_comic_choose_cover(const std::vector<const eb_comic_member *> &pages,
                                            std::optional<std::uint64_t> front_cover,
                                            std::string_view cover_name,
                                            std::vector<std::string> *warnings);

#endif  // QUENFOLD_FORMATS_COMIC_ORDER_H
