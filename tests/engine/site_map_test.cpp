// Site maps: names differing only in case are different files, and the modified mark is
// only cleared once the file is on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/site_map.h"
#include "platform/program_folder.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

TEST(SiteMap, CaseVariantsKeptAndMarkClearedOnlyAfterWriting) {
    const std::string dir = test::MakeTempDir("sitemap");
    ASSERT_TRUE(test::WriteFile(dir + "/plainfile", "x"));
    store::Project p;
    p.IID = 41;
    // A program folder below a plain file: nothing can be written there.
    platform::SetProgramFolder(dir + "/plainfile/sub");
    engine::AddToMap(p, " /s/Index.html\r\n");
    engine::AddToMap(p, "/s/index.html");
    engine::AddToMap(p, "/s/index.html");
    engine::AddToMap(p, "/s/b.html");
    engine::AddToMap(p, "  ");
    ASSERT_EQ(engine::GetMap(p).Count(), 3u);
    EXPECT_EQ(engine::GetMap(p).Items()[0], "/s/b.html");
    EXPECT_FALSE(engine::SaveMap(p));
    EXPECT_TRUE(p.SiteMapModified());  // kept for the next try

    platform::SetProgramFolder(dir);
    ASSERT_TRUE(engine::SaveMap(p));
    EXPECT_FALSE(p.SiteMapModified());
    EXPECT_EQ(test::ReadFile(dir + "/41.map"), "/s/b.html\r\n/s/Index.html\r\n/s/index.html\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/41.map.tmp"));

    store::Project again;
    again.IID = 41;
    EXPECT_EQ(engine::GetMap(again).Count(), 3u);  // both spellings read back
    platform::SetProgramFolder("");
}

// Many Projects ending together: every changed map is written whole and loses its mark, an
// unchanged one is not touched, and one that cannot be written keeps its mark.
TEST(SiteMap, ManyMapsSavedTogether) {
    const std::string dir = test::MakeTempDir("sitemaps");
    platform::SetProgramFolder(dir);
    std::vector<std::unique_ptr<store::Project>> owned;
    std::vector<store::Project*> projects;
    for (int i = 0; i < 30; ++i) {
        owned.push_back(std::make_unique<store::Project>());
        owned.back()->IID = 100 + i;
        projects.push_back(owned.back().get());
        if (i % 3 != 2) engine::AddToMap(*owned.back(), "/site" + std::to_string(i) + "/index.html");
    }
    // A folder where map 101 would go: its file cannot be written.
    std::filesystem::create_directory(dir + "/101.map");
    EXPECT_FALSE(engine::SaveMaps(projects));
    for (int i = 0; i < 30; ++i) {
        const std::string file = dir + "/" + std::to_string(100 + i) + ".map";
        SCOPED_TRACE(file);
        if (i == 1) {
            EXPECT_TRUE(projects[i]->SiteMapModified());
        } else if (i % 3 == 2) {
            EXPECT_FALSE(std::filesystem::exists(file));
        } else {
            EXPECT_FALSE(projects[i]->SiteMapModified());
            EXPECT_EQ(test::ReadFile(file), "/site" + std::to_string(i) + "/index.html\r\n");
        }
        EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
    }
    std::filesystem::remove(dir + "/101.map");
    EXPECT_TRUE(engine::SaveMaps(projects));
    EXPECT_FALSE(projects[1]->SiteMapModified());
    EXPECT_EQ(test::ReadFile(dir + "/101.map"), "/site1/index.html\r\n");
    platform::SetProgramFolder("");
}

}  // namespace
}  // namespace qm
