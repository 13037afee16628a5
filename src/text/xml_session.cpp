// xml_session.cpp - expat over mended UTF-8 text, resuming after every error with the open
// elements opened again, one parser per document.
#include "text/xml_session.h"

#include <algorithm>
#include <exception>
#include <set>
#include <string>

#include "text/xml_expat.h"

namespace {

using namespace eb_xml;

constexpr std::size_t kMaxReplay = 64 * 1024;  // bytes of re-opened start tags per restart
// The restarts of one reading together cost at most this budget: each one
// its replay and, for the parser's reset, as much as this many bytes of text
// cost to read. A long document with many broken spots is still read to its
// end, and a document full of errors stays linear in its size.
constexpr std::size_t kRestartCost = 4096;
constexpr std::size_t kReplayBudgetBase = 8 << 20;  // plus the text
constexpr std::size_t kMaxListed = 20;              // parse errors described one by one
constexpr std::size_t kChunk = 1 << 20;             // bytes handed to expat at a time, at most
// The first piece after a restart is small and each next one twice as long:
// expat copies what it is handed, and a restart that fails again at once
// should not have cost a megabyte. The first reading hands it kChunk at once:
// expat counts the lines and columns of every piece but the last (about 12
// instructions a byte, a sixth of its parsing).
constexpr std::size_t kFirstChunk = 64;
// No book nests its markup this deep; past it the reading stops, which keeps
// the parser's own stack of open elements small.
constexpr std::size_t kMaxDepth = 1024;
// Internal entities carried over a restart: at most this many, this much text.
constexpr std::size_t kMaxEntities = 1024;
constexpr std::size_t kMaxEntityText = 32 * 1024;

// An element still open, as needed to open it again in a fresh parser. Its
// name ("uri\nlocal\nprefix" as expat gives it) is kept once, in the names
// buffer that grows and shrinks with the stack; most elements declare no
// namespace.
struct open_element {
    std::size_t name_at, name_len;  // in the names buffer
    std::string decls;              // its namespace declarations, as attribute text
    bool synthetic;                 // the reader's own wrapper, never reported
};

class session {
  public:
    session(std::string_view text, eb_xml_handler &h, std::vector<std::string> &warnings)
        : text_(text), h_(h), warnings_(warnings) {}

    // Reads the text; returns the offset in it where reading ended.
    std::size_t run() {
        parser_lease lease;
        const std::size_t end = read_all(lease);
        if (!error_) lease.keep_if_short(fed_);
        if (error_) std::rethrow_exception(error_);
        return end;
    }

  private:
    std::string_view text_;
    eb_xml_handler &h_;
    std::vector<std::string> &warnings_;
    std::vector<open_element> stack_;
    std::string names_;  // the names of the open elements, back to back
    std::string pending_decls_;
    std::set<std::string, std::less<>> extra_prefixes_;  // bound by the wrapper
    std::string entities_;                               // <!ENTITY ...> declarations met
    std::size_t entity_count_ = 0;
    std::vector<eb_xml_attr> attrs_;
    std::exception_ptr error_;
    XML_Parser parser_ = nullptr;
    bool replaying_ = false, too_deep_ = false;
    std::size_t errors_ = 0, line_pos_ = 0, line_ = 1, replayed_ = 0, fed_ = 0;

    std::size_t read_all(parser_lease &lease) {
        std::size_t start = 0;
        for (bool restart = false;; restart = true) {
            std::size_t err_at = 0;
            const XML_Error err = parse_from(lease, start, restart, &err_at);
            if (error_) return err_at;
            if (err == XML_ERROR_NONE) return text_.size();
            if (err == XML_ERROR_ABORTED) return err_at;
            if (err == XML_ERROR_UNBOUND_PREFIX) {
                const std::size_t tag =
                    bind_tag_prefixes(text_, err_at, extra_prefixes_, warnings_);
                if (tag != std::string_view::npos) {
                    start = std::max(start, tag);
                    continue;
                }
            }
            // The end of the text with only the wrapper open is the normal end
            // of a restarted reading.
            if (err_at >= text_.size() && only_wrapper_open()) return text_.size();
            note_error(err, err_at);
            // A token that runs to the end of the text (a tag or a value whose
            // end never comes) leaves nothing after it that could be read.
            if (err == XML_ERROR_UNCLOSED_TOKEN || err == XML_ERROR_PARTIAL_CHAR ||
                err == XML_ERROR_UNCLOSED_CDATA_SECTION || err_at >= text_.size())
                return text_.size();
            if (err == XML_ERROR_TAG_MISMATCH) {
                const std::size_t next = close_to_end_tag(err_at);
                if (h_.stop) return err_at;
                if (next > start) {
                    start = next;
                    continue;
                }
            }
            // A tag that begins where the error was found is tried once more
            // in a fresh parser (a second root element, for one).
            if (err_at > start && text_[err_at] == '<') {
                start = err_at;
                continue;
            }
            const std::size_t next = text_.find('<', err_at + 1);
            if (next == std::string_view::npos) return text_.size();
            start = next;
        }
    }

