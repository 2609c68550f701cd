// Site maps: names differing only in case are different files, and the modified mark is
// only cleared once the file is on disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/site_map.h"
#include "platform/program_folder.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

TEST(SiteMap, CaseVariantsKeptAndMarkClearedOnlyAfterWriting) {
    const std::string dir = test::MakeTempDir("sitemap");
    ASSERT_TRUE(test::WriteFile(dir + "/plainfile", "x"));
    TDClass p;
    p.IID = 41;
    // A program folder below a plain file: nothing can be written there.
    platform::SetProgramFolder(dir + "/plainfile/sub");
    AddToMap(p, " /s/Index.html\r\n");
    AddToMap(p, "/s/index.html");
    AddToMap(p, "/s/index.html");
    AddToMap(p, "/s/b.html");
    AddToMap(p, "  ");
    ASSERT_EQ(GetMap(p).Count(), 3u);
    EXPECT_EQ(GetMap(p).Items()[0], "/s/b.html");
    EXPECT_FALSE(SaveMap(p));
    EXPECT_TRUE(p.SiteMapModified());  // kept for the next try

    platform::SetProgramFolder(dir);
    ASSERT_TRUE(SaveMap(p));
    EXPECT_FALSE(p.SiteMapModified());
    EXPECT_EQ(test::ReadFile(dir + "/41.map"), "/s/b.html\r\n/s/Index.html\r\n/s/index.html\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/41.map.tmp"));

    TDClass again;
    again.IID = 41;
    EXPECT_EQ(GetMap(again).Count(), 3u);  // both spellings read back
    platform::SetProgramFolder("");
}

}  // namespace
}  // namespace qm
