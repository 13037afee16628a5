// eb_rename.h - name patterns and the rename plan built from them.
#ifndef QUENFOLD_OPS_EB_RENAME_H
#define QUENFOLD_OPS_EB_RENAME_H

#include <cstddef>

// Longest file name we propose, without its extension: leaves room for the
// extension and a counter within the 255-byte name limit of common systems.
constexpr std::size_t kNameMax = 180;

extern const char def_pattern[];

// The safe form of src as a file name, or of one field of it, in dst (cap
// bytes): unsafe bytes and controls become '_', characters that reorder or
// hide text are removed, and a text that shows nothing becomes "untitled".
void sanitize_to(char *dst, std::size_t cap, const char *src);
void basename_ext(const char *path, char *base, char *ext);
// True when ext may end a planned name: a full stop followed only by
// characters that sanitize_to keeps (no separator, no control, nothing that
// reorders or hides text).
bool plan_ext_ok(const char *ext);
void build_name(const char *pattern, const char *author, const char *series, const char *idx,
                const char *title, char *out);
char *eb_rename_plan_impl(const char *files_json, const char *pattern);

#endif  // QUENFOLD_OPS_EB_RENAME_H
