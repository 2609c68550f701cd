// The description file: exact record layout, rewrite in place, the old file, damage.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "store/description_file.h"
#include "support/peers.h"

namespace qm {
namespace {

std::string Le(std::int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xff);
    return s;
}
std::string Short(const std::string& s, std::size_t cap) {
    std::string out(1, static_cast<char>(s.size()));
    out += s;
    out.resize(cap + 1, '\0');
    return out;
}
std::string Record(const std::string& name, const std::string& text, std::int32_t day, const std::string& lm,
                   const std::string& ct) {
    return Le(static_cast<std::int32_t>(12 + name.size() + text.size() + 76)) +
           Le(static_cast<std::int32_t>(name.size())) + Le(static_cast<std::int32_t>(text.size())) + name + text +
           Le(day) + Short(lm, 30) + Short(ct, 40);
}

TEST(DescriptionFile, WriteLayoutAndRewriteInPlace) {
    std::string dir = test::MakeTempDir("descr");
    store::FileDescription r;
    r.Name = "index.html";
    r.Text = "first text";
    r.LastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
    r.ContentType = "text/html";
    ASSERT_TRUE(store::WriteDescription(dir, r));
    const std::int32_t day = store::ProgramDayCount();
    EXPECT_EQ(test::ReadFile(dir + "/Descr.QV3"), Record("index.html", "first text", day, r.LastModified, "text/html"));
    store::FileDescription b;
    b.Name = "b.gif";
    b.ContentType = "image/gif";
    ASSERT_TRUE(store::WriteDescription(dir + "/", b));
    r.Text = "second text, ignored";
    r.ContentType = std::string(50, 'c');  // longer than the field: cut to 40
    r.LastModified = "";
    ASSERT_TRUE(store::WriteDescription(dir, r));
    EXPECT_EQ(test::ReadFile(dir + "/Descr.QV3"), Record("index.html", "first text", day, "", std::string(40, 'c')) +
                                                      Record("b.gif", "", day, "", "image/gif"));
    store::FileDescription got;
    ASSERT_TRUE(store::ReadDescription(dir, "index.html", got));
    EXPECT_EQ(got.Text, "first text");
    EXPECT_EQ(got.ContentType, std::string(40, 'c'));
    EXPECT_EQ(got.DayStamp, day);
    ASSERT_TRUE(store::ReadDescription(dir, "b.gif", got));
    EXPECT_EQ(got.ContentType, "image/gif");
    EXPECT_FALSE(store::ReadDescription(dir, "B.gif", got));  // names compare case-sensitively
    EXPECT_FALSE(store::ReadDescription(dir, "c.gif", got));
}

TEST(DescriptionFile, EndMarkerIsReusedByTheNextRecord) {
    std::string dir = test::MakeTempDir("descrm");
    test::WriteFile(dir + "/Descr.QV3",
                    Record("a", "", 1, "", "") + std::string(12, '\0') + Record("hidden", "", 1, "", "x"));
    store::FileDescription got;
    EXPECT_FALSE(store::ReadDescription(dir, "hidden", got));
    store::FileDescription n;
    n.Name = "new";
    ASSERT_TRUE(store::WriteDescription(dir, n));
    ASSERT_TRUE(store::ReadDescription(dir, "new", got));
    EXPECT_EQ(test::ReadFile(dir + "/Descr.QV3").substr(0, 89 + 91),
              Record("a", "", 1, "", "") + Record("new", "", store::ProgramDayCount(), "", ""));
}

TEST(DescriptionFile, HostileLengthsEndTheList) {
    std::string dir = test::MakeTempDir("descrh");
    const std::string good = Record("ok", "t", 5, "lm", "ct");
    const std::string hostile[] = {
        Le(-100) + Le(2) + Le(0) + "xx",                                  // negative total
        Le(12 + 2 + 76) + Le(-2) + Le(4) + std::string(80, 'x'),          // negative name length
        Le(0x7fffffff) + Le(2) + Le(0) + std::string(80, 'x'),            // huge
        Le(12 + 2 + 76) + Le(2) + Le(0x7ffffff0) + std::string(80, 'x'),  // lengths disagree
        Le(12 + 2 + 76) + Le(2) + Le(0) + "zz",                           // reaches past the end
        Le(5) + Le(1),                                                    // a partial header
    };
    for (const std::string& bad : hostile) {
        test::WriteFile(dir + "/Descr.QV3", good + bad);
        store::FileDescription got;
        EXPECT_TRUE(store::ReadDescription(dir, "ok", got));
        EXPECT_EQ(got.ContentType, "ct");
        EXPECT_FALSE(store::ReadDescription(dir, "zz", got));
        // A new record replaces the damaged rest so that it can be found.
        store::FileDescription n;
        n.Name = "zz";
        n.ContentType = "new";
        ASSERT_TRUE(store::WriteDescription(dir, n));
        ASSERT_TRUE(store::ReadDescription(dir, "zz", got));
        EXPECT_EQ(got.ContentType, "new");
        EXPECT_TRUE(store::ReadDescription(dir, "ok", got));
    }
}

TEST(DescriptionFile, OldFileIsReadOnly) {
    std::string dir = test::MakeTempDir("descro");
    auto old = [](const std::string& name, const std::string& second, unsigned char flag) {
        std::string r = Short(name, 100) + Short(second, 99);
        r += static_cast<char>(flag);
        return r;
    };
    test::WriteFile(dir + "/Descr.Dat", old("a.htm", "Tue, 02 Jan 2024 10:00:00 GMT and more text", 1) +
                                            old("p.txt", "lm", 0) + old("q.txt", "lm", 0) + std::string(100, 'x'));
    test::WriteFile(dir + "/p.txt.primary", "");
    store::FileDescription got;
    got.ContentType = "as passed";
    ASSERT_TRUE(store::ReadDescription(dir, "a.htm", got));
    EXPECT_EQ(got.DayStamp, 1);
    EXPECT_EQ(got.LastModified, "Tue, 02 Jan 2024 10:00:00 GMT ");
    EXPECT_EQ(got.ContentType, "text/html");
    got.ContentType = "as passed";
    ASSERT_TRUE(store::ReadDescription(dir, "p.txt", got));
    EXPECT_EQ(got.ContentType, "text/html");
    got.ContentType = "as passed";
    ASSERT_TRUE(store::ReadDescription(dir, "q.txt", got));
    EXPECT_EQ(got.ContentType, "as passed");
    EXPECT_FALSE(store::ReadDescription(dir, "x", got));
    // A new record goes to the new file; the old one is untouched.
    const std::string before = test::ReadFile(dir + "/Descr.Dat");
    store::FileDescription n;
    n.Name = "a.htm";
    n.ContentType = "image/png";
    ASSERT_TRUE(store::WriteDescription(dir, n));
    EXPECT_EQ(test::ReadFile(dir + "/Descr.Dat"), before);
    ASSERT_TRUE(store::ReadDescription(dir, "a.htm", got));
    EXPECT_EQ(got.ContentType, "image/png");
}

// Records are found from what was learnt of the file, and that knowledge follows the file:
// changed or replaced by someone else, it is read again.
TEST(DescriptionFile, RecordsFoundAfterOtherWritersChangedTheFile) {
    std::string dir = test::MakeTempDir("descr-index");
    const std::int32_t day = store::ProgramDayCount();
    for (int i = 0; i < 50; ++i) {
        store::FileDescription r;
        r.Name = "p" + std::to_string(i) + ".html";
        r.ContentType = "text/html";
        r.LastModified = std::to_string(i);
        ASSERT_TRUE(store::WriteDescription(dir, r));
    }
    store::FileDescription found;
    ASSERT_TRUE(store::ReadDescription(dir, "p37.html", found));
    EXPECT_EQ(found.LastModified, "37");
    EXPECT_FALSE(store::ReadDescription(dir, "p50.html", found));
    // Another program appends a record and replaces one by a whole new file of other records.
    std::string file = test::ReadFile(dir + "/Descr.QV3");
    ASSERT_TRUE(test::WriteFile(dir + "/Descr.QV3", file + Record("extra.gif", "", day, "x", "image/gif")));
    ASSERT_TRUE(store::ReadDescription(dir, "extra.gif", found));
    EXPECT_EQ(found.ContentType, "image/gif");
    const std::string replaced =
        Record("p37.html", "", day, "new", "text/plain") + Record("q.css", "t", day, "", "text/css");
    std::filesystem::remove(dir + "/Descr.QV3");
    ASSERT_TRUE(test::WriteFile(dir + "/Descr.QV3", replaced));
    ASSERT_TRUE(store::ReadDescription(dir, "p37.html", found));
    EXPECT_EQ(found.LastModified, "new");
    EXPECT_FALSE(store::ReadDescription(dir, "p36.html", found));
    // Our own writes after that: an update in place and an addition, both where a fresh walk
    // of the file finds them.
    store::FileDescription u;
    u.Name = "q.css";
    u.LastModified = "later";
    u.ContentType = "text/css";
    ASSERT_TRUE(store::WriteDescription(dir, u));
    u.Name = "r.js";
    ASSERT_TRUE(store::WriteDescription(dir, u));
    EXPECT_EQ(test::ReadFile(dir + "/Descr.QV3"), Record("p37.html", "", day, "new", "text/plain") +
                                                      Record("q.css", "t", day, "later", "text/css") +
                                                      Record("r.js", "", day, "later", "text/css"));
    ASSERT_TRUE(store::ReadDescription(dir, "q.css", found));
    EXPECT_EQ(found.Text, "t");
    EXPECT_EQ(found.LastModified, "later");
    // Rewritten in place to the same size with the records in another order (a moment later,
    // so that its modification time differs).
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(test::WriteFile(dir + "/Descr.QV3", Record("r.js", "", day, "zz", "a/b") +
                                                        Record("q.css", "t", day, "yy", "c/d") +
                                                        Record("p37.html", "", day, "xx", "e/f")));
    ASSERT_TRUE(store::ReadDescription(dir, "q.css", found));
    EXPECT_EQ(found.LastModified, "yy");
    EXPECT_EQ(found.ContentType, "c/d");
}

TEST(DescriptionFile, UnwritableDirectoryWritesNothing) {
    store::FileDescription n;
    n.Name = "a";
    EXPECT_FALSE(store::WriteDescription("/nonexistent-dir-for-test/x", n));
    store::FileDescription got;
    EXPECT_FALSE(store::ReadDescription("/nonexistent-dir-for-test/x", "a", got));
}

}  // namespace
}  // namespace qm
