// Normalise, the admission filter and local paths on real records and Projects.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/normalise_memo.h"
#include "engine/settings_snapshot.h"
#include "store/folder.h"
#include "store/defaults_project.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {
namespace {

const char* kText = "html\r\nhtm\r\nasp\r\ntxt\r\njs\r\n";
const char* kImages = "gif\r\njpg\r\njpeg\r\nbmp\r\n";
const char* kArchive = "zip\r\ngz\r\n";

class AddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        store::Options().DefaultDoc = "default.htm";
        store::Options().PathPrefix = "/var/pp/";
        folder.Dir = "/srv/sites/";
        project = std::make_unique<store::Project>();
        project->Folder = &folder;
        project->URL = "http://host/dir/index.htm";
        for (auto& c : project->Categories) c = store::FileCategory{};
        project->Categories[store::kCatText].Exts = kText;
        project->Categories[store::kCatImages].Exts = kImages;
        project->Categories[store::kCatArchive].Exts = kArchive;
    }

    // A link found in one of the Project's pages.
    std::unique_ptr<engine::DownloadRecord> Link(const std::string& url, bool embedded = false) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = project.get();
        rec->URL = url;
        rec->IsImage = embedded;
        return rec;
    }
    bool Takes(const std::string& url, bool embedded = false, std::string* reason = nullptr) {
        auto rec = Link(url, embedded);
        engine::AdmissionResult why;
        bool ok = engine::Normalise(*rec, why);
        EXPECT_EQ(ok, why.admitted);
        if (reason) *reason = why.reason;
        return ok;
    }
    int CategoryOf(const std::string& url, bool embedded = false) {
        auto rec = Link(url, embedded);
        if (!engine::Normalise(*rec) || !rec->Category) return -1;
        return int(rec->Category - &project->Categories[0]);
    }

    store::ProjectFolder folder;
    std::unique_ptr<store::Project> project;
};

TEST_F(AddressTest, NormaliseFillsTheLocalNames) {
    auto rec = Link("http://host:80/a/./b//c/../d.html#top");
    rec->Img = rec->Srv = false;
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "http://host/a/b/d.html");
    EXPECT_TRUE(rec->Img);
    EXPECT_TRUE(rec->Srv);
    EXPECT_EQ(rec->FName, "/srv/sites/host/a/b/d.html");
    EXPECT_EQ(rec->Path, "/srv/sites/host/a/b");
    EXPECT_EQ(rec->RFile, "d.html");
    EXPECT_EQ(rec->Depth, 3);

    rec = Link("HTTP://Some.Host");
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "HTTP://Some.Host/");
    EXPECT_EQ(rec->FName, "/srv/sites/Some.Host/default.htm");
    EXPECT_EQ(rec->Depth, 1);

    rec = Link("http://host/a:80/b");
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "http://host/a:80/b");
    EXPECT_EQ(rec->FName, "/srv/sites/host/a/b");

    rec = Link("http://host/page?q=1#frag");
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "http://host/page?q=1");
    EXPECT_EQ(rec->FName, "/srv/sites/host/page@q=1");
}

TEST_F(AddressTest, CredentialsMoveToTheRecord) {
    auto rec = Link("http://joe:pa:ss@host/x.htm");
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "http://host/x.htm");
    EXPECT_EQ(rec->URLPsw, "joe:pa:ss");
    rec = Link("http://host/a@b");
    rec->URLPsw = "inherited:pw";
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->URL, "http://host/a@b");
    EXPECT_EQ(rec->URLPsw, "inherited:pw");
}

