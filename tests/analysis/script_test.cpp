// The script scanner, the parameter value scanner and the Java class scanner.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "analysis/java_class.h"
#include "fake_engine.h"
#include "java_class_builder.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace qm::test {
namespace {

AnalysisRun Scripted(const std::string& html, bool enable = true, FakeEngine* out = nullptr, int lev = 3) {
    FakeEngine local;
    FakeEngine& e = out ? *out : local;
    e.settings.EnableScript = enable;
    auto parent = DocumentRecord("http://host/dir/page.htm", lev);
    return AnalyseText(e, *parent, html);
}

TEST(ScriptScanner, QuotedFileNamesInScriptBlocks) {
    EXPECT_THAT(Scripted("<script>window.open('help.shtml','w')</script>").urls,
                ElementsAre("http://host/dir/help.shtml"));
    EXPECT_THAT(Scripted("<script>a('file.abcdef'); b('name.'); c('x'); d('.gif'); e(\"a.b\n\")"
                         "</script>")
                    .urls,
                IsEmpty());
    EXPECT_THAT(Scripted("<SCRIPT SRC=\"../lib/j.js\"></SCRIPT>").urls, ElementsAre("http://host/lib/j.js"));
    EXPECT_THAT(Scripted("<script>window.open('help.htm')</script>", false).urls, IsEmpty());
}

TEST(ScriptScanner, ImageTagInsideAStringAndEntityQuotes) {
    EXPECT_THAT(Scripted("<script>document.write(\"<img src='pics/a.gif' border=0>\")</script>").urls,
                ElementsAre("http://host/dir/pics/a.gif"));
    auto run = Scripted("<input type=button onclick=window.open(&quot;win.htm&quot;)>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/win.htm"));
    EXPECT_EQ(run.output, "<input type=button onclick=window.open(&quot;win.htm&quot;)>");
}

TEST(ScriptScanner, OnClickOnlyInsideTheInputTag) {
    EXPECT_THAT(Scripted("<input type=submit onclick=\"go('a.htm')\">").urls, ElementsAre("http://host/dir/a.htm"));
    EXPECT_THAT(Scripted("<input type=text><p onclick=\"go('b.htm')\">").urls, IsEmpty());
    // The input row takes the tag; an image button's source is still followed, other inputs'
    // sources are not.
    EXPECT_THAT(Scripted("<input type=image src=\"btn.gif\">").urls, ElementsAre("http://host/dir/btn.gif"));
    EXPECT_THAT(Scripted("<input type=text src=\"no.gif\">").urls, IsEmpty());
}

TEST(ScriptScanner, JavaScriptAddresses) {
    FakeEngine e;
    auto run = Scripted("<a href=\"javascript:openWin('w.htm')\">x</a><a href=n.htm>", true, &e);
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/w.htm", "http://host/dir/n.htm"));
    EXPECT_TRUE(e.found[0]->IsImage);  // found through the script row
    auto off = Scripted("<a href=\"javascript:openWin('w.htm')\">x</a><a href=n.htm>", false);
    EXPECT_THAT(off.urls, ElementsAre("http://host/dir/n.htm"));
    EXPECT_EQ(off.output, "<a href=\"javascript:openWin('w.htm')\">x</a><a href=n.htm>");
}

TEST(ScriptScanner, GuessedLinksUseALevelAndTryHostNames) {
    FakeEngine e;
    Scripted("<script>load('www.site.com/x/y.gif'); f('a/b.gif')</script>", true, &e, 3);
    EXPECT_THAT(e.FoundURLs(), ElementsAre("http://host/dir/www.site.com/x/y.gif", "http://www.site.com/x/y.gif",
                                           "http://host/dir/a/b.gif"));
    for (const auto& r : e.found) {
        EXPECT_EQ(r->Lev, 2);
        EXPECT_TRUE(r->IsImage);
    }
}

