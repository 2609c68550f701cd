// A Project in the object stream: the exact lines written, every reading rule, Assign, and
// the site map file.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_folder.h"
#include "store/defaults_project.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

std::unique_ptr<store::Project> ReadProject(const std::string& keys) {
    std::string path = test::MakeTempDir("proj") + "/p.txt";
    test::WriteFile(path, "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=0\r\n" + keys);
    store::TypedStream s(path, false);
    std::unique_ptr<store::StreamObject> obj;
    EXPECT_TRUE(s.ReadObject(obj)) << s.Error();
    return std::unique_ptr<store::Project>(dynamic_cast<store::Project*>(obj.release()));
}

TEST(ProjectStream, SaveWritesEveryKeyInOrder) {
    store::Project p;
    store::ResetToBuiltInDefaults(p);
    p.IID = 7;
    p.Caption = "Site";
    p.URL = "http://example.test/";
    p.User = "u";
    p.Psw = "pw";
    p.LastStart = 0;
    p.SrvImg = false;
    p.Categories[store::kCatImages].Flags = {true, false, true, false, true};
    p.Categories[store::kCatText].MaxSize = 9;
    p.Categories[store::kCatText].MinSize = 3;
    p.Categories[store::kCatOther].MinSize = 5;
    p.RSrvsIn = "a\r\nb\r\n";
    p.S304 = 2;
    std::string path = test::MakeTempDir("projw") + "/p.txt";
    {
        store::TypedStream s(path, true);
        s.WriteCount(0);
        s.WriteObject(p);
    }
    const std::string expected =
        "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=0\r\n"
        "IID=7\r\nCaption=Site\r\nURL=http://example.test/\r\nImg=Yes\r\nLev=1\r\nSrv=No\r\n"
        "When=0\r\nHour=0\r\nMinute=0\r\nWeekday=0\r\nDay=0\r\nMonth=0\r\nUser=u\r\nPsw=pw\r\n"
        "ThisWay=False\r\nLimBSize=False\r\nLimBTSize=False\r\nLimBNumber=False\r\n"
        "LimSize=1000\r\nLimTSize=10000\r\nLimNumber=5000\r\nEnableScript=True\r\nEnableJava=True\r\n"
        "SrvImg=2\r\nFMGroup=0\r\nFM3Lev=0\r\nLTranslate=False\r\nOnce=False\r\npswMethod=0\r\n"
        "FTText.Exts=html\x02\x01htm\x02\x01"
        "asp\x02\x01stm\x02\x01stml\x02\x01idc\x02\x01shtml\x02\x01"
        "htx\x02\x01txt\x02\x01text\x02\x01js\x02\x01xsp\x02\x01rxml\x02\x01"
        "css\x02\x01json\x02\x01xml\x02\x01xhtml\x02\x01mjs\r\n"
        "FTImages.Exts=gif\x02\x01jpg\x02\x01jpeg\x02\x01tif\x02\x01tiff\x02\x01xbm\x02\x01"
        "fif\x02\x01"
        "bmp\x02\x01png\x02\x01webp\x02\x01svg\x02\x01"
        "avif\x02\x01ico\r\n"
        "FTVideo.Exts=mpg\x02\x01"
        "avi\x02\x01"
        "ani\x02\x01mpeg\x02\x01mp4\x02\x01webm\x02\x01mov\x02\x01mkv\r\n"
        "FTAudio.Exts=wav\x02\x01riff\x02\x01mp3\x02\x01mid\x02\x01mp2\x02\x01"
        "ogg\x02\x01oga\x02\x01opus\x02\x01"
        "flac\x02\x01m4a\x02\x01"
        "aac\r\n"
        "FTArchive.Exts=zip\x02\x01"
        "arc\x02\x01gz\x02\x01z\x02\x01"
        "arj\x02\x01lha\x02\x01lay\x02\x01lei\x02\x01"
        "rar\x02\x01"
        "cab\x02\x01"
        "7z\x02\x01xz\x02\x01"
        "bz2\x02\x01zst\x02\x01tar\x02\x01tgz\r\n"
        "FTUDef.Exts=\r\n"
        "FTText.B=ooooo\r\nFTImages.B=xoxox\r\nFTVideo.B=ooooo\r\nFTAudio.B=ooooo\r\nFTArchive.B=ooooo\r\n"
        "FTUDef.B=ooooo\r\nFTOther.B=ooooo\r\n"
        "FTSizes=9,3,0,0,0,0,0,0,0,0,0,0,0,5\r\n"
        "RSrvsBx=1\r\nRSrvsIn=a\x02\x01"
        "b\x02\x01\r\nRSrvsEx=\r\nRPathBx=0\r\nRPathIn=\r\nRPathEx=\r\n"
        "RFileBx=0\r\nRFileIn=\r\nRFileEx=\r\n"
        "LastStart=0:0:0:0:0:0:0:0:\r\nLastEnd=0:0:0:0:0:0:0:0:\r\n"
        "S200=0\r\nS304=2\r\nS400=0\r\nSErr=0\r\nSAbr=0\r\n"
        "CrawlTraps=True\r\nWebArchive=False\r\n"
        "Robots=True\r\nPerSecond=0\r\nSitemaps=False\r\nLoginURL=\r\nLoginFields=\r\nRenderPages=False\r\n";
    EXPECT_EQ(test::ReadFile(path), expected);
}

