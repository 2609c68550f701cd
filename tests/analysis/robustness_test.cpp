// Whatever the web serves: the scan ends, stays inside its text and writes the whole target.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fake_engine.h"

namespace qm::test {
namespace {

TEST(BadInput, TruncatedTagsAreWrittenOnceAndWhole) {
    for (const char* text :
         {"<a href=", "<a href=\"", "<img src='", "<applet", "<applet code=", "<base href=", "<script>x('a.gif",
          "<input onclick=\"", "<!--", "<", "<a href=\"x.htm",
          "<param value=", "<meta url=", "<a href=javascript:", "<option value=a.gif", "<th background"}) {
        FakeEngine e;
        e.settings.EnableScript = true;
        auto parent = DocumentRecord("http://host/d/p.htm");
        auto run = AnalyseText(e, *parent, text);
        EXPECT_TRUE(run.targetWritten) << text;
        EXPECT_EQ(run.output, text) << text;
    }
}

TEST(BadInput, MegabytesWithoutATagEnd) {
    std::string text;
    for (int i = 0; i < 60000; ++i) text += "<a title=x <img alt=y <table <input <param ";
    FakeEngine e;
    e.settings.EnableScript = true;
    auto parent = DocumentRecord("http://host/d/p.htm");
    auto run = AnalyseText(e, *parent, text);
    EXPECT_EQ(run.output, text);
    EXPECT_TRUE(e.found.empty());
}

TEST(BadInput, ManyScriptStringsWithoutEntities) {
    std::string text = "<script>";
    for (int i = 0; i < 50000; ++i) text += "f('a', \"b\");\n";
    text += "</script><a href=last.htm>";
    FakeEngine e;
    e.settings.EnableScript = true;
    auto parent = DocumentRecord("http://host/d/p.htm");
    auto run = AnalyseText(e, *parent, text);
    ASSERT_EQ(e.found.size(), 1u);
    EXPECT_EQ(run.output, text);
}

TEST(BadInput, BinaryFilesLabelledAsHtml) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string text(20000, '\0');
        const char pieces[] = "<a href=\"'/.?%|>\0\r\n <img src=<!-- -->";
        for (char& c : text) c = (random() % 4 == 0) ? pieces[random() % (sizeof pieces - 1)] : char(random());
        FakeEngine e, scanOnly;
        e.settings.EnableScript = scanOnly.settings.EnableScript = true;
        auto parent = DocumentRecord("http://host/d/p.htm");
        auto again = DocumentRecord("http://host/d/p.htm");
        auto run = AnalyseText(e, *parent, text);
        auto found = AnalyseText(scanOnly, *again, text, false);
        EXPECT_TRUE(run.targetWritten);
        EXPECT_EQ(run.output.find('\0'), std::string::npos);
        // Writing the target never changes what the scan finds.
        EXPECT_EQ(run.urls, found.urls);
    }
}

TEST(BadInput, ExistingTargetIsReplacedWhole) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/d/p.htm");
    std::string source = ScratchDir() + "/replace.htm.primary";
    std::string target = ScratchDir() + "/replace.htm";
    {
        FILE* f = fopen(target.c_str(), "wb");
        fputs(std::string(5000, 'z').c_str(), f);
        fclose(f);
    }
    {
        FILE* f = fopen(source.c_str(), "wb");
        fputs("short", f);
        fclose(f);
    }
    analysis::AnalyseWith(e, *parent, source, target, true, e);
    FILE* f = fopen(target.c_str(), "rb");
    char buf[100] = {};
    std::size_t got = fread(buf, 1, sizeof buf, f);
    fclose(f);
    EXPECT_EQ(std::string(buf, got), "short");
}

}  // namespace
}  // namespace qm::test
