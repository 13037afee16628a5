// test_zip_writer.cpp - archives rewritten: raw members, ZIP64 kept, a stub kept, mimetype mended.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "io/zip_writer.h"
#include "temp_dir.h"
#include "zip_builder.h"

namespace {

std::string rewrite(const std::string &zip, bool mimetype, std::uint64_t replaced,
                    const std::string &with) {
    qtest::TempDir dir("zip-writer");
    const std::string path = dir.path + "/out.zip";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    eb_zip_archive za(zip.data(), zip.size());
    EXPECT_TRUE(za.ok());
    eb_zip_rewrite rw(za);
    if (mimetype) rw.mimetype_first();
    rw.replace(replaced, with);
    rw.add("added.txt", "new member", false);
    eb_out_file out(fd);
    EXPECT_TRUE(rw.write(out));
    ::close(fd);
    return qtest::read_file(path);
}

TEST(ZipWriter, FormsOfTheBookKept) {
    const std::vector<qtest::ZipEntry> members = {
        qtest::zip_file("mimetype", "application/epub+zip", false),
        qtest::zip_file("a.txt", std::string(5000, 'a')), qtest::zip_file("b.bin", "bbb", false)};
    const std::string plain = qtest::build_zip(members);
    // mimetype with an extra field and deflated, as some tools write it.
    std::string extra_first = qtest::build_zip(
        {qtest::zip_file("a.txt", "x"), qtest::zip_file("mimetype", "application/epub+zip")});
    const struct {
        const char *name;
        std::string zip;
        bool zip64, stub;
    } rows[] = {
        {"plain", plain, false, false},
        {"zip64", qtest::zip64_form(plain), true, false},
        {"stub", "#!stub\n" + plain, false, true},
        {"mimetype mended", extra_first, false, false},
    };
    for (const auto &r : rows) {
        const std::string out = rewrite(r.zip, true, 0, "replaced");
        eb_zip_archive in(r.zip.data(), r.zip.size()), za(out.data(), out.size());
        ASSERT_TRUE(za.ok()) << r.name;
        EXPECT_EQ(za.count(), in.count() + 1) << r.name;
        EXPECT_EQ(za.index().zip64, r.zip64) << r.name;
        EXPECT_EQ(out.rfind("#!stub\n", 0) == 0, r.stub) << r.name;
        const std::size_t first = r.stub ? 7 : 0;
        EXPECT_EQ(out.substr(first + 26, 4), std::string("\x08\0\0\0", 4)) << r.name;  // no extra
        EXPECT_EQ(out.substr(first + 30, 8), "mimetype") << r.name;
        for (std::uint64_t i = 0; i < in.count(); ++i) {
            std::string want, got;
            const std::string name(in.name(i));
            in.read(i, 1 << 20, &want);
            ASSERT_EQ(za.read(static_cast<std::uint64_t>(za.find(name)), 1 << 20, &got),
                      eb_zip_read::ok)
                << r.name << " " << name;
            EXPECT_EQ(got, i == 0 ? "replaced" : want) << r.name << " " << name;
            if (i == 0 || name == "mimetype") continue;
            const eb_zip_entry &m = in.index().members[i];
            const std::string raw = r.zip.substr(m.local, 30 + m.stored_name_len + m.comp_size);
            EXPECT_NE(out.find(raw), std::string::npos) << r.name << " " << name;
        }
        std::string added;
        EXPECT_EQ(za.read(static_cast<std::uint64_t>(za.find("added.txt")), 64, &added),
                  eb_zip_read::ok);
        EXPECT_EQ(added, "new member");
    }
}

}  // namespace
