// The download record's object-stream form.
#include <gtest/gtest.h>

#include "engine/get_rec.h"
#include "store/object_stream.h"
#include "store/options.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

TEST(GetRec, NewRecordTakesItsAttemptsFromTheOptions) {
    store::Options().ConnRetries = 4;
    engine::DownloadRecord rec;
    EXPECT_EQ(rec.ConnTries, 4);
    EXPECT_FALSE(rec.Busy);
    EXPECT_EQ(rec.Project, nullptr);
    store::Options().Reset();
}

TEST(GetRec, SavedFieldsComeBackThroughAQueueFile) {
    std::string file = test::MakeTempDir("getrec") + "/queue";
    store::Project project;
    project.IID = 17;
    {
        store::TypedStream out(file, true);
        out.WriteCount(1);
        engine::DownloadRecord rec;
        rec.Project = &project;
        rec.URL = "http://h/a b";
        rec.Img = true;
        rec.Lev = 3;
        rec.Srv = true;
        rec.FName = "/s/h/a b";
        rec.Temp = "/tmp/htt1.tmp";
        rec.Path = "/s/h";
        rec.RFile = "a b";
        rec.Base = "http://h/";
        rec.InitWay = "/s/h";
        rec.JavaClass = true;
        rec.Depth = 1;
        rec.IsImage = true;
        rec.URLPsw = "u:p=w";
        out.WriteObject(rec);
        ASSERT_TRUE(out.Close());
    }
    std::string text = test::ReadFile(file);
    // Keys in their saved order.
    std::size_t at = 0;
    for (const char* key : {"Type=2", "IID=17", "URL=", "Img=True", "Lev=3", "Srv=True",
                            "FName=", "Temp=", "Path=", "RFile=", "Base=", "InitWay=", "JavaClass=True", "Depth=1",
                            "IsImage=True", "URLPsw=u:p=w"}) {
        std::size_t p = text.find(key, at);
        ASSERT_NE(p, std::string::npos) << key;
        at = p;
    }
    store::TypedStream in(file, false);
    std::unique_ptr<store::StreamObject> obj;
    ASSERT_TRUE(in.ReadObject(obj));
    auto* rec = dynamic_cast<engine::DownloadRecord*>(obj.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->LoadedIID, 17);
    EXPECT_EQ(rec->Project, nullptr);
    EXPECT_EQ(rec->URL, "http://h/a b");
    EXPECT_EQ(rec->Lev, 3);
    EXPECT_EQ(rec->FName, "/s/h/a b");
    EXPECT_EQ(rec->RFile, "a b");
    EXPECT_TRUE(rec->JavaClass);
    EXPECT_TRUE(rec->IsImage);
    EXPECT_EQ(rec->URLPsw, "u:p=w");
    EXPECT_FALSE(rec->Busy);
}

}  // namespace
}  // namespace qm
