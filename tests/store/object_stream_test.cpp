// The object stream: line format, key lookup, reading rules, type codes and sections.
#include <gtest/gtest.h>

#include "platform/clipboard.h"
#include "store/folder.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "support/peers.h"

namespace qm {
namespace {

// A class that reads its keys into a log, to look at what the stream hands over.
class Probe : public store::StreamObject {
public:
    std::vector<std::string> keys;
    std::vector<std::string> values;
    void Load(store::ObjectStream& s) override {
        for (const auto& k : keys) values.push_back(s.ReadStr(k));
    }
};

std::string WriteFile(const std::string& text) {
    std::string dir = test::MakeTempDir("stream");
    std::string path = dir + "/s.txt";
    test::WriteFile(path, text);
    return path;
}

TEST(ObjectStream, KeyLookupRules) {
    std::string path = WriteFile(
        "Stream 1.1 File\r\nCount=3\r\n[Object]\r\nType=32767\r\n"
        "URL=http://h/a?x=1&y=2\r\nPad=  lead and trail  \t\x01\r\nTwice=first\r\nTwice=second\r\n"
        "NoEquals\r\n key=spaced key\r\nEmpty=\r\n");
    store::ObjectStream s(path, false);
    EXPECT_EQ(s.Count(), 3);
    EXPECT_FALSE(s.End());
    std::unique_ptr<store::StreamObject> obj = std::make_unique<Probe>();
    auto* probe = static_cast<Probe*>(obj.get());
    probe->keys = {"URL", "Pad", "Twice", "NoEquals", "key", " key", "Empty", "Missing"};
    ASSERT_TRUE(s.ReadObject(obj));
    EXPECT_EQ(probe->values[0], "http://h/a?x=1&y=2");
    EXPECT_EQ(probe->values[1], "  lead and trail");
    EXPECT_EQ(probe->values[2], "first");
    EXPECT_EQ(probe->values[3], "");
    EXPECT_EQ(probe->values[4], "");
    EXPECT_EQ(probe->values[5], "spaced key");
    EXPECT_EQ(probe->values[6], "");
    EXPECT_EQ(probe->values[7], "");
    EXPECT_TRUE(s.End());
}

class Reads : public store::StreamObject {
public:
    int i = -1, neg = -1, missing = -1;
    bool t = false, lower = true, other = true;
    std::int64_t comp = -1;
    void Load(store::ObjectStream& s) override {
        i = s.ReadInt("I");
        neg = s.ReadLong("Neg");
        missing = s.ReadInt("Nope");
        t = s.ReadBool("T");
        lower = s.ReadBool("L");
        other = s.ReadBool("O");
        comp = s.ReadComp("C");
    }
};

TEST(ObjectStream, TypedReads) {
    std::string path =
        WriteFile("Stream 1.1 File\nCount=0\n[Object]\nI=42\nNeg=-7\nT=True\nL=true\nO=1\nC=12345678901.6\n");
    store::ObjectStream s(path, false);
    std::unique_ptr<store::StreamObject> obj = std::make_unique<Reads>();
    ASSERT_TRUE(s.ReadObject(obj));
    auto& r = static_cast<Reads&>(*obj);
    EXPECT_EQ(r.i, 42);
    EXPECT_EQ(r.neg, -7);
    EXPECT_EQ(r.missing, 0);
    EXPECT_TRUE(r.t);
    EXPECT_FALSE(r.lower);
    EXPECT_FALSE(r.other);
    EXPECT_EQ(r.comp, 12345678902);
}

TEST(ObjectStream, ConversionErrorEndsThatReadOnly) {
    std::string path = WriteFile(
        "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=1\r\nText=A\r\nLevl=zero\r\n"
        "[Object]\r\nType=1\r\nText=B\r\n");
    store::TypedStream s(path, false);
    std::unique_ptr<store::StreamObject> obj;
    EXPECT_FALSE(s.ReadObject(obj));
    EXPECT_EQ(obj, nullptr);
    EXPECT_TRUE(s.Failed());
    EXPECT_NE(s.Error().find("zero"), std::string::npos);
    ASSERT_TRUE(s.ReadObject(obj));
    ASSERT_NE(dynamic_cast<store::ProjectFolder*>(obj.get()), nullptr);
    EXPECT_EQ(static_cast<store::ProjectFolder&>(*obj).Caption, "B");
}

TEST(ObjectStream, TypeCodesCreateObjectsAndSkipUnknown) {
    std::string path = WriteFile(
        "Stream 1.1 File\r\nCount=0\r\n"
        "[Object]\r\nType=7\r\nText=skipped\r\n"
        "[Object]\r\nType=1\r\nText=F\r\n"
        "[Object]\r\nType=0\r\nCaption=P0\r\n"
        "[Object]\r\nType=32767\r\nCaption=P1\r\n"
        "[Object]\r\nType=65535\r\n"
        "[Object]\r\nCaption=NoType\r\n");
    store::TypedStream s(path, false);
    std::vector<std::string> seen;
    while (!s.End()) {
        std::unique_ptr<store::StreamObject> obj;
        ASSERT_TRUE(s.ReadObject(obj));
        if (!obj)
            seen.push_back("none");
        else if (auto* f = dynamic_cast<store::ProjectFolder*>(obj.get()))
            seen.push_back("folder " + f->Caption);
        else if (auto* p = dynamic_cast<store::Project*>(obj.get()))
            seen.push_back("project " + p->Caption);
        else
            seen.push_back("bare");
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{"none", "folder F", "project P0", "project P1", "bare", "project NoType"}));
}

TEST(ObjectStream, HeaderOnlyAndNoObjects) {
    {
        store::TypedStream s(WriteFile("Stream 1.1 File\r\nCount=0\r\n"), false);
        EXPECT_TRUE(s.End());
        std::unique_ptr<store::StreamObject> obj;
        EXPECT_FALSE(s.ReadObject(obj));
    }
    {
        // A file that ends with the "[Object]" line: the empty object after it is never read.
        store::TypedStream s(WriteFile("Stream 1.1 File\r\nCount=0\r\n[Object]\r\n"), false);
        EXPECT_TRUE(s.End());
    }
}

TEST(ObjectStream, OverlongSectionKeepsItsFirstLinesAndTheNextObject) {
    std::string text = "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nType=1\r\n";
    for (int i = 0; i < 5000; ++i) text += "K" + std::to_string(i) + "=v\r\n";
    text += "Text=late\r\n[Object]\r\nType=1\r\nText=next\r\n";
    store::TypedStream s(WriteFile(text), false);
    std::unique_ptr<store::StreamObject> obj;
    ASSERT_TRUE(s.ReadObject(obj));
    EXPECT_EQ(static_cast<store::ProjectFolder&>(*obj).Caption, "");  // beyond the section's room
    obj.reset();
    ASSERT_TRUE(s.ReadObject(obj));
    EXPECT_EQ(static_cast<store::ProjectFolder&>(*obj).Caption, "next");
}

TEST(ObjectStream, WritesLinesWithCrLfAndTypeCodes) {
    std::string dir = test::MakeTempDir("streamw");
    std::string path = dir + "/w.txt";
    {
        store::TypedStream s(path, true);
        s.WriteCount(5);
        store::ProjectFolder f;
        f.Caption = "Sites";
        s.WriteObject(f);
        store::StreamObject bare;
        s.WriteObject(bare);
        s.WriteInt("I", -12);
        s.WriteBool("B", true);
        s.WriteBool("C", false);
        s.WriteComp("Z", 123456789012345LL);
        ASSERT_TRUE(s.Close());
    }
    EXPECT_EQ(test::ReadFile(path),
              "Stream 1.1 File\r\nCount=5\r\n[Object]\r\nType=1\r\nText=Sites\r\nLevl=0\r\nDir=\r\n"
              "[Object]\r\nType=32767\r\nI=-12\r\nB=True\r\nC=False\r\nZ=123456789012345\r\n");
    {
        store::ObjectStream s(path, true);
        store::ProjectFolder f;
        s.WriteObject(f);  // the base stream always names 32767
    }
    EXPECT_EQ(test::ReadFile(path), "Stream 1.1 File\r\n[Object]\r\nType=32767\r\nText=\r\nLevl=0\r\nDir=\r\n");
}

TEST(ObjectStream, RegisteredTypeIsCreatedAndNamed) {
    struct Rec : store::StreamObject {
        std::string url;
        void Load(store::ObjectStream& s) override { url = s.ReadStr("URL"); }
        void Save(store::ObjectStream& s) override { s.WriteStr("URL", url); }
    };
    store::RegisterStreamType(2, [] { return std::unique_ptr<store::StreamObject>(new Rec()); });
    std::string path = test::MakeTempDir("streamreg") + "/q.txt";
    {
        store::TypedStream s(path, true);
        s.WriteCount(1);
        Rec r;
        r.url = "http://x/";
        s.WriteObject(r);
    }
    EXPECT_NE(test::ReadFile(path).find("[Object]\r\nType=2\r\nURL=http://x/\r\n"), std::string::npos);
    store::TypedStream s(path, false);
    EXPECT_EQ(s.Count(), 1);
    std::unique_ptr<store::StreamObject> obj;
    ASSERT_TRUE(s.ReadObject(obj));
    auto* rec = dynamic_cast<Rec*>(obj.get());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->url, "http://x/");
}