TEST_F(AddressTest, LocalFilesAndRootFolders) {
    project->URL = "file://C:/Web/start.htm";
    for (const char* url : {"file://C:/Web/index.htm", "file://c|/Web/index.htm"}) {
        auto rec = Link(url);
        ASSERT_TRUE(engine::Normalise(*rec)) << url;
        EXPECT_EQ(rec->FName, "/srv/sites/Local Files/Web/index.htm");
        EXPECT_EQ(rec->Depth, 2);
        EXPECT_EQ(rec->Category, nullptr);  // the filter is for http addresses
    }
    project->URL = "file:///home/me/site/";
    auto rec = Link("file:///home/me/site/a.htm");
    ASSERT_TRUE(engine::Normalise(*rec));
    EXPECT_EQ(rec->FName, "/srv/sites/Local Files/home/me/site/a.htm");

    // A folder without a directory stores under the download folder option.
    folder.Dir.clear();
    EXPECT_EQ(engine::RootFolder(*project), "/var/pp/");
    EXPECT_EQ(engine::LocalPath(*project, "host/a/"), "/var/pp/host/a/default.htm");
    store::Options().DefaultDoc = "index.html";
    EXPECT_EQ(engine::LocalPath(*project, "host/a/"), "/var/pp/host/a/index.html");
    // Two Projects of one folder share their stored files.
    store::Project other;
    other.Folder = &folder;
    EXPECT_EQ(engine::LocalPath(other, "host/x.htm"), engine::LocalPath(*project, "host/x.htm"));
    EXPECT_EQ(engine::PrimaryName("/a/b.htm"), "/a/b.htm.primary");

    // A download folder or a folder directory written without its final separator.
    store::Options().PathPrefix = "/srv/dl";
    EXPECT_EQ(engine::RootFolder(*project), "/srv/dl/");
    auto plain = Link("http://127.0.0.1:8001/x.htm");
    ASSERT_TRUE(engine::Normalise(*plain));
    EXPECT_EQ(plain->FName, "/srv/dl/127.0.0.1+8001/x.htm");
    folder.Dir = "/srv/sites2";
    EXPECT_EQ(engine::LocalPath(*project, "host/x.htm"), "/srv/sites2/host/x.htm");
}

TEST_F(AddressTest, LocalFilesOnlyForLocalProjectsInsideTheirStartFolder) {
    std::string reason;
    // A Project of a web site never reads this machine's files.
    EXPECT_FALSE(Takes("file:///etc/hostname", false, &reason));
    EXPECT_EQ(reason, "local file");
    EXPECT_FALSE(Takes("FILE://c:/boot.ini", true, &reason));
    EXPECT_EQ(reason, "local file");

    project->URL = "file:///home/me/site/index.html#top";
    EXPECT_TRUE(Takes("file:///home/me/site/index.html"));
    EXPECT_TRUE(Takes("file:///home/me/site/sub/./a.htm"));
    EXPECT_FALSE(Takes("file:///home/me/other/a.htm", false, &reason));
    EXPECT_EQ(reason, "outside start folder");
    EXPECT_FALSE(Takes("file:///home/me/site/../secret.txt", false, &reason));
    EXPECT_EQ(reason, "outside start folder");
    EXPECT_FALSE(Takes("file:///home/me/sitex/a.htm", false, &reason));
    EXPECT_FALSE(Takes("file:///etc/hostname"));
    // Its links to the web are still taken.
    EXPECT_TRUE(Takes("http://host/dir/a.htm"));

    // An address the user gives without a Project (quillmoor-cli fetch) is read as given.
    engine::DownloadRecord typed;
    typed.URL = "file:///etc/hostname";
    EXPECT_TRUE(engine::Normalise(typed));
}

TEST_F(AddressTest, RefusedSchemes) {
    std::string reason;
    EXPECT_FALSE(Takes("gopher://host/file", false, &reason));
    EXPECT_EQ(reason, "scheme");
    EXPECT_TRUE(Takes("https://host/", false, &reason));
    EXPECT_FALSE(Takes("gopher://host/", false, &reason));
    EXPECT_FALSE(Takes("javascript:void(0)", false, &reason));
    EXPECT_EQ(reason, "scheme");
}

// Whatever the address, the stored file stays under the Project's root folder.
TEST_F(AddressTest, NothingIsStoredOutsideTheRoot) {
    project->URL = "file:///";  // a local Project of the whole disk, so file: addresses are its own
    for (const char* url :
         {"http://../x", "http://..", "http://./x", "http://host/a/..", "http://host/..", "http://host/a/.",
          "http://.../x", "http://host/..:80/x", "http://host\\..\\..", "file://../x", "file:///../etc/passwd",
          "file://c:/../x", "file:///home/../../etc/passwd", "file://./x", "http://", "http:///"}) {
        std::string reason;
        EXPECT_FALSE(Takes(url, false, &reason)) << url;
        EXPECT_EQ(reason, "root folder") << url;
    }
    // Dots inside names are ordinary characters.
    EXPECT_TRUE(Takes("http://host/a..b/.c/x."));
    EXPECT_TRUE(Takes("http://host/a/../b"));
}