    std::string_view name_of(const open_element &e) const {
        return std::string_view(names_).substr(e.name_at, e.name_len);
    }
    void pop() {
        if (stack_.empty()) return;
        names_.resize(stack_.back().name_at);
        stack_.pop_back();
    }

    // The namespace declarations of the elements a replay opened again,
    // from the stack as it was before.
    void take_declarations(std::vector<open_element> &before) {
        auto from = before.begin();
        for (open_element &e : stack_) {
            if (e.synthetic) continue;
            while (from != before.end() && from->synthetic)
                ++from;
            if (from != before.end()) e.decls = std::move((from++)->decls);
        }
    }

    bool only_wrapper_open() const {
        return std::all_of(stack_.begin(), stack_.end(), [](const auto &e) { return e.synthetic; });
    }

    // What puts a fresh parser where the last one failed: the internal
    // entities declared so far, the wrapper binding the undeclared prefixes,
    // then every open element with its own namespace declarations.
    std::string replay_prologue() const {
        std::string out;
        if (!entities_.empty()) out += "<!DOCTYPE eb-replay [" + entities_ + "]>";
        if (!extra_prefixes_.empty()) {
            out += "<eb-wrapper";
            for (const auto &p : extra_prefixes_)
                out += " xmlns:" + p + "=\"" + attr_escape(guess_namespace(p)) + "\"";
            out += ">";
        }
        for (const auto &e : stack_) {
            if (e.synthetic) continue;
            const split_name n = split(name_of(e));
            out += '<';
            if (!n.prefix.empty()) out.append(n.prefix).append(1, ':');
            out.append(n.local).append(e.decls).append(1, '>');
        }
        return out;
    }

