// The Project tree store and the clipboard copy and paste of folders and Projects.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "platform/clipboard.h"
#include "store/defaults_project.h"
#include "store/tree_store.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm {
namespace {

const char kHead[] = "Stream 1.1 File\r\nCount=0\r\n";

std::string FolderSection(const std::string& caption) {
    return "[Object]\r\nType=1\r\nText=" + caption + "\r\nLevl=0\r\nDir=\r\n";
}
std::string ProjectSection(int iid, const std::string& caption) {
    return "[Object]\r\nType=0\r\nIID=" + std::to_string(iid) + "\r\nCaption=" + caption + "\r\nURL=http://" + caption +
           "/\r\n";
}

TEST(TreeStore, HeaderOnlyGivesTheDefaultFolder) {
    std::string dir = test::MakeTempDir("tree0");
    test::WriteFile(dir + "/Orrinal.dat", kHead);
    store::ProjectTree tree;
    store::TreeLoadReport r = store::LoadTreeStore(tree, dir);
    EXPECT_FALSE(r.damaged);
    ASSERT_EQ(tree.Folders.size(), 1u);
    EXPECT_EQ(tree.Folders[0]->Caption, "Default");
}

TEST(TreeStore, MembershipAndIdentifiers) {
    std::string dir = test::MakeTempDir("tree1");
    test::WriteFile(dir + "/Orrinal.dat", std::string(kHead) + ProjectSection(0, "orphan") + FolderSection("A") +
                                              ProjectSection(5, "a5") + "[Object]\r\nType=7\r\nText=x\r\n" +
                                              ProjectSection(0, "a0") + FolderSection("B") + ProjectSection(2, "b2") +
                                              "[Object]\r\nType=65535\r\n");
    store::ProjectTree tree;
    ASSERT_FALSE(store::LoadTreeStore(tree, dir).damaged);
    ASSERT_EQ(tree.Folders.size(), 3u);
    EXPECT_EQ(tree.Folders[0]->Caption, "Default");
    EXPECT_EQ(tree.Folders[0]->Children[0]->IID, 1);  // 0 took the counter
    EXPECT_EQ(tree.Folders[1]->Children.size(), 2u);
    EXPECT_EQ(tree.Folders[1]->Children[1]->IID, 6);  // after 5 moved the counter
    EXPECT_EQ(tree.Folders[2]->Children[0]->IID, 2);
    EXPECT_EQ(tree.NextID, 7);
    EXPECT_EQ(tree.Folders[1]->Children[0]->Folder, tree.Folders[1].get());
    // Node indices as the window numbers them.
    EXPECT_EQ(tree.NodeCount(), 7);
    EXPECT_EQ(tree.NodeAt(2).folder, tree.Folders[1].get());
    EXPECT_EQ(tree.NodeAt(2).project, nullptr);
    EXPECT_EQ(tree.NodeAt(4).project, tree.Folders[1]->Children[1].get());
    EXPECT_EQ(tree.IndexOf(*tree.Folders[2]), 5);
    EXPECT_EQ(tree.IndexOf(*tree.Folders[2]->Children[0]), 6);
    EXPECT_EQ(tree.NodeAt(7).folder, nullptr);
    EXPECT_EQ(tree.FindFolder("b"), tree.Folders[2].get());
}

TEST(TreeStore, SaveWritesFoldersThenTheirProjectsAndRoundTrips) {
    std::string dir = test::MakeTempDir("tree2");
    store::ProjectTree tree;
    store::ProjectFolder& a = tree.AddFolder("A");
    a.Dir = "/data/a/";
    auto p = std::make_unique<store::Project>();
    store::ResetToBuiltInDefaults(*p);
    p->IID = tree.TakeID();
    p->Caption = "P";
    p->URL = "http://p/";
    tree.AddProject(a, std::move(p));
    tree.AddFolder("Empty");
    std::string error;
    ASSERT_TRUE(store::SaveTreeStore(tree, dir, error)) << error;
    const std::string text = test::ReadFile(dir + "/Orrinal.dat");
    EXPECT_EQ(text.rfind("Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=1\r\nText=A\r\nLevl=0\r\nDir=/data/a/\r\n"
                         "[Object]\r\nType=0\r\nIID=1\r\nCaption=P\r\n",
                         0),
              0u);
    EXPECT_NE(text.find("[Object]\r\nType=1\r\nText=Empty\r\nLevl=0\r\nDir=\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir + "/Orrinal.$$$"));
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/Orrinal.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    store::ProjectTree back;
    ASSERT_FALSE(store::LoadTreeStore(back, dir).damaged);
    ASSERT_EQ(back.Folders.size(), 2u);
    EXPECT_EQ(back.Folders[0]->Dir, "/data/a/");
    EXPECT_EQ(back.Folders[0]->Children[0]->Caption, "P");
    EXPECT_EQ(back.NextID, 2);
    // Saving the loaded tree gives the same bytes.
    ASSERT_TRUE(store::SaveTreeStore(back, dir, error));
    std::string again = test::ReadFile(dir + "/Orrinal.dat");
    auto noDates = [](std::string s) { return s.substr(0, s.find("LastStart=")); };
    EXPECT_EQ(noDates(again), noDates(text));
}

TEST(TreeStore, InterruptedSaveLeavesALoadableStore) {
    std::string dir = test::MakeTempDir("tree3");
    // Only the temporary file is there: it is read.
    test::WriteFile(dir + "/Orrinal.$$$", std::string(kHead) + FolderSection("FromTemp"));
    store::ProjectTree tree;
    store::LoadTreeStore(tree, dir);
    EXPECT_EQ(tree.Folders[0]->Caption, "FromTemp");
    std::string error;
    ASSERT_TRUE(store::SaveTreeStore(tree, dir, error));
    EXPECT_TRUE(fs::exists(dir + "/Orrinal.dat"));
    // A half-written temporary file beside the store does not matter.
    test::WriteFile(dir + "/Orrinal.$$$", "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=1\r\nText=Hal");
    store::ProjectTree again;
    store::LoadTreeStore(again, dir);
    EXPECT_EQ(again.Folders[0]->Caption, "FromTemp");
}

TEST(TreeStore, DamagedStoreKeepsWhatWasReadAndIsKeptAside) {
    std::string dir = test::MakeTempDir("tree4");
    const std::string text = std::string(kHead) + FolderSection("A") + ProjectSection(3, "good") +
                             "[Object]\r\nType=0\r\nIID=3x\r\nCaption=bad\r\n" + ProjectSection(4, "after");
    test::WriteFile(dir + "/Orrinal.dat", text);
    store::ProjectTree tree;
    store::TreeLoadReport r = store::LoadTreeStore(tree, dir);
    EXPECT_TRUE(r.damaged);
    EXPECT_NE(r.message.find("Orrinal.dat"), std::string::npos);
    EXPECT_NE(r.message.find("3x"), std::string::npos);
    ASSERT_EQ(tree.Folders.size(), 1u);
    ASSERT_EQ(tree.Folders[0]->Children.size(), 1u);
    EXPECT_EQ(tree.Folders[0]->Children[0]->Caption, "good");
    ASSERT_FALSE(r.keptAsideAs.empty());
    EXPECT_EQ(test::ReadFile(r.keptAsideAs), text);
    // A second damaged load keeps a second copy rather than overwriting the first.
    store::TreeLoadReport r2 = store::LoadTreeStore(tree, dir);
    EXPECT_NE(r2.keptAsideAs, r.keptAsideAs);
    EXPECT_TRUE(fs::exists(r.keptAsideAs));
}

class ClipboardTree : public ::testing::Test {
protected:
    void SetUp() override { platform::SetSystemClipboard(&clip_); }
    void TearDown() override { platform::SetSystemClipboard(nullptr); }
    platform::MemoryClipboard clip_;
};

TEST_F(ClipboardTree, CopyFolderAndPasteIntoAnotherTreeRenumbers) {
    store::ProjectTree source;
    store::ProjectFolder& f = source.AddFolder("Src");
    for (int i = 1; i <= 3; ++i) {
        auto p = std::make_unique<store::Project>();
        p->IID = i;
        p->Caption = "p" + std::to_string(i);
        source.AddProject(f, std::move(p));
    }
    store::CopyFolderToClipboard(f);
    const std::string text = clip_.Text();
    EXPECT_EQ(text.rfind("[Object]\r\nType=1\r\nText=Src\r\n", 0), 0u);
    std::size_t objects = 0;
    for (std::size_t at = text.find("[Object]"); at != std::string::npos; at = text.find("[Object]", at + 1)) ++objects;
    EXPECT_EQ(objects, 4u);
    EXPECT_TRUE(store::ClipboardHoldsObjects());

    store::ProjectTree target;
    store::ProjectFolder& t = target.AddFolder("T");
    auto existing = std::make_unique<store::Project>();
    existing->IID = 2;
    target.AddProject(t, std::move(existing));
    target.NextID = 10;
    EXPECT_EQ(store::PasteFromClipboard(target, &t), 4);
    ASSERT_EQ(target.Folders.size(), 2u);
    store::ProjectFolder& pasted = *target.Folders[1];
    EXPECT_EQ(pasted.Caption, "Src");
    ASSERT_EQ(pasted.Children.size(), 3u);
    EXPECT_EQ(pasted.Children[0]->IID, 1);
    EXPECT_EQ(pasted.Children[1]->IID, 10);  // 2 was taken
    EXPECT_EQ(pasted.Children[2]->IID, 3);
    EXPECT_EQ(target.NextID, 11);
    EXPECT_EQ(t.Children.size(), 1u);
    // Pasting again renumbers every Project.
    EXPECT_EQ(store::PasteFromClipboard(target, &t), 4);
    EXPECT_EQ(target.Folders[2]->Children[0]->IID, 11);
    EXPECT_EQ(target.Folders[2]->Children[2]->IID, 13);
}

TEST_F(ClipboardTree, ProjectPasteGoesToTheTargetAndAddressesAreNotObjects) {
    store::ProjectTree tree;
    store::ProjectFolder& a = tree.AddFolder("A");
    store::Project p;
    p.IID = 4;
    p.Caption = "one";
    store::CopyProjectToClipboard(p);
    EXPECT_EQ(store::PasteFromClipboard(tree, &a), 1);
    EXPECT_EQ(a.Children[0]->Caption, "one");
    store::ProjectTree empty;
    EXPECT_EQ(store::PasteFromClipboard(empty, nullptr), 1);
    EXPECT_EQ(empty.Folders[0]->Caption, "Default");
    clip_.SetText("http://example.test/[Object]");
    EXPECT_FALSE(store::ClipboardHoldsObjects());
    EXPECT_EQ(store::PasteFromClipboard(tree, &a), 0);
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(TreeStore, FolderWithAnotherLevelIsStillSaved) {
    std::string dir = test::MakeTempDir("treelev");
    test::WriteFile(dir + "/Orrinal.dat", std::string(kHead) + "[Object]\r\nType=1\r\nText=Odd\r\nLevl=3\r\nDir=\r\n" +
                                              ProjectSection(1, "inside"));
    store::ProjectTree tree;
    store::LoadTreeStore(tree, dir);
    std::string error;
    ASSERT_TRUE(store::SaveTreeStore(tree, dir, error));
    store::ProjectTree back;
    store::LoadTreeStore(back, dir);
    ASSERT_EQ(back.Folders.size(), 1u);
    EXPECT_EQ(back.Folders[0]->Caption, "Odd");
    ASSERT_EQ(back.Folders[0]->Children.size(), 1u);
}

}  // namespace
}  // namespace qm