TEST_F(AddressTest, StartingServerDirectoryAndFileName) {
    project->URL = "http://host/dir/";
    project->RSrvsBx = 1;
    std::string reason;
    EXPECT_TRUE(Takes("http://Host/x"));
    EXPECT_FALSE(Takes("http://host:81/x", false, &reason));
    EXPECT_EQ(reason, "starting server");
    EXPECT_TRUE(Takes("http://user@host/x"));

    // The start address is compared in its canonical form.
    project->URL = "HTTP://joe@Host:80/dir/./";
    EXPECT_TRUE(Takes("http://host/dir/"));
    EXPECT_FALSE(Takes("http://host:8080/dir/"));

    project->URL = "http://host/dir/index.htm";
    project->RSrvsBx = 0;
    project->RPathBx = 1;
    EXPECT_TRUE(Takes("http://host/dir/sub/a.htm"));
    EXPECT_TRUE(Takes("http://other/dir/a.htm"));
    EXPECT_FALSE(Takes("http://host/dirx/a.htm", false, &reason));
    EXPECT_EQ(reason, "starting directory");

    project->RPathBx = 0;
    project->RFileBx = 1;
    EXPECT_TRUE(Takes("http://host/else/INDEX.htm"));
    EXPECT_FALSE(Takes("http://host/dir/other.htm", false, &reason));
    EXPECT_EQ(reason, "starting file name");
}

TEST_F(AddressTest, KeywordLists) {
    std::string reason;
    project->RSrvsBx = 2;
    project->RSrvsIn = "^mirror\r\n";
    EXPECT_TRUE(Takes("http://mirror.host/a"));
    EXPECT_FALSE(Takes("http://host.mirror/a", false, &reason));
    EXPECT_EQ(reason, "server keywords");
    project->RSrvsIn = "";
    project->RSrvsEx = "ads.\r\n";
    EXPECT_FALSE(Takes("http://ads.example/a"));
    EXPECT_TRUE(Takes("http://www.example/a"));
    project->RSrvsBx = 0;  // mode 0: the lists are not looked at
    EXPECT_TRUE(Takes("http://ads.example/a"));

    project->RPathBx = 2;
    project->RPathIn = "/docs/\r\n/img/\r\n xo\r\n";
    EXPECT_TRUE(Takes("http://h/docs/a.htm"));
    EXPECT_FALSE(Takes("http://h/img/a.gif", false, &reason));
    EXPECT_EQ(reason, "directory keywords");
    project->RPathBx = 0;

    project->RFileBx = 2;
    project->RFileEx = ".gif$\r\n";
    EXPECT_FALSE(Takes("http://h/a.gif", false, &reason));
    EXPECT_EQ(reason, "file name keywords");
    EXPECT_TRUE(Takes("http://h/a.gif.bak"));
    // A keyword with a capital letter never matches the lower-case parts.
    project->RFileEx = "A.HTM\r\n";
    EXPECT_TRUE(Takes("http://h/A.HTM"));
}

TEST_F(AddressTest, FileTypeCategories) {
    EXPECT_EQ(CategoryOf("http://host/a.htm"), store::kCatText);
    EXPECT_EQ(CategoryOf("http://host/dir/"), store::kCatText);  // the default document's extension
    EXPECT_EQ(CategoryOf("http://host/p.GIF"), store::kCatImages);
    EXPECT_EQ(CategoryOf("http://host/list.cgi?x=a.zip"), store::kCatOther);
    EXPECT_EQ(CategoryOf("http://host/readme"), store::kCatOther);
    EXPECT_EQ(CategoryOf("http://host/f.tar.gz#part.htm"), store::kCatArchive);

    std::string reason;
    project->Categories[store::kCatOther].Flag(store::CategoryFlag::Excluded) = true;
    EXPECT_FALSE(Takes("http://host/readme", true, &reason));
    EXPECT_EQ(reason, "category other");
    EXPECT_TRUE(Takes("http://host/a.zip", true));

    project->Categories[store::kCatImages].Exts = std::string(kImages) + " xo\r\n";
    project->Categories[store::kCatImages].Flag(store::CategoryFlag::SelectedTypesOnly) = true;
    EXPECT_TRUE(Takes("http://host/a.gif", true));
    EXPECT_FALSE(Takes("http://host/a.jpg", true, &reason));
    EXPECT_EQ(reason, "category images");
    EXPECT_TRUE(Takes("http://host/a.jpeg", true));  // beyond the selection line: selected
}

// With pages excluded, page links are still fetched (so that their links are followed), and
// an image is stored only when it is embedded in a page and images are not excluded.
TEST_F(AddressTest, CrawlingThroughExcludedPages) {
    project->Categories[store::kCatText].Flag(store::CategoryFlag::Excluded) = true;
    EXPECT_EQ(CategoryOf("http://host/a.htm"), store::kCatText);
    EXPECT_EQ(CategoryOf("http://host/a.htm", true), -1);
    EXPECT_EQ(CategoryOf("http://host/p.gif", true), store::kCatImages);

    project->Categories[store::kCatImages].Flag(store::CategoryFlag::Excluded) = true;
    EXPECT_EQ(CategoryOf("http://host/p.gif", true), -1);
    EXPECT_EQ(CategoryOf("http://host/p.gif", false), store::kCatText);
    project->Categories[store::kCatText].Flag(store::CategoryFlag::Excluded) = false;
    EXPECT_EQ(CategoryOf("http://host/p.gif", false), -1);
}