TEST(ProjectStream, RoundTripKeepsSettings) {
    store::Project p;
    p.IID = 3;
    p.Caption = "C";
    p.URL = "http://h/?q=a=b";
    p.Img = "No";
    p.Srv = "Yes";
    p.Lev = 4;
    p.When = 2;
    p.Hour = 23;
    p.LimBTSize = true;
    p.LimSize = 5;
    p.LimTSize = 6;
    p.LimNumber = 7;
    p.SrvImg = true;
    p.FMGroup = 3;
    p.FM3Lev = 2;
    p.Categories[store::kCatUserDefined].Exts = "foo\r\nbar\r\n o";
    p.Categories[store::kCatOther].Flag(store::CategoryFlag::MaxSizeOn) = true;
    p.Categories[store::kCatOther].MaxSize = 77;
    p.RFileEx = "x\r\ny";
    p.LastStart = 45123.5;
    p.LastEnd = 45124.25;
    p.SErr = 9;
    std::string path = test::MakeTempDir("projrt") + "/p.txt";
    {
        store::TypedStream s(path, true);
        s.WriteObject(p);
    }
    store::TypedStream s(path, false);
    std::unique_ptr<store::StreamObject> obj;
    ASSERT_TRUE(s.ReadObject(obj));
    auto& r = dynamic_cast<store::Project&>(*obj);
    EXPECT_EQ(r.IID, 3);
    EXPECT_EQ(r.URL, "http://h/?q=a=b");
    EXPECT_EQ(r.Img, "No");
    EXPECT_EQ(r.Lev, 4);
    EXPECT_EQ(r.When, 2);
    EXPECT_EQ(r.Hour, 23);
    EXPECT_TRUE(r.LimBTSize);
    EXPECT_EQ(r.LimSize, 5);
    EXPECT_EQ(r.LimNumber, 7);
    EXPECT_TRUE(r.SrvImg);
    EXPECT_EQ(r.FMGroup, 3);
    EXPECT_EQ(r.Categories[store::kCatUserDefined].Exts, "foo\r\nbar\r\n o");
    EXPECT_TRUE(r.Categories[store::kCatOther].Flag(store::CategoryFlag::MaxSizeOn));
    EXPECT_EQ(r.Categories[store::kCatOther].MaxSize, 77);
    EXPECT_EQ(r.RFileEx, "x\r\ny");
    EXPECT_EQ(r.LastStart, 45123.5);
    EXPECT_EQ(r.LastEnd, 45124.25);
    EXPECT_EQ(r.SErr, 9);
    EXPECT_EQ(r.StatusText, "Ready");
}

TEST(ProjectStream, CaptionLimitAndFallbacks) {
    auto p50 = ReadProject("Caption=" + std::string(50, 'c') + "\r\nURL=http://a/\r\n");
    EXPECT_EQ(p50->Caption, std::string(50, 'c'));
    auto p51 = ReadProject("Caption=" + std::string(51, 'c') + "\r\n");
    EXPECT_EQ(p51->Caption, std::string(47, 'c') + "...");
    auto noCaption = ReadProject("URL=http://a/b\r\nSrv=\r\n");
    EXPECT_EQ(noCaption->Caption, "http://a/b");
    EXPECT_EQ(noCaption->Srv, "Yes");
}

