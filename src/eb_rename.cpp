// eb_rename.cpp - placeholder until the rename planner lands.
#include "eb_internal.h"

const char def_pattern[] = "{author} - {series} #{idx} - {title}";

char *eb_rename_plan_impl(const char *, const char *) {
    eb_set_error("rename plan is not available in this build");
    return nullptr;
}
