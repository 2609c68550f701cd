// Header values, redirect stubs, one-step placement, free space and its gauge.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "engine/free_space_gauge.h"
#include "engine/get_rec.h"
#include "engine/known_directories.h"
#include "engine/stored_files.h"
#include "store/folder.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(HeaderValue, FindsKeyWithoutRegardToCaseAndTrims) {
    const std::string h =
        "HTTP/1.0 200 OK\r\nContent-Type:  text/html; charset=x \t\r\n"
        "Location: http://a/b\r\n";
    EXPECT_EQ(engine::HeaderValue(h, "content-type:"), "text/html; charset=x");
    EXPECT_EQ(engine::HeaderValue(h, "location:"), "http://a/b");
    EXPECT_EQ(engine::HeaderValue(h, "last-modified:"), "");
}

TEST(HeaderValue, EndsAtFirstLineBreakOrTextEnd) {
    EXPECT_EQ(engine::HeaderValue("location: x\ny\r\n", "location:"), "x");
    EXPECT_EQ(engine::HeaderValue("location: tail-without-break", "location:"), "tail-without-break");
    EXPECT_EQ(engine::HeaderValue("location:", "location:"), "");
    // A key counts only where it begins a line: never inside another header's name or a value.
    EXPECT_EQ(engine::HeaderValue("x-location: one\r\nlocation: two\r\n", "location:"), "two");
    EXPECT_EQ(engine::HeaderValue("Content-Location: /a\r\nLOCATION: /b\r\n", "location:"), "/b");
    EXPECT_EQ(engine::HeaderValue("Content-Location: /a\r\nX: location: /c\r\n", "location:"), "");
    EXPECT_EQ(engine::HeaderValue("HTTP/1.0 200 OK\rContent-Type: a/b\r\r", "content-type:"), "a/b");
}

TEST(LastModified, KeepsTheTextAsItStands) {
    EXPECT_EQ(engine::LastModified("Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT \r\n"),
              " Tue, 01 Dec 2026 10:00:00 GMT ");
    EXPECT_EQ(engine::LastModified("Date: x\r\n"), "");
}

TEST(RedirectStub, TextAndTargetClimbToTheRoot) {
    EXPECT_EQ(engine::RedirectStubText("../a/b.html"),
              "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=../a/b.html\">"
              "<TITLE>302 File moved</TITLE></HEAD></HTML>");
    store::ProjectFolder folder;
    folder.Dir = "/srv/store/";
    store::Project project;
    project.Folder = &folder;
    engine::DownloadRecord rec;
    rec.Project = &project;
    rec.OldDepth = 2;
    rec.NewFName = "/srv/store/host\\dir/new.html";
    EXPECT_EQ(engine::RedirectStubTarget(rec), "../../host/dir/new.html");
}

TEST(RedirectStub, WrittenOnlyAfterARedirect) {
    std::string dir = test::MakeTempDir("stub");
    store::ProjectFolder folder;
    folder.Dir = dir + "/";
    store::Project project;
    project.Folder = &folder;
    engine::DownloadRecord rec;
    rec.Project = &project;
    engine::WriteRedirectStub(rec);  // no OldFName: nothing happens
    EXPECT_TRUE(fs::is_empty(dir));
    rec.OldFName = dir + "/h/sub/old.html";
    rec.OldDepth = 2;
    rec.NewFName = dir + "/h/new.html";
    engine::WriteRedirectStub(rec);
    EXPECT_EQ(test::ReadFile(rec.OldFName), engine::RedirectStubText("../../h/new.html"));
    EXPECT_TRUE(fs::exists(dir + "/h/sub/Descr.QV3"));
}