TEST(ProjectStream, CrawlTrapRulesAreOnUnlessSwitchedOff) {
    EXPECT_TRUE(ReadProject("URL=http://a/\r\nSAbr=0\r\n")->CrawlTraps);  // stored before the setting
    EXPECT_FALSE(ReadProject("CrawlTraps=False\r\n")->CrawlTraps);
    EXPECT_TRUE(ReadProject("CrawlTraps=True\r\n")->CrawlTraps);
    store::Project off;
    off.CrawlTraps = false;
    store::Project copy;
    copy.Assign(off);
    EXPECT_FALSE(copy.CrawlTraps);
}

TEST(ProjectStream, WebArchiveIsOffUnlessSwitchedOn) {
    EXPECT_FALSE(ReadProject("URL=http://a/\r\nCrawlTraps=True\r\n")->WebArchive);  // stored before the setting
    EXPECT_TRUE(ReadProject("WebArchive=True\r\n")->WebArchive);
    EXPECT_FALSE(ReadProject("WebArchive=False\r\n")->WebArchive);
    store::Project on;
    on.WebArchive = true;
    store::Project copy;
    copy.Assign(on);
    EXPECT_TRUE(copy.WebArchive);
}

// Obeying robots.txt, the pace, sitemaps and a log-in: stored Projects without them behave as
// before; the built-in defaults start new Projects obeying robots.txt.
TEST(ProjectStream, CrawlMannersReadAsOffUnlessStored) {
    auto old = ReadProject("URL=http://a/\r\nCrawlTraps=True\r\nWebArchive=True\r\n");
    EXPECT_FALSE(old->Robots);
    EXPECT_EQ(old->PerSecond, 0);
    EXPECT_FALSE(old->Sitemaps);
    EXPECT_TRUE(old->LoginURL.empty());
    EXPECT_FALSE(old->RenderPages);
    auto set = ReadProject(
        "Robots=True\r\nPerSecond=4\r\nSitemaps=True\r\nLoginURL=http://a/login\r\n"
        "LoginFields=user=al\x02\x01pass=x=y\r\nRenderPages=True\r\n");
    EXPECT_TRUE(set->Robots);
    EXPECT_EQ(set->PerSecond, 4);
    EXPECT_TRUE(set->Sitemaps);
    EXPECT_EQ(set->LoginURL, "http://a/login");
    EXPECT_EQ(set->LoginFields, "user=al\r\npass=x=y");
    EXPECT_EQ(ReadProject("PerSecond=-3\r\n")->PerSecond, 0);
    store::Project copy;
    copy.Assign(*set);
    EXPECT_EQ(copy.LoginFields, set->LoginFields);
    EXPECT_EQ(copy.PerSecond, 4);
    EXPECT_TRUE(copy.RenderPages);
    store::Project fresh;
    store::ResetToBuiltInDefaults(fresh);
    EXPECT_TRUE(fresh.Robots);
    EXPECT_EQ(fresh.PerSecond, 0);
    EXPECT_FALSE(fresh.Sitemaps);
}

TEST(ProjectStream, ServerImagesAndLimitRepairs) {
    EXPECT_FALSE(ReadProject("SrvImg=2\r\n")->SrvImg);
    EXPECT_TRUE(ReadProject("SrvImg=1\r\n")->SrvImg);
    EXPECT_TRUE(ReadProject("")->SrvImg);               // missing reads as 0
    EXPECT_FALSE(ReadProject("SrvImg=5\r\n")->SrvImg);  // the constructor's value stays
    auto p = ReadProject("LimTSize=0\r\nLimSize=0\r\nLimNumber=12\r\n");
    EXPECT_EQ(p->LimTSize, 10000);
    EXPECT_EQ(p->LimSize, 1000);
    EXPECT_EQ(p->LimNumber, 12);
}

