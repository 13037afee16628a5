// rename_folders.cpp - rename --folders: a pattern whose slashes make folders, each part named by
// the library's planner as a file name is.
#include <map>

#include "cli.h"

namespace qcli {

namespace {

std::vector<std::string> split_pattern(std::string_view pattern) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        std::size_t slash = pattern.find('/', start);
        std::string_view part = pattern.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        // "{author}//{title}" has no empty folder; the planner would read an
        // empty pattern as its default one.
        if (!part.empty()) parts.emplace_back(part);
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

// Each book's name for one folder part of the pattern, in one plan: every
// book gets an extension of its own (".0", ".1"...), so that books sharing
// a folder are not numbered apart; the extension is then taken off again.
bool part_names(const std::vector<PlanRequest> &asked, const std::string &part,
                std::vector<std::string> &names) {
    std::vector<PlanRequest> req = asked;
    for (std::size_t i = 0; i < req.size(); ++i)
        req[i].path = "folder." + std::to_string(i);
    std::vector<Entry> plan;
    if (!plan_names(req, part, plan)) return false;
    if (plan.size() != req.size()) {
        complain("the rename plan does not match the request (%zu entries for %zu books)",
                 plan.size(), req.size());
        return false;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        std::string name = plan[i].to_name;
        const std::string ext = "." + std::to_string(i);
        if (name.size() > ext.size() &&
            name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
            name.resize(name.size() - ext.size());
        names.push_back(std::move(name));
    }
    return true;
}

// The folders one part of the pattern makes: "" for a book for which the
// part names nothing ("{series}" of a book in no series), which the planner
// calls "untitled" -- unlike a name that is "untitled" whatever the book
// lacks: the part is planned again with every empty field filled in, and
// only a name that changes then came from nothing.
bool folder_names(const std::vector<PlanRequest> &asked, const std::string &part,
                  std::vector<std::string> &names) {
    std::vector<std::string> plain, filled;
    std::vector<PlanRequest> full = asked;
    for (PlanRequest &r : full)
        for (std::string *field : {&r.author, &r.series, &r.series_index, &r.title})
            if (field->empty()) *field = "x";
    if (!part_names(asked, part, plain) || !part_names(full, part, filled)) return false;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        std::string name = plain[i];
        if (name == "untitled" && filled[i] != name) name.clear();
        // The planner trims a name's trailing full stops, so "." and ".."
        // never come back; a leading one would hide the folder.
        make_visible_name(name);
        names.push_back(std::move(name));
    }
    return true;
}

std::string base_name(const std::string &path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string folder_base(const std::string &book, const std::string &dir_arg) {
    if (!dir_arg.empty()) return dir_arg + "/";
    std::size_t slash = book.rfind('/');
    return slash == std::string::npos ? std::string() : book.substr(0, slash + 1);
}

bool plan_in_folders(std::vector<PlanRequest> &asked, const std::string &pattern,
                     const std::vector<std::string> &base_of, std::vector<Entry> &plan, bool &ok) {
    std::vector<std::string> parts = split_pattern(pattern);
    const std::string file_part = parts.back();
    parts.pop_back();
    std::vector<std::vector<std::string>> folders(asked.size());
    for (const std::string &part : parts) {
        std::vector<std::string> names;
        if (!folder_names(asked, part, names)) return false;
        for (std::size_t i = 0; i < asked.size(); ++i)
            if (!names[i].empty()) folders[i].push_back(names[i]);
    }

    // Books are planned folder by folder: the planner numbers equal names
    // wherever they lie, and two books of one title by two authors belong
    // in two folders under the same name.
    std::map<std::string, std::vector<std::size_t>> groups;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        std::string dir = base_of[i];
        for (const std::string &f : folders[i])
            dir += f + "/";
        // The planner holds a path of at most 511 bytes.
        if (dir.size() + base_name(asked[i].path).size() > 511) {
            complain("%s: the new path would be too long to plan", asked[i].path.c_str());
            ok = false;
            continue;
        }
        auto [it, fresh] = groups.try_emplace(dir);
        if (fresh) order.push_back(dir);
        it->second.push_back(i);
    }

    std::vector<Entry> by_book(asked.size());
    for (const std::string &dir : order) {
        std::vector<PlanRequest> req;
        for (std::size_t i : groups[dir]) {
            req.push_back(asked[i]);
            req.back().path = dir + base_name(asked[i].path);
        }
        std::vector<Entry> part_plan;
        if (!plan_names(req, file_part, part_plan)) return false;
        if (part_plan.size() != req.size()) {
            complain("the rename plan does not match the request (%zu entries for %zu books)",
                     part_plan.size(), req.size());
            return false;
        }
        for (std::size_t k = 0; k < req.size(); ++k) {
            const std::size_t i = groups[dir][k];
            Entry e = std::move(part_plan[k]);
            e.from = asked[i].path;
            e.in_folders = true;
            e.base = base_of[i];
            e.folders = folders[i];
            by_book[i] = std::move(e);
        }
    }
    std::vector<PlanRequest> kept;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        if (!by_book[i].in_folders) continue;  // its path was too long
        kept.push_back(std::move(asked[i]));
        plan.push_back(std::move(by_book[i]));
    }
    asked.swap(kept);
    return true;
}

}  // namespace qcli
