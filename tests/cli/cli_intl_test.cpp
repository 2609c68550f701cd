// quillmoor-cli language-template and bookmarks.
#include <gtest/gtest.h>

#include "support/peers.h"

namespace qm {
namespace {

TEST(CliIntl, LanguageTemplateWithTheProgramFoldersLanguage) {
    const std::string home = test::MakeTempDir("clilang");
    auto r = test::RunCli({"--home", home, "language-template", home + "/en.int"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string en = test::ReadFile(home + "/en.int");
    EXPECT_EQ(en.rfind("[Intl File 4.0]\r\nLanguage=English\r\n", 0), 0u);
    EXPECT_NE(en.find("\r\n[MainForm]\r\n"), std::string::npos);
    EXPECT_NE(en.find("\r\n[Strings]\r\nDefault\r\nEmpty\r\n"), std::string::npos);
    EXPECT_EQ(en, test::ReadFile(std::string(std::getenv("QM_SOURCE_DIR")) + "/lang/qm.int.en"));

    ASSERT_TRUE(test::WriteFile(home + "/qm.int",
                                "[Intl File 4.0]\r\nLanguage=Deutsch\r\n[MainForm]\r\n"
                                "tbProperties.Caption=Eigenschaften\r\n[Strings]\r\nVorgabe\r\n"));
    r = test::RunCli({"--home", home, "language-template", home + "/de.int"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string de = test::ReadFile(home + "/de.int");
    EXPECT_NE(de.find("\r\ntbProperties.Caption=Eigenschaften\r\n"), std::string::npos);
    EXPECT_NE(de.find("\r\n[Strings]\r\nVorgabe\r\nEmpty\r\n"), std::string::npos);

    EXPECT_EQ(test::RunCli({"--home", home, "language-template"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--home", home, "language-template", home + "/no/such/dir/x.int"}).exitCode, 1);
}

TEST(CliIntl, BookmarksListedAndAdded) {
    const std::string home = test::MakeTempDir("clibm");
    ASSERT_TRUE(
        test::WriteFile(home + "/marks.html",
                        "<DL><DT><H3>Docs</H3>\n<DL>\n<DT><A HREF=\"http://127.0.0.1/a\">A</A>\n</DL>\n"
                        "<DT><A HREF=\"127.0.0.1/b\">B</A>\n<DT><A HREF=\"http://127.0.0.1/a\">A again</A>\n</DL>\n"));
    auto r = test::RunProgram(
        {"env", "HOME=" + home, test::CliPath(), "--home", home, "options", "BookmarksFile=" + home + "/marks.html"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = test::RunProgram({"env", "HOME=" + home, test::CliPath(), "--home", home, "bookmarks"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Bookmarks File\n  Docs\n    A\thttp://127.0.0.1/a\n  B\t127.0.0.1/b\n  A again\thttp://127.0.0.1/a\n");
    r = test::RunProgram({"env", "HOME=" + home, test::CliPath(), "--home", home, "bookmarks", "--add", "Marks"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = test::RunCli({"--home", home, "list"});
    EXPECT_NE(r.out.find("Marks\n  1\tA\thttp://127.0.0.1/a\n  2\tB\thttp://127.0.0.1/b\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("A again"), std::string::npos);  // one Project per address
    // Run again: nothing new.
    r = test::RunProgram({"env", "HOME=" + home, test::CliPath(), "--home", home, "bookmarks", "--add", "marks"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::RunCli({"--home", home, "bookmarks", "--add"}).exitCode, 2);
}

}  // namespace
}  // namespace qm
