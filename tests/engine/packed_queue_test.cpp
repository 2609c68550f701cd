// Queued records kept small: the packed form keeps every field a queued record has, writes
// the same queue file, and the seen-address list finds addresses in any letter case.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>

#include "engine/get_rec.h"
#include "engine/packed_record.h"
#include "engine/seen_addresses.h"
#include "store/file_category.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

std::string Written(const std::string& file, engine::DownloadRecord& rec) {
    {
        store::TypedStream out(file, true);
        out.WriteCount(1);
        out.WriteObject(rec);
        EXPECT_TRUE(out.Close());
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void ExpectSame(const engine::DownloadRecord& a, const engine::DownloadRecord& b) {
    EXPECT_EQ(a.Project, b.Project);
    EXPECT_EQ(a.URL, b.URL);
    EXPECT_EQ(a.Img, b.Img);
    EXPECT_EQ(a.Lev, b.Lev);
    EXPECT_EQ(a.Srv, b.Srv);
    EXPECT_EQ(a.FName, b.FName);
    EXPECT_EQ(a.Temp, b.Temp);
    EXPECT_EQ(a.Path, b.Path);
    EXPECT_EQ(a.RFile, b.RFile);
    EXPECT_EQ(a.Base, b.Base);
    EXPECT_EQ(a.InitWay, b.InitWay);
    EXPECT_EQ(a.JavaClass, b.JavaClass);
    EXPECT_EQ(a.Depth, b.Depth);
    EXPECT_EQ(a.IsImage, b.IsImage);
    EXPECT_EQ(a.URLPsw, b.URLPsw);
    EXPECT_EQ(a.LoadedIID, b.LoadedIID);
    EXPECT_EQ(a.ConnTries, b.ConnTries);
    EXPECT_EQ(a.StepsBeyondLevel, b.StepsBeyondLevel);
    EXPECT_EQ(a.Category, b.Category);
    EXPECT_EQ(a.Referer, b.Referer);
}

TEST(PackedRecord, KeepsEveryFieldOfAQueuedRecordAndWritesTheSameBytes) {
    const std::string dir = test::MakeTempDir("packed");
    store::Project project;
    project.IID = 23;
    store::FileCategory category;
    engine::ContextRef last;

    // A found link: the file name is its folder and name joined; and records whose names
    // are not (a queue file written by hand, a back-slash, an empty name), with every text
    // filled and long texts past the one-byte lengths.
    std::vector<std::unique_ptr<engine::DownloadRecord>> records;
    for (int i = 0; i < 4; ++i) {
        auto r = std::make_unique<engine::DownloadRecord>();
        r->Project = i == 3 ? nullptr : &project;
        r->LoadedIID = i == 3 ? 99 : 0;
        r->URL = "http://h/dir/p" + std::to_string(i) + ".html?" + std::string(i * 100, 'q');
        r->Path = i == 1 ? "C:\\s\\h" : "/s/h/dir";
        // The name is the address's last segment, or not (a query, a different spelling).
        r->RFile = i == 2 ? "x.html" : "p" + std::to_string(i) + ".html";
        if (i < 2) r->URL = "http://h/dir/p" + std::to_string(i) + ".html";
        r->FName = i == 0   ? r->Path + "/" + r->RFile
                   : i == 1 ? r->Path + "\\" + r->RFile
                   : i == 2 ? std::string("/elsewhere/x.html")
                            : std::string();
        r->Img = i % 2;
        r->Srv = i % 3 == 0;
        r->JavaClass = i == 2;
        r->IsImage = i != 1;
        r->Lev = i == 3 ? std::numeric_limits<int>::max() : 5 - i;
        r->Depth = i == 3 ? std::numeric_limits<int>::min() : -i * 100;
        r->ConnTries = 7 + i;
        r->StepsBeyondLevel = static_cast<std::uint8_t>(i);  // a frame chain's count goes along
        r->Temp = i == 2 ? "/tmp/htt1.tmp" : "";
        r->Base = i == 2 ? "http://h/base/" : "";
        r->URLPsw = i == 2 ? "user:pass:word" : "";
        r->InitWay = "/s/h";
        r->Referer = i == 3 ? "ftp://other/" : "http://h/dir/index.html";
        r->Category = i == 0 ? &category : nullptr;
        records.push_back(std::move(r));
    }
    for (auto& r : records) {
        ASSERT_TRUE(engine::PackedRecord::Packable(*r));
        const engine::PackedRecord packed = engine::PackedRecord::Pack(*r, last);
        EXPECT_EQ(packed.Project(), r->Project);
        std::unique_ptr<engine::DownloadRecord> back = packed.Unpack();
        ExpectSame(*r, *back);
        EXPECT_EQ(Written(dir + "/a", *r), Written(dir + "/b", *back));
    }

    // The queue's entry: cheap looks leave it packed; the first dereference unpacks it.
    engine::QueuedRecord entry(engine::PackedRecord::Pack(*records[0], last));
    EXPECT_TRUE(entry.IsPacked());
    EXPECT_EQ(entry.Project(), &project);
    EXPECT_FALSE(entry.Busy());
    EXPECT_EQ(entry.NotBeforeMs(), 0);
    std::unique_ptr<engine::DownloadRecord> copy = entry.UnpackedCopy();
    ASSERT_TRUE(copy);
    ExpectSame(*records[0], *copy);
    EXPECT_TRUE(entry.IsPacked());
    EXPECT_EQ(entry->URL, records[0]->URL);
    EXPECT_FALSE(entry.IsPacked());
    EXPECT_TRUE(entry.Is(entry.get()));
    EXPECT_EQ(entry.UnpackedCopy(), nullptr);

    // What a packed record could not carry keeps it whole.
    auto busy = std::make_unique<engine::DownloadRecord>();
    busy->Busy = true;
    EXPECT_FALSE(engine::PackedRecord::Packable(*busy));
    auto retried = std::make_unique<engine::DownloadRecord>();
    retried->FailedAttempts = 1;
    retried->NotBeforeMs = 5;
    EXPECT_FALSE(engine::PackedRecord::Packable(*retried));
    auto typed = std::make_unique<engine::DownloadRecord>();
    typed->ContentType = "text/html";
    EXPECT_FALSE(engine::PackedRecord::Packable(*typed));
    // A redirected record keeps its chain's count, and a challenged one its challenge.
    auto redirected = std::make_unique<engine::DownloadRecord>();
    redirected->RedirectHops = 1;
    EXPECT_FALSE(engine::PackedRecord::Packable(*redirected));
    auto challenged = std::make_unique<engine::DownloadRecord>();
    challenged->AuthChallenge = "WWW-Authenticate: Basic realm=x";
    EXPECT_FALSE(engine::PackedRecord::Packable(*challenged));
    engine::QueuedRecord whole(std::move(retried));
    EXPECT_FALSE(whole.IsPacked());
    EXPECT_EQ(whole.NotBeforeMs(), 5);
}

TEST(SeenAddresses, FindsEveryAddressInAnyCaseAndForgetsAtClear) {
    engine::SeenAddresses seen;
    EXPECT_FALSE(seen.Contains("http://h/"));
    constexpr int kCount = 200000;  // several blocks and index growths
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(seen.Insert("http://host/Dir/Page" + std::to_string(i) + ".html"));
    EXPECT_EQ(seen.Size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; i += 997) {
        const std::string a = "http://host/Dir/Page" + std::to_string(i) + ".html";
        EXPECT_TRUE(seen.Contains(a));
        EXPECT_TRUE(seen.Contains("HTTP://HOST/dir/page" + std::to_string(i) + ".HTML"));
        EXPECT_FALSE(seen.Insert("http://HOST/dir/Page" + std::to_string(i) + ".html"));
        EXPECT_FALSE(seen.Contains(a + "x"));
        EXPECT_FALSE(seen.Contains(a.substr(0, a.size() - 1)));
    }
    EXPECT_FALSE(seen.Contains("http://host/Dir/Page" + std::to_string(kCount) + ".html"));
    // Beyond the ASCII letters nothing is folded; a NUL is a byte like any other.
    EXPECT_TRUE(seen.Insert("http://h/\xc3\xa4"));
    EXPECT_TRUE(seen.Insert("http://h/\xc3\x84"));
    EXPECT_TRUE(seen.Insert(std::string("http://h/a\0b", 12)));
    EXPECT_FALSE(seen.Contains(std::string("http://h/a\0c", 12)));
    EXPECT_TRUE(seen.Insert(""));
    EXPECT_TRUE(seen.Contains(""));
    // An address longer than a block of texts.
    const std::string huge = "http://h/" + std::string(3 << 20, 'z');
    EXPECT_TRUE(seen.Insert(huge));
    EXPECT_TRUE(seen.Insert("http://h/after-the-huge-one"));
    EXPECT_TRUE(seen.Contains(huge));
    EXPECT_TRUE(seen.Contains("http://h/AFTER-the-huge-one"));
    EXPECT_TRUE(seen.Contains("http://host/dir/page0.html"));

    seen.Clear();
    EXPECT_EQ(seen.Size(), 0u);
    EXPECT_FALSE(seen.Contains("http://host/Dir/Page0.html"));
    EXPECT_TRUE(seen.Insert("http://host/Dir/Page0.html"));
    EXPECT_TRUE(seen.Contains("http://HOST/Dir/Page0.html"));

    // Emptied again and again, as a run starting many Projects does: each fill holds exactly
    // its own addresses, whether the list was small, grew, or began with a long address.
    for (int round = 0; round < 6; ++round) {
        seen.Clear();
        const int count = round % 2 ? 3000 : 20;  // beyond the first index size, or within it
        if (round == 4) {
            ASSERT_TRUE(seen.Insert(huge + std::to_string(round)));
        }
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(seen.Insert("http://h/r" + std::to_string(round) + "/" + std::to_string(i)));
        EXPECT_EQ(seen.Size(), static_cast<std::size_t>(count + (round == 4)));
        EXPECT_TRUE(seen.Contains("http://h/r" + std::to_string(round) + "/" + std::to_string(count - 1)));
        EXPECT_FALSE(seen.Contains("http://h/r" + std::to_string(round - 1) + "/0"));
        EXPECT_FALSE(seen.Contains("http://host/Dir/Page0.html"));
        EXPECT_EQ(seen.Contains(huge + "4"), round == 4);
    }
}

}  // namespace
}  // namespace qm