TEST(ProjectStream, CategoriesFlagsAndSizes) {
    auto p = ReadProject(
        "FTText.Exts=gif\x02\x01jpg\x02\x01 xo\r\nFTText.B=xo\r\nFTImages.B=xxxxxxxx\r\n"
        "FTSizes=1,2,3,x,5\r\n");
    EXPECT_TRUE(p->Categories[store::kCatText].Flag(store::CategoryFlag::Excluded));
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(p->Categories[store::kCatText].Flags[i]);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(p->Categories[store::kCatImages].Flags[i]);
    EXPECT_EQ(p->Categories[store::kCatText].MaxSize, 1);
    EXPECT_EQ(p->Categories[store::kCatText].MinSize, 2);
    EXPECT_EQ(p->Categories[store::kCatImages].MaxSize, 3);
    EXPECT_EQ(p->Categories[store::kCatImages].MinSize, 0);
    EXPECT_EQ(p->Categories[store::kCatVideo].MaxSize, 5);
    EXPECT_EQ(p->Categories[store::kCatOther].MinSize, 0);
    // The extension list has no other key of its category: the other lists are emptied.
    EXPECT_EQ(p->Categories[store::kCatImages].Exts, "");
    store::TickedList t = store::ParseTickedList(p->Categories[store::kCatText].Exts);
    EXPECT_EQ(t.Entries, (std::vector<std::string>{"gif", "jpg"}));
    EXPECT_EQ(t.Ticked, (std::vector<bool>{true, false}));
    EXPECT_EQ(store::ParseTickedList("gif\r\njpg").Ticked, (std::vector<bool>{true, true}));
    EXPECT_EQ(store::FormatTickedList(t), "gif\r\njpg\r\n xo");
}

TEST(ProjectStream, StoreWithoutFileTypesKeepsDefaultsExtensions) {
    store::DefaultsProject().Categories[store::kCatVideo].Exts = "mov";
    auto p = ReadProject("Caption=old\r\n");
    EXPECT_EQ(p->Categories[store::kCatVideo].Exts, "mov");
    EXPECT_EQ(p->Categories[store::kCatText].Exts, store::DefaultsProject().Categories[store::kCatText].Exts);
    store::ResetToBuiltInDefaults(store::DefaultsProject());
}

TEST(ProjectStream, AssignLeavesStatisticsAndLastEnd) {
    store::Project src;
    src.Caption = "S";
    src.IID = 4;
    src.URL = "http://s/";
    src.Categories[store::kCatOther].Flag(store::CategoryFlag::SelectedTypesOnly) = true;
    src.Categories[store::kCatArchive].Exts = "zzz";
    src.LastEnd = 99;
    src.S200 = 10;
    src.StatusText = "busy";
    store::Project dst;
    dst.LastEnd = 5;
    dst.S200 = 1;
    dst.Assign(src);
    EXPECT_EQ(dst.Caption, "S");
    EXPECT_EQ(dst.IID, 4);
    EXPECT_EQ(dst.URL, "http://s/");
    EXPECT_TRUE(dst.Categories[store::kCatOther].Flag(store::CategoryFlag::SelectedTypesOnly));
    EXPECT_EQ(dst.Categories[store::kCatArchive].Exts, "zzz");
    EXPECT_EQ(dst.StatusText, "busy");
    EXPECT_EQ(dst.LastEnd, 5);
    EXPECT_EQ(dst.S200, 1);
}

TEST(ProjectStream, SiteMapLoadsOnFirstUseAndSavesWhenModified) {
    std::string dir = test::MakeTempDir("sitemap");
    platform::SetProgramFolder(dir);
    test::WriteFile(dir + "/12.map", "b/x.htm\r\nA/y.htm\r\nb/X.htm\r\n");
    store::Project p;
    p.IID = 12;
    // Names differing only in case are different files: both are kept.
    EXPECT_EQ(p.SiteMap().Items(), (std::vector<std::string>{"A/y.htm", "b/X.htm", "b/x.htm"}));
    p.SiteMap().Add("c/z.gif");
    p.MarkSiteMapModified();
    {
        store::TypedStream s(dir + "/store.txt", true);
        s.WriteObject(p);
    }
    EXPECT_FALSE(p.SiteMapModified());
    EXPECT_EQ(test::ReadFile(dir + "/12.map"), "A/y.htm\r\nb/X.htm\r\nb/x.htm\r\nc/z.gif\r\n");
    p.RemoveSiteMapFile();
    EXPECT_FALSE(std::filesystem::exists(dir + "/12.map"));
    platform::SetProgramFolder("");
}

}  // namespace
}  // namespace qm