    void set_up() {
        XML_SetReturnNSTriplet(parser_, XML_TRUE);
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, on_start, on_end);
        XML_SetCharacterDataHandler(parser_, on_text);
        XML_SetNamespaceDeclHandler(parser_, on_ns, nullptr);
        XML_SetEntityDeclHandler(parser_, on_entity);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        // Metadata never needs much entity text: expansion is cut off far
        // below expat's own defaults.
        XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_, 256 * 1024);
        XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, 10.0f);
    }

    // A restart may begin at 0 too: a root tag whose prefix the wrapper binds.
    XML_Error parse_from(parser_lease &lease, std::size_t start, bool restart,
                         std::size_t *err_at) {
        const std::string prologue = restart ? replay_prologue() : std::string();
        if (restart) replayed_ += prologue.size() + kRestartCost;
        if (prologue.size() > kMaxReplay || replayed_ > kReplayBudgetBase + text_.size()) {
            warnings_.push_back(prologue.size() > kMaxReplay
                                    ? "elements nested too deeply to resume after an XML error"
                                    : "too many XML errors; reading stopped");
            *err_at = text_.size();
            return XML_ERROR_ABORTED;
        }
        const bool wrapped = restart && !extra_prefixes_.empty();
        // The replay opens the same elements again: their namespace
        // declarations are taken over, not read and escaped anew.
        std::vector<open_element> before = std::move(stack_);
        stack_.clear();
        names_.clear();
        pending_decls_.clear();
        if (!lease.reset()) throw std::bad_alloc();
        parser_ = lease.get();
        set_up();

        replaying_ = true;
        fed_ += prologue.size();
        if (!prologue.empty() &&
            XML_Parse(parser_, prologue.data(), static_cast<int>(prologue.size()), XML_FALSE) !=
                XML_STATUS_OK) {
            *err_at = start;  // cannot happen with names the parser itself accepted
            return XML_GetErrorCode(parser_);
        }
        if (wrapped && !stack_.empty()) stack_.front().synthetic = true;
        replaying_ = false;
        take_declarations(before);

        std::size_t chunk = restart ? kFirstChunk : kChunk;
        for (std::size_t at = start;;) {
            const std::size_t n = std::min(chunk, text_.size() - at);
            const bool last = at + n == text_.size();
            fed_ += n;
            if (XML_Parse(parser_, text_.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
                const auto idx = XML_GetCurrentByteIndex(parser_);
                const std::size_t in_text =
                    idx < 0 ? at : static_cast<std::size_t>(idx) - prologue.size() + start;
                *err_at = std::max(start, std::min(in_text, text_.size()));
                return too_deep_ ? XML_ERROR_ABORTED : XML_GetErrorCode(parser_);
            }
            at += n;
            if (last) return XML_ERROR_NONE;
            // expat scans an unfinished token again with every piece: the
            // next piece is at least as long as what it holds back, so that a
            // long token costs a few passes, not one per piece.
            const auto idx = XML_GetCurrentByteIndex(parser_);
            const std::size_t done = prologue.size() + (at - start);
            chunk = std::min(kChunk, 2 * chunk);
            if (idx >= 0 && static_cast<std::size_t>(idx) <= done)
                chunk = std::max(chunk, done - static_cast<std::size_t>(idx));
        }
    }

    // An end tag that does not close the innermost element: when it names
    // an element further out, the elements inside that one end here (as an
    // HTML reader would close them) and so does the named one. One that names
    // none closes the innermost element of its name in another letter case,
    // else the innermost element when it is a typo of its name; any other is
    // passed over. The offset after the end tag, or 0 when there is none.
    std::size_t close_to_end_tag(std::size_t at) {
        std::size_t after = 0;
        const std::string_view qname = end_tag_name(text_, at, &after);
        if (after == 0) return 0;
        std::vector<split_name> open;
        for (const open_element &e : stack_)
            open.push_back(e.synthetic ? split_name{} : split(name_of(e)));
        std::size_t k = end_tag_target(open, qname);
        while (k > 0 && stack_.size() >= k) {
            if (!h_.stop) {
                const split_name n = split(name_of(stack_.back()));
                h_.end(n.ns, n.local);
            }
            pop();
        }
        return after;
    }

    void note_error(XML_Error err, std::size_t at) {
        ++errors_;
        if (errors_ > kMaxListed) {
            if (errors_ == kMaxListed + 1) warnings_.push_back("further XML errors not listed");
            return;
        }
        // Lines counted forward only: errors come in document order.
        for (; line_pos_ < at && line_pos_ < text_.size(); ++line_pos_)
            line_ += text_[line_pos_] == '\n';
        warnings_.push_back("XML not well-formed at line " + std::to_string(line_) + " (" +
                            XML_ErrorString(err) + "); reading resumed at the next tag");
    }

    void check_stop() {
        if (h_.stop) XML_StopParser(parser_, XML_FALSE);
    }

    template <typename F>
    static void guarded(void *ud, F f) {
        auto *s = static_cast<session *>(ud);
        if (s->error_) return;
        try {
            f(*s);
        } catch (...) {
            // No exception may cross expat's C frames: keep it for run().
            s->error_ = std::current_exception();
            XML_StopParser(s->parser_, XML_FALSE);
        }
    }

    static void on_ns(void *ud, const XML_Char *prefix, const XML_Char *uri) {
        guarded(ud, [&](session &s) {
            if (s.replaying_) return;
            s.pending_decls_ += prefix ? std::string(" xmlns:") + prefix : std::string(" xmlns");
            s.pending_decls_ += "=\"" + attr_escape(uri ? uri : "") + "\"";
        });
    }

    // Internal general entities are remembered so that a restarted parser
    // knows them too.
    static void on_entity(void *ud, const XML_Char *name, int is_parameter, const XML_Char *value,
                          int value_length, const XML_Char *, const XML_Char *, const XML_Char *,
                          const XML_Char *) {
        guarded(ud, [&](session &s) {
            if (s.replaying_ || is_parameter || !value) return;
            const std::string decl =
                entity_declaration(name, {value, static_cast<std::size_t>(value_length)});
            if (s.entity_count_ >= kMaxEntities ||
                s.entities_.size() + decl.size() > kMaxEntityText) {
                if (s.entity_count_ != kMaxEntities + 1)
                    s.warnings_.push_back("too many entities to keep after an XML error");
                s.entity_count_ = kMaxEntities + 1;
                return;
            }
            ++s.entity_count_;
            s.entities_ += decl;
        });
    }

    static void on_start(void *ud, const XML_Char *name, const XML_Char **atts) {
        guarded(ud, [&](session &s) {
            if (s.stack_.size() >= kMaxDepth && !s.replaying_) {
                s.warnings_.push_back("elements nested more than " + std::to_string(kMaxDepth) +
                                      " deep; reading stopped");
                s.too_deep_ = true;
                XML_StopParser(s.parser_, XML_FALSE);
                return;
            }
            const std::string_view whole(name);
            s.stack_.push_back({s.names_.size(), whole.size(), std::move(s.pending_decls_), false});
            s.names_ += whole;
            s.pending_decls_.clear();
            if (s.replaying_ || s.h_.stop) return;
            const split_name n = split(whole);
            s.attrs_.clear();
            for (int i = 0; atts[i]; i += 2) {
                const split_name a = split(atts[i]);
                s.attrs_.push_back({a.ns, a.local, atts[i + 1]});
            }
            s.h_.start(n.ns, n.local, s.attrs_);
            s.check_stop();
        });
    }

    static void on_end(void *ud, const XML_Char *name) {
        guarded(ud, [&](session &s) {
            if (!s.replaying_ && !s.h_.stop) {
                // The name kept on the stack is the one expat ends.
                const split_name n =
                    split(s.stack_.empty() ? std::string_view(name) : s.name_of(s.stack_.back()));
                s.h_.end(n.ns, n.local);
                s.check_stop();
            }
            s.pop();
        });
    }

    static void on_text(void *ud, const XML_Char *t, int len) {
        guarded(ud, [&](session &s) {
            if (s.replaying_ || s.h_.stop) return;
            s.h_.text(std::string_view(t, static_cast<std::size_t>(len)));
            s.check_stop();
        });
    }
};

}  // namespace

std::size_t eb_xml_parse_resuming(std::string_view text, eb_xml_handler &h,
                                  std::vector<std::string> &warnings) {
    return session(text, h, warnings).run();
}