TEST(ObjectStream, StreamFilesAreOwnerOnly) {
    std::string path = test::MakeTempDir("streammode") + "/m.txt";
    { store::TypedStream s(path, true); }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

class Dates : public store::StreamObject {
public:
    double value = -1;
    void Load(store::ObjectStream& s) override { value = s.ReadDateTime("D"); }
};

TEST(ObjectStream, DateTimeInTheLocaleFormat) {
    std::string path = test::MakeTempDir("streamdt") + "/d.txt";
    {
        store::TypedStream s(path, true);
        s.WriteObject(*std::make_unique<store::StreamObject>());
        s.WriteDateTime("D", 45292.5);  // 1 January 2024, 12:00:00
    }
    const std::string text = test::ReadFile(path);
    EXPECT_NE(text.find("D=01/01/24 12:00:00\r\n"), std::string::npos) << text;
    store::ObjectStream s(path, false);
    std::unique_ptr<store::StreamObject> obj = std::make_unique<Dates>();
    ASSERT_TRUE(s.ReadObject(obj));
    EXPECT_DOUBLE_EQ(static_cast<Dates&>(*obj).value, 45292.5);
    std::string bad = test::MakeTempDir("streamdt2") + "/d.txt";
    test::WriteFile(bad, "Stream 1.1 File\r\nCount=0\r\n[Object]\r\nD=soon\r\n");
    store::ObjectStream b(bad, false);
    obj = std::make_unique<Dates>();
    EXPECT_FALSE(b.ReadObject(obj));
}

TEST(ClipboardStream, RoundTripWithoutHeaderAndLimit) {
    platform::MemoryClipboard clip;
    platform::SetSystemClipboard(&clip);
    {
        store::ClipboardStream s(true);
        store::ProjectFolder f;
        f.Caption = "C";
        s.WriteObject(f);
    }
    EXPECT_EQ(clip.Text(), "[Object]\r\nType=1\r\nText=C\r\nLevl=0\r\nDir=\r\n");
    {
        store::ClipboardStream s(false);
        std::unique_ptr<store::StreamObject> obj;
        ASSERT_TRUE(s.ReadObject(obj));
        EXPECT_EQ(static_cast<store::ProjectFolder&>(*obj).Caption, "C");
        EXPECT_TRUE(s.End());
    }
    // Text past the clipboard buffer is not seen: the key line is cut inside its value.
    std::string big = "[Object]\r\nType=1\r\nText=" + std::string(70000, 'a') + "\r\n";
    clip.SetText(big);
    {
        store::ClipboardStream s(false);
        std::unique_ptr<store::StreamObject> obj;
        ASSERT_TRUE(s.ReadObject(obj));
        EXPECT_EQ(static_cast<store::ProjectFolder&>(*obj).Caption.size(),
                  store::ClipboardStream::kClipboardLimit - 1 - 23);
    }
    platform::SetSystemClipboard(nullptr);
}

TEST(Encodings, LineBreaksDatesAndNumbers) {
    EXPECT_EQ(store::EncodeLineBreaks("a\r\nb\n"),
              "a\x02\x01"
              "b\x01");
    EXPECT_EQ(store::DecodeLineBreaks("a\x02\x01"
                                      "b"),
              "a\r\nb");
    EXPECT_EQ(store::EncodeByteDumpDate(0.0), "0:0:0:0:0:0:0:0:");
    EXPECT_EQ(store::EncodeByteDumpDate(1.0), "0:0:0:0:0:0:240:63:");
    EXPECT_EQ(store::DecodeByteDumpDate("0:0:0:0:0:0:240:63:"), 1.0);
    EXPECT_EQ(store::DecodeByteDumpDate(""), 0.0);
    // Parts that are no numbers give 0; parts beyond eight are ignored.
    EXPECT_EQ(store::DecodeByteDumpDate("0:0:0:0:0:0:240:63:99:98:97:1:2:3"), 1.0);
    EXPECT_EQ(store::DecodeByteDumpDate("x:0:0:0:0:0:240:63"), 1.0);
    EXPECT_EQ(store::DecodeByteDumpDate("0:0:0:0:0:0:240:127:"), 0.0);  // infinite
    EXPECT_EQ(store::DecodeByteDumpDate("1:0:0:0:0:0:248:127:"), 0.0);  // not a number
    EXPECT_EQ(store::DecodeByteDumpDate("0:0:0:0:0:0:240:127"), 0.0);
    EXPECT_EQ(store::DecodeByteDumpDate("0:0:0:0:0:0:89:67:"), 0.0);  // far beyond the year 9999
    const double t = 45000.123456;
    EXPECT_EQ(store::DecodeByteDumpDate(store::EncodeByteDumpDate(t)), t);
    std::int32_t v;
    EXPECT_TRUE(store::ParseDecimal("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_FALSE(store::ParseDecimal("2147483648", v));
    EXPECT_FALSE(store::ParseDecimal("12a", v));
    EXPECT_FALSE(store::ParseDecimal("", v));
    EXPECT_FALSE(store::ParseDecimal("-", v));
}

}  // namespace
}  // namespace qm
