// test_error.cpp - the per-thread error text: emptied by each call, kept apart per thread, errno
// texts.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "book_builders.h"
#include "book_info.h"
#include "error.h"
#include "quenfold_ebook.h"
#include "temp_dir.h"
#include "text/encoding.h"

namespace {

using qtest::info;

std::string mobi_book(const std::string &title) {
    qtest::MobiDesc s;
    s.full_name = title;
    return qtest::build_mobi(s);
}

}  // namespace

TEST(ErrorText, ErrorTextIsEmptiedAndKeptPerThread) {
    qtest::TempDir d("error");
    std::string good = d.put("good.mobi", mobi_book("Good"));
    std::string bad = d.put("bad.mobi", "short");
    ASSERT_EQ(info(bad), "ERR:MOBI too short for PalmDB header");
    std::string text = info(good);
    EXPECT_EQ(text.rfind("{", 0), 0u);
    EXPECT_STREQ(ebook_last_error(), "");

    // Many threads at once, each on its own books, each seeing its own text.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::string mine =
                d.put("t" + std::to_string(t) + ".mobi", mobi_book("T" + std::to_string(t)));
            std::string missing = d.path + "/none" + std::to_string(t) + ".mobi";
            for (int i = 0; i < 200; ++i) {
                char *s = ebook_info(mine.c_str());
                if (!s ||
                    std::strstr(s, ("\"title\":\"T" + std::to_string(t) + "\"").c_str()) ==
                        nullptr ||
                    ebook_last_error()[0] != '\0')
                    ++wrong;
                ebook_free_string(s);
                if (ebook_info(missing.c_str()) != nullptr ||
                    std::string(ebook_last_error()).find(missing) == std::string::npos)
                    ++wrong;
            }
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ErrorText, SystemMessagesNameTheSubjectThenTheCause) {
    struct Case {
        const char *what, *subject;
        int errnum;
        const char *want;
    } cases[] = {
        {"cannot open file", "/b/x.epub", ENOENT,
         "cannot open file: /b/x.epub (No such file or directory)"},
        {"cannot write cover", "/ro/c.jpg", EACCES,
         "cannot write cover: /ro/c.jpg (Permission denied)"},
        {"cannot open dir", "", ENOTDIR, "cannot open dir:  (Not a directory)"},
        // A format directive inside the subject is data, never a directive.
        {"cannot open file", "%s%n", ENOENT, "cannot open file: %s%n (No such file or directory)"},
    };
    for (const auto &c : cases) {
        eb_set_errno_error(c.what, c.subject, c.errnum);
        EXPECT_STREQ(eb_error_text(), c.want) << c.subject;
        EXPECT_EQ(eb_error_text(), ebook_last_error());
    }
    // An unknown number still gives a text.
    eb_set_errno_error("cannot open file", "x", 123456);
    EXPECT_EQ(std::string(eb_error_text()).rfind("cannot open file: x (", 0), 0u);
    eb_clear_error();
    EXPECT_STREQ(eb_error_text(), "");
}

// A message longer than the error text loses its middle, on whole
// characters: what failed and why stay, with the ends of the path.
TEST(ErrorText, LongMessagesAreCutInTheMiddle) {
    std::string dir(209, 'd'), wide;
    for (int i = 0; i < 120; ++i)
        wide += "\xC3\xA9";
    for (const std::string &path : {"/none/" + dir + "/" + dir + "/" + dir + "/x.epub",
                                    "/n/" + wide + "/" + wide + "/x.epub"}) {
        const std::string err = info(path).substr(4);
        EXPECT_GE(err.size(), 508u);
        EXPECT_LE(err.size(), 511u);
        EXPECT_EQ(err.rfind("cannot open file: /n", 0), 0u) << err;
        EXPECT_NE(err.find("..."), std::string::npos) << err;
        EXPECT_TRUE(err.ends_with("/x.epub (No such file or directory)")) << err;
        EXPECT_TRUE(eb_utf8_valid(err)) << err;
    }
}
