// Saving the files that must not be lost under temporary names no other writer uses: a
// leftover or planted temporary file is never written through, and two writers saving at
// once never mix their bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "platform/program_folder.h"
#include "store/tree_store.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm {
namespace {

store::ProjectTree TreeOf(const std::string& caption, int folders) {
    store::ProjectTree tree;
    for (int i = 0; i < folders; ++i) tree.AddFolder(caption + std::to_string(i));
    return tree;
}

std::set<std::string> Leftovers(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(UniqueSave, StaleOrPlantedTemporaryFilesAreNeverWrittenThrough) {
    const std::string dir = test::MakeTempDir("unique-save");
    const std::string victim = test::MakeTempDir("unique-victim") + "/victim";
    ASSERT_TRUE(test::WriteFile(victim, "keep me"));
    // Every name an older version would have written to points at someone else's file.
    for (const char* name : {"Orrinal.$$$", "registry.reg.tmp", "1.map.tmp", "2.map.tmp"})
        fs::create_symlink(victim, dir + "/" + name);
    ASSERT_TRUE(test::WriteFile(dir + "/Orrinal.dat", "Stream 1.1 File\r\nCount=0\r\n"));

    store::ProjectTree tree = TreeOf("F", 2);
    std::string error;
    ASSERT_TRUE(store::SaveTreeStore(tree, dir, error)) << error;
    ASSERT_TRUE(platform::WriteFileAtomic(dir + "/registry.reg", "settings", true, error)) << error;
    std::vector<platform::FileToWrite> maps = {{dir + "/1.map", "a"}, {dir + "/2.map", "b"}};
    ASSERT_TRUE(platform::WriteFilesAtomic(maps, error)) << error;

    EXPECT_EQ(test::ReadFile(victim), "keep me");
    EXPECT_EQ(test::ReadFile(dir + "/registry.reg"), "settings");
    EXPECT_EQ(test::ReadFile(dir + "/2.map"), "b");
    store::ProjectTree back;
    ASSERT_FALSE(store::LoadTreeStore(back, dir).damaged);
    ASSERT_EQ(back.Folders.size(), 2u);
    EXPECT_EQ(back.Folders[1]->Caption, "F1");
    // Nothing of the saves is left behind; the planted links are as they were.
    EXPECT_EQ(Leftovers(dir), (std::set<std::string>{"Orrinal.$$$", "registry.reg.tmp", "1.map.tmp", "2.map.tmp",
                                                     "Orrinal.dat", "registry.reg", "1.map", "2.map"}));

    // Each temporary name is new, made by this call alone.
    std::string first, second;
    const int a = platform::CreateUniqueFile(dir + "/x", true, first, error);
    const int b = platform::CreateUniqueFile(dir + "/x", true, second, error);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(dir + "/x." + std::to_string(::getpid()) + "-", 0), 0u) << first;
    ::close(a);
    ::close(b);
    EXPECT_EQ(platform::CreateUniqueFile(dir + "/no/such/folder/x", true, first, error), -1);
    EXPECT_NE(error.find("no/such/folder"), std::string::npos);
}

TEST(UniqueSave, TwoWritersSavingAtOnceLeaveOneWholeStore) {
    const std::string dir = test::MakeTempDir("unique-race");
    // Trees of different sizes, so that mixed bytes could not pass for either.
    store::ProjectTree small = TreeOf("Small", 3);
    store::ProjectTree large = TreeOf("Large", 400);
    std::atomic<int> failures{0};
    auto writer = [&](store::ProjectTree& tree) {
        for (int i = 0; i < 30; ++i) {
            std::string error;
            if (!store::SaveTreeStore(tree, dir, error)) ++failures;
        }
    };
    std::thread one(writer, std::ref(small)), two(writer, std::ref(large));
    for (int i = 0; i < 60; ++i) {
        store::ProjectTree back;
        if (!fs::exists(dir + "/Orrinal.dat")) continue;
        const store::TreeLoadReport report = store::LoadTreeStore(back, dir);
        EXPECT_FALSE(report.damaged) << report.message;
        EXPECT_TRUE(back.Folders.size() == 3 || back.Folders.size() == 400) << back.Folders.size();
    }
    one.join();
    two.join();
    EXPECT_EQ(failures.load(), 0);
    store::ProjectTree last;
    ASSERT_FALSE(store::LoadTreeStore(last, dir).damaged);
    EXPECT_TRUE(last.Folders.size() == 3 || last.Folders.size() == 400);
    EXPECT_EQ(Leftovers(dir), (std::set<std::string>{"Orrinal.dat"}));
}

}  // namespace
}  // namespace qm