TEST_F(AddressTest, AdmitOnItsOwnSetsTheCategory) {
    engine::DownloadRecord rec;
    rec.Project = project.get();
    rec.URL = "http://host/x/a.zip";
    ASSERT_TRUE(engine::Admit(rec));
    EXPECT_EQ(rec.Category, &project->Categories[store::kCatArchive]);
    project->Categories[store::kCatArchive].Flag(store::CategoryFlag::Excluded) = true;
    rec.IsImage = true;
    EXPECT_FALSE(engine::Admit(rec));
    EXPECT_EQ(rec.Category, nullptr);
}

// The memo gives what Normalise gives, for the first and every later time an address comes,
// and forgets when a setting Normalise reads changes.
TEST_F(AddressTest, TheMemoAnswersAsNormaliseDoes) {
    const char* addresses[] = {
        "http://host:80/a/./b//c/../d.html#top",
        "http://host/dir/x.zip",
        "http://other/dir/p.gif",
        "http://host/dir/q.exe",
        "http://user:pw@host/dir/s.html",
        "ftp://host/dir/f.txt",
        "mailto:x@y",
        "http://host/dir/page?x=1#frag",
        "http://host/../up.html",
        "HTTP://Some.Host",
    };
    engine::NormaliseMemo memo;
    // Each page's analysis is given the settings as they were when it was given out.
    engine::SettingsSnapshot settings;
    auto prepare = [&] {
        settings = engine::TakeSettingsSnapshot(project.get());
        memo.Prepare(settings);
    };
    auto same = [&](const std::string& url, bool embedded, const char* when) {
        SCOPED_TRACE(url + (embedded ? " embedded, " : " page, ") + when);
        auto plain = Link(url, embedded);
        auto remembered = Link(url, embedded);
        plain->URLPsw = remembered->URLPsw = "parent:pw";
        const bool ok = engine::Normalise(*plain);
        ASSERT_EQ(memo.Normalise(*remembered), ok);
        if (!ok) return;
        EXPECT_EQ(remembered->URL, plain->URL);
        EXPECT_EQ(remembered->URLPsw, plain->URLPsw);
        EXPECT_EQ(remembered->Category, plain->Category);
        EXPECT_EQ(remembered->FName, plain->FName);
        EXPECT_EQ(remembered->Path, plain->Path);
        EXPECT_EQ(remembered->RFile, plain->RFile);
        EXPECT_EQ(remembered->Depth, plain->Depth);
        EXPECT_TRUE(remembered->Img && remembered->Srv);
    };
    prepare();
    for (int pass = 0; pass < 2; ++pass)
        for (const char* url : addresses)
            for (bool embedded : {false, true}) same(url, embedded, pass ? "remembered" : "first");
    EXPECT_GT(memo.Size(), 0u);

    // Settings that change what Normalise decides or names: each is noticed before the next page.
    project->RSrvsBx = 1;
    prepare();
    EXPECT_EQ(memo.Size(), 0u);
    for (const char* url : addresses) same(url, false, "start server only");
    project->Categories[store::kCatArchive].Flag(store::CategoryFlag::Excluded) = true;
    prepare();
    for (const char* url : addresses) same(url, true, "archives excluded");
    folder.Dir = "/srv/elsewhere/";
    prepare();
    for (const char* url : addresses) same(url, false, "another folder");
    store::Options().ExtLast = true;
    prepare();
    for (const char* url : addresses) same(url, false, "extension last");
    store::Options().ExtLast = false;
    prepare();
    for (const char* url : addresses) same(url, false, "extension last again off");
    // Unchanged settings keep what is known.
    const std::size_t known = memo.Size();
    prepare();
    EXPECT_EQ(memo.Size(), known);

    // Thousands of addresses, each asked for three times among the others: every answer is
    // still Normalise's own.
    std::vector<std::string> many;
    for (int i = 0; i < 6000; ++i)
        many.push_back("http://host/dir/" + std::to_string(i % 7) + "/p" + std::to_string(i) +
                       (i % 3 == 0   ? ".gif"
                        : i % 3 == 1 ? ".html"
                                     : ".zip"));
    for (int pass = 0; pass < 3; ++pass)
        for (std::size_t i = 0; i < many.size(); i += 1 + pass)
            same(many[i], i % 2 == 0, pass ? "remembered" : "first");
    EXPECT_GE(memo.Size(), many.size());

    // Links to members of one page differ in their fragments only and share one entry, unless
    // a file-name rule reads the fragment; the memo knows which of them were handed over.
    const char* members[] = {"http://host/dir/cls.html#a1f3",  "http://host/dir/cls.html#a77_x-y",
                             "http://host/dir/cls.html",       "http://host/dir/cls.html#secret",
                             "http://host/dir/cls.html#a.b/c", "http://host#a1",
                             "http://host/dir/cls.html?q#a2"};
    project->RSrvsBx = 0;
    prepare();
    for (int pass = 0; pass < 2; ++pass)
        for (const char* url : members) same(url, false, pass ? "member remembered" : "member");
    EXPECT_EQ(memo.Size(), 4u);  // cls.html, the fragment with a '.', host#a1, the query
    auto member = Link("http://host/dir/cls.html#b9", false);
    ASSERT_TRUE(memo.Normalise(*member));
    EXPECT_EQ(memo.HandedOverIn("http://host/dir/cls.html#c1", false, project.get(), 7), nullptr);
    EXPECT_FALSE(memo.HandedOverBefore(*member, 7));
    EXPECT_TRUE(memo.HandedOverBefore(*member, 7));
    const std::string* handed = memo.HandedOverIn("http://host/dir/cls.html#c1", false, project.get(), 7);
    ASSERT_NE(handed, nullptr);
    EXPECT_EQ(*handed, "http://host/dir/cls.html");
    EXPECT_EQ(memo.HandedOverIn("http://host/dir/cls.html#c1", true, project.get(), 7), nullptr);
    EXPECT_EQ(memo.HandedOverIn("http://host/dir/cls.html#c1", false, project.get(), 8), nullptr);
    project->RFileBx = 2;
    project->RFileEx = "secret\r\n";
    prepare();
    for (int pass = 0; pass < 2; ++pass)
        for (const char* url : members) same(url, false, "file name rule");
    auto refused = Link("http://host/dir/cls.html#secret", false);
    EXPECT_FALSE(memo.Normalise(*refused));
}