TEST(ScriptScanner, LongAndUnclosedStringsArePassedOver) {
    std::string longText(1600, 'x');
    EXPECT_THAT(Scripted("<script>a('" + longText + ".gif'); b('ok.gif')</script>").urls,
                ElementsAre("http://host/dir/ok.gif"));
    std::string unclosed = "<script>a('never.gif); b = 1;\nc('yes.gif')";
    auto run = Scripted(unclosed);
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/yes.gif"));
    EXPECT_EQ(run.output, unclosed);
}

TEST(ParamScanner, WordsOfAValue) {
    EXPECT_THAT(Scripted("<param name=a value=\"x.gif y.gif*z.gif\">").urls,
                ElementsAre("http://host/dir/x.gif", "http://host/dir/y.gif", "http://host/dir/z.gif"));
    EXPECT_THAT(Scripted("<param name=a value=\"a%20b.gif\">").urls, ElementsAre("http://host/dir/a%20b.gif"));
    EXPECT_THAT(Scripted("<param name=a value=\"50%\"><param value=\"#fff\">").urls, IsEmpty());
    auto run = Scripted("<param name=a value='one.gif|http://h/two.gif'>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/one.gif", "http://h/two.gif"));
    EXPECT_EQ(run.output, "<param name=a value='one.gif|../../h/two.gif'>");
}

TEST(JavaClassScanner, ConstantPoolNames) {
    ClassFileBuilder b;
    b.Utf8("(LHelper;Ljava/util/List;)V")  // 1
        .Long(42)                          // 2, 3
        .Utf8("Other")                     // 4
        .Class(4)                          // 5
        .Utf8("java/lang/Object")          // 6
        .Class(6)                          // 7
        .Utf8("images/pic.gif")            // 8
        .Utf8("nodot")                     // 9
        .NameAndType(11, 12)               // 10
        .Utf8("java/awt/Component")        // 11
        .Utf8("Panel2")                    // 12
        .Utf8("java.lang.String");         // 13
    std::string bytes = b.Bytes();
    analysis::JavaClassNames names =
        analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_THAT(names.classNames, ElementsAre("Helper", "Other", "Panel2"));
    EXPECT_THAT(names.fileStrings, ElementsAre("images/pic.gif"));

    FakeEngine e;
    auto parent = DocumentRecord("http://host/cls/Main.class");
    parent->JavaClass = true;
    AnalyseText(e, *parent, bytes, false);
    EXPECT_THAT(e.FoundURLs(), ElementsAre("http://host/cls/Helper.class", "http://host/cls/Other.class",
                                           "http://host/cls/Panel2.class", "http://host/cls/images/pic.gif"));
    EXPECT_TRUE(e.found[0]->JavaClass);
    EXPECT_FALSE(e.found[3]->JavaClass);
}

TEST(JavaClassScanner, BadSignaturesAndLyingCounts) {
    std::string notClass = "\xCA\xFE\xBA\xBF\0\0\0\x32\0\x02\x01\0\x05x.gif";
    EXPECT_TRUE(analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(notClass.data()), notClass.size())
                    .fileStrings.empty());
    // A count far beyond the entries present, and a text that runs past the end.
    ClassFileBuilder b(0xFFFF);
    b.Utf8("a.gif").Raw(std::string("\x01\x7f\xff", 3) + "short.gif");
    std::string bytes = b.Bytes();
    auto names = analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_THAT(names.fileStrings, ElementsAre("a.gif"));
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        std::string part = bytes.substr(0, cut);
        analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(part.data()), part.size());
    }
    // Texts of 1024 bytes or more are not looked at.
    ClassFileBuilder big;
    big.Utf8(std::string(1100, 'a') + ".gif").Utf8("LSmall;");
    std::string bigBytes = big.Bytes();
    auto bigNames =
        analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(bigBytes.data()), bigBytes.size());
    EXPECT_TRUE(bigNames.fileStrings.empty());
    EXPECT_THAT(bigNames.classNames, ElementsAre("Small"));
}

}  // namespace
}  // namespace qm::test