TEST(PlaceFile, ReplacesTargetCompletelyAndLeavesNothingBeside) {
    std::string dir = test::MakeTempDir("place");
    ASSERT_TRUE(test::WriteFile(dir + "/src", "new content"));
    ASSERT_TRUE(test::WriteFile(dir + "/out/target", "old"));
    EXPECT_TRUE(engine::PlaceFile(dir + "/src", dir + "/out/target"));
    EXPECT_EQ(test::ReadFile(dir + "/out/target"), "new content");
    EXPECT_TRUE(fs::exists(dir + "/src"));
    EXPECT_TRUE(engine::PlaceFile(dir + "/src", dir + "/out/moved", true));
    EXPECT_FALSE(fs::exists(dir + "/src"));
    EXPECT_EQ(test::ReadFile(dir + "/out/moved"), "new content");
    // A missing source leaves the target as it was.
    EXPECT_FALSE(engine::PlaceFile(dir + "/none", dir + "/out/target"));
    EXPECT_EQ(test::ReadFile(dir + "/out/target"), "new content");
    // A target directory that does not exist: nothing placed, nothing left.
    EXPECT_FALSE(engine::PlaceText("x", dir + "/missing/dir/file"));
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir + "/out")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST(KnownDirectories, RememberedForTheRunAndMadeAgainWhenRemovedBehindItsBack) {
    const std::string dir = test::MakeTempDir("known") + "/site/sub";
    engine::ForgetKnownDirectories();
    EXPECT_FALSE(engine::KnownDirectory(dir));
    ASSERT_TRUE(engine::MakeDirectories(dir));
    EXPECT_TRUE(engine::KnownDirectory(dir));
    EXPECT_TRUE(engine::KnownDirectory(dir + "/")) << "one directory, with or without its slash";
    EXPECT_EQ(engine::DirectoryOf(dir + "/page.html"), dir);

    // Removed while the run still takes it for made: every way of storing makes it again.
    fs::remove_all(dir);
    EXPECT_TRUE(engine::MakeDirectories(dir)) << "answered from memory";
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(engine::PlaceText("text", dir + "/a.html"));
    EXPECT_EQ(test::ReadFile(dir + "/a.html"), "text");
    fs::remove_all(dir);
    const std::string body = test::MakeTempDir("known-body") + "/body";
    ASSERT_TRUE(test::WriteFile(body, "moved"));
    EXPECT_TRUE(engine::PlaceFile(body, dir + "/b.png", true));
    EXPECT_EQ(test::ReadFile(dir + "/b.png"), "moved");
    fs::remove_all(dir);
    engine::RecordFileDescription(dir, "c.css", "text/css", "");
    std::string type, modified;
    EXPECT_TRUE(engine::LookupFileDescription(dir, "c.css", type, modified));
    EXPECT_EQ(type, "text/css");

    // A directory the run never made is not made by storing a file in it.
    fs::remove_all(dir);
    engine::ForgetKnownDirectories();
    EXPECT_FALSE(engine::PlaceText("text", dir + "/a.html"));
    EXPECT_FALSE(fs::exists(dir));
    // A new run asks the file system again.
    ASSERT_TRUE(engine::MakeDirectories(dir));
    fs::remove_all(dir);
    engine::ForgetKnownDirectories();
    EXPECT_TRUE(engine::MakeDirectories(dir));
    EXPECT_TRUE(fs::is_directory(dir));
}

TEST(FreeSpace, KnownForExistingAndMissingPathsAndCapped) {
    std::string dir = test::MakeTempDir("space");
    std::int64_t f = engine::FreeSpace(dir + "/not/yet/there.html");
    EXPECT_GE(f, 0);
    EXPECT_LE(f, 1000000000);
    EXPECT_EQ(engine::FreeSpace(""), -1);
}

TEST(FreeSpaceGauge, AsksAgainAfterASecondOrAMegabyteAndPerFolder) {
    std::int64_t now = 5000;
    std::int64_t answer = 7000000;
    std::vector<std::string> asked;
    engine::FreeSpaceGauge gauge(
        [&](const std::string& path) {
            asked.push_back(path);
            return answer;
        },
        [&] { return now; });
    EXPECT_EQ(gauge.Free("/a", 0), 7000000);
    answer = 100;  // the disk filled up meanwhile
    now += engine::FreeSpaceGauge::kMaxAgeMs - 1;
    EXPECT_EQ(gauge.Free("/a", engine::FreeSpaceGauge::kMaxReceived - 1), 7000000);
    EXPECT_EQ(gauge.Free("/b", 0), 100) << "another folder is asked for itself";
    EXPECT_EQ(gauge.Free("/a", engine::FreeSpaceGauge::kMaxReceived), 100) << "a megabyte received";
    answer = 50;
    EXPECT_EQ(gauge.Free("/a", 0), 50) << "a count that went back belongs to a new run";
    now += engine::FreeSpaceGauge::kMaxAgeMs;
    answer = -1;
    EXPECT_EQ(gauge.Free("/b", 0), -1) << "a second passed";
    EXPECT_EQ(gauge.Free("/b", 0), -1) << "an unknown answer is kept as well";
    EXPECT_EQ(asked, (std::vector<std::string>{"/a", "/b", "/a", "/a", "/b"}));

    // However many folders, the answers kept stay few.
    for (int i = 0; i < 1000; ++i) gauge.Free("/many/" + std::to_string(i), 0);
    asked.clear();
    gauge.Free("/many/999", 0);
    gauge.Free("/many/0", 0);
    EXPECT_EQ(asked, (std::vector<std::string>{"/many/0"}));
}

}  // namespace
}  // namespace qm