// A Project made from the built-in defaults knows today's file types: told to skip images it
// skips a PNG, and a style sheet, an MP4 and a .zst archive fall in their categories. Stored
// Projects keep the lists they were saved with.
TEST(TodaysFileTypes, NewProjectsKnowThem) {
    store::Options().PathPrefix = "/var/pp/";
    store::ProjectFolder folder;
    folder.Dir = "/srv/sites/";
    store::Project fresh;
    store::ResetToBuiltInDefaults(fresh);
    fresh.Folder = &folder;
    fresh.URL = "http://host/index.html";
    fresh.Categories[store::kCatImages].Flag(store::CategoryFlag::Excluded) = true;
    auto take = [&](const std::string& url, int& category) {
        engine::DownloadRecord rec;
        rec.Project = &fresh;
        rec.URL = url;
        rec.IsImage = true;
        engine::AdmissionResult why;
        const bool ok = engine::Normalise(rec, why);
        category = rec.Category ? int(rec.Category - &fresh.Categories[0]) : -1;
        return ok;
    };
    int category = -1;
    EXPECT_FALSE(take("http://host/logo.png", category));
    EXPECT_FALSE(take("http://host/icon.webp", category));
    EXPECT_FALSE(take("http://host/favicon.ico", category));
    EXPECT_TRUE(take("http://host/old.txt", category));
    EXPECT_TRUE(take("http://host/site.css", category));
    EXPECT_EQ(category, store::kCatText);
    EXPECT_TRUE(take("http://host/clip.mp4", category));
    EXPECT_EQ(category, store::kCatVideo);
    EXPECT_TRUE(take("http://host/song.opus", category));
    EXPECT_EQ(category, store::kCatAudio);
    EXPECT_TRUE(take("http://host/data.tar.zst", category));
    EXPECT_EQ(category, store::kCatArchive);

    // A stored Project keeps its older image list: the PNG is "other" to it.
    store::Project stored;
    stored.Assign(fresh);
    stored.Categories[store::kCatImages].Exts = "gif\r\njpg\r\njpeg\r\nbmp";
    engine::DownloadRecord rec;
    rec.Project = &stored;
    rec.URL = "http://host/logo.png";
    engine::AdmissionResult why;
    EXPECT_TRUE(engine::Normalise(rec, why));
    EXPECT_EQ(rec.Category, &stored.Categories[store::kCatOther]);
}

}  // namespace
}  // namespace qm
