// Reading queue files without a queue: hostile local names, damaged and foreign input.
#include <gtest/gtest.h>

#include "engine/get_rec.h"
#include "engine/queue_file.h"
#include "store/options.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm {
namespace {

struct ReadFixture {
    std::string dir = test::MakeTempDir("qread");
    store::ProjectTree tree;
    store::Project* project = nullptr;
    ReadFixture() {
        store::ProjectFolder& f = tree.AddFolder("F");
        f.Dir = dir + "/root/";
        auto p = std::make_unique<store::Project>();
        p->IID = 7;
        p->URL = "http://127.0.0.1:9/";
        p->Srv = "Yes";
        project = &tree.AddProject(f, std::move(p));
    }
    std::string Section(const std::string& iid, const std::string& url, const std::string& fname,
                        const std::string& temp = "") {
        return "[Object]\r\nType=2\r\nIID=" + iid + "\r\nURL=" + url + "\r\nImg=1\r\nLev=1\r\nSrv=1\r\nFName=" + fname +
               "\r\nTemp=" + temp + "\r\nPath=/etc\r\nRFile=shadow\r\nDepth=0\r\n";
    }
    engine::ResumeReport Read(const std::string& text, std::vector<std::unique_ptr<engine::DownloadRecord>>& out) {
        EXPECT_TRUE(test::WriteFile(dir + "/q", text));
        engine::ResumeReport report;
        engine::ReadQueueFile(tree, dir + "/q", report, out);
        return report;
    }
};

TEST(QueueFileRead, LocalNamesNeverLeaveTheRoot) {
    ReadFixture f;
    const std::string root = f.dir + "/root/";
    std::string text = "Stream 1.1 File\r\nCount=6\r\n";
    text += f.Section("7", "http://127.0.0.1:9/ok.html", root + "127.0.0.1+9/ok.html", "/etc/passwd");
    text += f.Section("7", "http://127.0.0.1:9/up.html", root + "../../etc/passwd");
    text += f.Section("7", "http://127.0.0.1:9/abs.html", "/etc/passwd");
    text += f.Section("7", "http://127.0.0.1:9/dot.html", root + "./x/../../y");
    text += f.Section("7", "ftp-unknown:zzz", "/etc/passwd");
    text += f.Section("8", "http://127.0.0.1:9/other.html", root + "x");
    text += "[Object]\r\nType=5\r\nText=foreign\r\n";
    text += "[Object]\r\nType=2\r\nIID=seven\r\n";
    std::vector<std::unique_ptr<engine::DownloadRecord>> records;
    const engine::ResumeReport report = f.Read(text, records);
    EXPECT_TRUE(report.opened);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(report.renamed, 3);
    EXPECT_EQ(report.noProject, 1);
    EXPECT_EQ(report.skipped, 2);
    EXPECT_EQ(records[0]->FName, root + "127.0.0.1+9/ok.html");
    for (const auto& r : records) {
        EXPECT_EQ(r->Project, f.project);
        EXPECT_EQ(r->FName.rfind(root, 0), 0u) << r->FName;
        EXPECT_EQ(r->FName.find(".."), std::string::npos) << r->FName;
        EXPECT_EQ(r->FName.find("/./"), std::string::npos) << r->FName;
        EXPECT_TRUE(r->Temp.empty());
        EXPECT_EQ(r->Path + "/" + r->RFile, r->FName);
    }
    EXPECT_EQ(records[1]->FName, root + "127.0.0.1+9/up.html");
}

TEST(QueueFileRead, LocalFilesOnlyForALocalProjectInsideItsFolder) {
    ReadFixture f;
    const std::string root = f.dir + "/root/";
    auto local = std::make_unique<store::Project>();
    local->IID = 9;
    local->URL = "file://" + f.dir + "/site/index.html";
    store::Project& localProject = f.tree.AddProject(*f.project->Folder, std::move(local));
    // Names inside the root, as a hostile file would write them: the address decides.
    std::string text = "Stream 1.1 File\r\nCount=4\r\n";
    text += f.Section("7", "file:///etc/hostname", root + "Local Files/etc/hostname");
    text += f.Section("9", "file://" + f.dir + "/secret.txt", root + "Local Files/secret.txt");
    text += f.Section("9", "file://" + f.dir + "/site/../secret.txt", root + "Local Files/s.txt");
    text += f.Section("9", "file://" + f.dir + "/site/page.html", root + "Local Files/page.html");
    std::vector<std::unique_ptr<engine::DownloadRecord>> records;
    const engine::ResumeReport report = f.Read(text, records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(report.skipped, 3);
    EXPECT_EQ(records[0]->Project, &localProject);
    EXPECT_EQ(records[0]->URL, "file://" + f.dir + "/site/page.html");
}

TEST(QueueFileRead, DamagedInputReadsWhatItCan) {
    ReadFixture f;
    std::vector<std::unique_ptr<engine::DownloadRecord>> records;
    engine::ResumeReport report = f.Read(std::string("\0\1\2garbage\n[Object]\n", 20), records);
    EXPECT_TRUE(records.empty());
    report = f.Read("Stream 1.1 File\r\nCount=x\r\n", records);
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(report.problems.empty());
    // A file cut off in the middle of its second record keeps the first.
    const std::string whole = "Stream 1.1 File\r\nCount=2\r\n" +
                              f.Section("7", "http://127.0.0.1:9/a.html", f.dir + "/root/127.0.0.1+9/a.html") +
                              "[Object]\r\nType=2\r\nIID=7\r\nURL=http://127.0.0.1:9/b.html\r\nLev=1";
    report = f.Read(whole, records);
    ASSERT_GE(records.size(), 1u);
    EXPECT_EQ(records[0]->URL, "http://127.0.0.1:9/a.html");
    records.clear();
    EXPECT_FALSE(engine::ReadQueueFile(f.tree, f.dir + "/missing", report, records));
    EXPECT_FALSE(report.problems.empty());
}

}  // namespace
}  // namespace qm
