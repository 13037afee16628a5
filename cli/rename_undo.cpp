// rename_undo.cpp - rename --undo: the moves of a --log file taken back, the last first, never
// over an existing file, and the folders they made removed when empty.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yyjson.h>

#include <cerrno>
#include <fstream>

#include "cli.h"

namespace qcli {

namespace {

struct Move {
    std::string from, to;
    std::vector<std::string> made;  // the folders the move made, the outermost first
};

bool string_member(yyjson_val *obj, const char *key, std::string &out) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (!yyjson_is_str(v) || yyjson_get_len(v) == 0) return false;
    out.assign(yyjson_get_str(v), yyjson_get_len(v));
    return true;
}

// One line of the log; false when it is none.
bool read_move(std::string_view line, Move &m) {
    eb_doc_ptr doc = read_json(line, 0);
    yyjson_val *obj = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_obj(obj) || !string_member(obj, "from", m.from) ||
        !string_member(obj, "to", m.to))
        return false;
    yyjson_val *made = yyjson_obj_get(obj, "made_folders");
    if (made && !yyjson_is_arr(made)) return false;
    std::size_t i, n;
    yyjson_val *v;
    yyjson_arr_foreach(made, i, n, v) {
        if (!yyjson_is_str(v)) return false;
        m.made.emplace_back(yyjson_get_str(v), yyjson_get_len(v));
    }
    return true;
}

// The whole log, checked before anything moves: a file that is no log (a
// plan, a typo'd name) moves nothing.
bool read_log(const std::string &path, std::vector<Move> &moves) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        complain("cannot open the log %s (%s)", path.c_str(), errno_text(errno).c_str());
        return false;
    }
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        Move m;
        if (!read_move(line, m)) {
            complain("%s:%zu: not a move of a rename log; nothing was moved back", path.c_str(),
                     number);
            return false;
        }
        moves.push_back(std::move(m));
    }
    if (in.bad()) {
        complain("cannot read the log %s", path.c_str());
        return false;
    }
    return true;
}

// Puts one move back on record; false when standard output cannot take it.
bool report_back(const Move &m, bool table) {
    if (table) {
        return write_out(stdout, shown(m.to) + " \u2192 " + shown(m.from) + "\n") &&
               std::fflush(stdout) == 0;
    }
    return write_json(move_line(m.to, m.from)) && std::fflush(stdout) == 0;
}

}  // namespace

int run_undo(const std::string &log, bool table) {
    std::vector<Move> moves;
    if (!read_log(log, moves)) return kExitUsage;
    std::size_t back = 0, already = 0, failed = 0;
    bool out_ok = true;
    // The last move first: a book that took the old name of another moves
    // out of the way before that one comes back.
    for (auto it = moves.rbegin(); it != moves.rend() && out_ok; ++it) {
        const Move &m = *it;
        struct stat st;
        if (lstat(m.to.c_str(), &st) != 0) {
            if (lstat(m.from.c_str(), &st) == 0) {
                ++already;
            } else {
                complain("not moved back: %s: no longer there", m.to.c_str());
                ++failed;
            }
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            complain("not moved back: %s: not a file", m.to.c_str());
            ++failed;
            continue;
        }
        if (rename_noreplace(AT_FDCWD, m.to.c_str(), AT_FDCWD, m.from.c_str()) != 0) {
            complain("not moved back: %s \u2192 %s: %s", m.to.c_str(), m.from.c_str(),
                     errno == EEXIST ? "target exists" : errno_text(errno).c_str());
            ++failed;
            continue;
        }
        ++back;
        for (auto dir = m.made.rbegin(); dir != m.made.rend(); ++dir)
            rmdir(dir->c_str());  // only when empty: other books may live there now
        if (!report_back(m, table)) {
            complain("cannot write to standard output (%s); stopped after moving %s back to %s",
                     errno_text(errno ? errno : EIO).c_str(), m.to.c_str(), m.from.c_str());
            out_ok = false;
        }
    }
    complain("%zu moved back, %zu already back, %zu not moved back", back, already, failed);
    return failed == 0 && out_ok ? kExitOk : kExitFailed;
}

}  // namespace qcli
