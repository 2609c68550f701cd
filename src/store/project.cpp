#include "store/project.h"

#include <algorithm>
#include <filesystem>

#include "platform/program_folder.h"
#include "platform/registry.h"
#include "store/defaults_project.h"
#include "store/object_stream.h"
#include "store/ui_messages.h"

namespace qm::store {

namespace {
bool& DefaultsExist() {
    static bool exists = false;
    return exists;
}

const char* const kBuiltInExts[kCategoryCount] = {
    // New Projects also know today's kinds of each category (after the older ones).
    ("html\r\nhtm\r\nasp\r\nstm\r\nstml\r\nidc\r\nshtml\r\nhtx\r\ntxt\r\ntext\r\njs\r\nxsp\r\nrxml"
     "\r\ncss\r\njson\r\nxml\r\nxhtml\r\nmjs"),
    "gif\r\njpg\r\njpeg\r\ntif\r\ntiff\r\nxbm\r\nfif\r\nbmp\r\npng\r\nwebp\r\nsvg\r\navif\r\nico",
    "mpg\r\navi\r\nani\r\nmpeg\r\nmp4\r\nwebm\r\nmov\r\nmkv",
    "wav\r\nriff\r\nmp3\r\nmid\r\nmp2\r\nogg\r\noga\r\nopus\r\nflac\r\nm4a\r\naac",
    "zip\r\narc\r\ngz\r\nz\r\narj\r\nlha\r\nlay\r\nlei\r\nrar\r\ncab\r\n7z\r\nxz\r\nbz2\r\nzst\r\ntar\r\ntgz",
    "",
    "",
};

// The first six categories have extension lists.
constexpr int kExtCategories = 6;

std::string FlagString(const FileCategory& c) {
    std::string s;
    for (bool f : c.Flags) s += f ? 'x' : 'o';
    return s;
}

void ReadFlagString(const std::string& s, FileCategory& c) {
    for (std::size_t i = 0; i < c.Flags.size(); ++i) c.Flags[i] = i < s.size() && s[i] == 'x';
}

std::string SizesText(const std::array<FileCategory, kCategoryCount>& cats) {
    std::string s;
    for (int i = 0; i < kCategoryCount; ++i) {
        if (i) s += ',';
        s += std::to_string(cats[i].MaxSize);
        s += ',';
        s += std::to_string(cats[i].MinSize);
    }
    return s;
}

void ReadSizes(const std::string& text, std::array<FileCategory, kCategoryCount>& cats) {
    std::string rest = text;
    for (int i = 0; i < kCategoryCount * 2; ++i) {
        std::size_t comma = rest.find(',');
        std::string piece = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        int v = LenientInt(piece);
        if (i % 2 == 0)
            cats[i / 2].MaxSize = v;
        else
            cats[i / 2].MinSize = v;
    }
}

std::string MapFileName(int iid) { return platform::ProgramFile(std::to_string(iid) + ".map"); }
}  // namespace

std::string LimitCaption(const std::string& caption) {
    if (caption.size() > 50) return caption.substr(0, 47) + "...";
    return caption;
}

Project::Project() {
    Kind = kKindProject;
    LastStart = NowDateTime();
    if (DefaultsExist()) {
        const Project& d = DefaultsProject();
        for (int i = 0; i < kCategoryCount; ++i) Categories[i].Exts = d.Categories[i].Exts;
    }
}

void Project::Save(ObjectStream& s) {
    s.WriteInt("IID", IID);
    s.WriteStr("Caption", Caption);
    s.WriteStr("URL", URL);
    s.WriteStr("Img", Img);
    s.WriteInt("Lev", Lev);
    s.WriteStr("Srv", Srv);
    s.WriteInt("When", When);
    s.WriteInt("Hour", Hour);
    s.WriteInt("Minute", Minute);
    s.WriteInt("Weekday", Weekday);
    s.WriteInt("Day", Day);
    s.WriteInt("Month", Month);
    s.WriteStr("User", User);
    s.WriteStr("Psw", Psw);
    s.WriteBool("ThisWay", ThisWay);
    s.WriteBool("LimBSize", LimBSize);
    s.WriteBool("LimBTSize", LimBTSize);
    s.WriteBool("LimBNumber", LimBNumber);
    s.WriteInt("LimSize", LimSize);
    s.WriteInt("LimTSize", LimTSize);
    s.WriteInt("LimNumber", LimNumber);
    s.WriteBool("EnableScript", EnableScript);
    s.WriteBool("EnableJava", EnableJava);
    s.WriteInt("SrvImg", SrvImg ? 1 : 2);
    s.WriteInt("FMGroup", FMGroup);
    s.WriteInt("FM3Lev", FM3Lev);
    s.WriteBool("LTranslate", LTranslate);
    s.WriteBool("Once", Once);
    s.WriteInt("pswMethod", pswMethod);
    for (int i = 0; i < kExtCategories; ++i)
        s.WriteStr(std::string(kCategoryKeys[i]) + ".Exts", EncodeLineBreaks(Categories[i].Exts));
    for (int i = 0; i < kCategoryCount; ++i)
        s.WriteStr(std::string(kCategoryKeys[i]) + ".B", FlagString(Categories[i]));
    s.WriteStr("FTSizes", SizesText(Categories));
    s.WriteInt("RSrvsBx", RSrvsBx);
    s.WriteStr("RSrvsIn", EncodeLineBreaks(RSrvsIn));
    s.WriteStr("RSrvsEx", EncodeLineBreaks(RSrvsEx));
    s.WriteInt("RPathBx", RPathBx);
    s.WriteStr("RPathIn", EncodeLineBreaks(RPathIn));
    s.WriteStr("RPathEx", EncodeLineBreaks(RPathEx));
    s.WriteInt("RFileBx", RFileBx);
    s.WriteStr("RFileIn", EncodeLineBreaks(RFileIn));
    s.WriteStr("RFileEx", EncodeLineBreaks(RFileEx));
    s.WriteStr("LastStart", EncodeByteDumpDate(LastStart));
    s.WriteStr("LastEnd", EncodeByteDumpDate(LastEnd));
    s.WriteInt("S200", S200);
    s.WriteInt("S304", S304);
    s.WriteInt("S400", S400);
    s.WriteInt("SErr", SErr);
    s.WriteInt("SAbr", SAbr);
    s.WriteBool("CrawlTraps", CrawlTraps);
    s.WriteBool("WebArchive", WebArchive);
    s.WriteBool("Robots", Robots);
    s.WriteInt("PerSecond", PerSecond);
    s.WriteBool("Sitemaps", Sitemaps);
    s.WriteStr("LoginURL", LoginURL);
    s.WriteStr("LoginFields", EncodeLineBreaks(LoginFields));
    s.WriteBool("RenderPages", RenderPages);
    // The mark is only cleared once the file is written: a failed write is tried again.
    if (siteMapModified_) {
        std::string error;
        if (SaveSiteMap(error)) siteMapModified_ = false;
    }
}

void Project::Load(ObjectStream& s) {
    IID = s.ReadInt("IID");
    Caption = LimitCaption(s.ReadStr("Caption"));
    URL = s.ReadStr("URL");
    if (Caption.empty()) Caption = URL;
    Img = s.ReadStr("Img");
    Lev = s.ReadInt("Lev");
    Srv = s.ReadStr("Srv");
    if (Srv.empty()) Srv = "Yes";
    StatusText = UIMessage(store::UIText::Ready);
    When = s.ReadInt("When");
    Hour = s.ReadInt("Hour");
    Minute = s.ReadInt("Minute");
    Weekday = s.ReadInt("Weekday");
    Day = s.ReadInt("Day");
    Month = s.ReadInt("Month");
    User = s.ReadStr("User");
    Psw = s.ReadStr("Psw");
    ThisWay = s.ReadBool("ThisWay");
    LimBSize = s.ReadBool("LimBSize");
    LimBTSize = s.ReadBool("LimBTSize");
    LimBNumber = s.ReadBool("LimBNumber");
    LimSize = s.ReadInt("LimSize");
    LimTSize = s.ReadInt("LimTSize");
    LimNumber = s.ReadInt("LimNumber");
    EnableScript = s.ReadBool("EnableScript");
    EnableJava = s.ReadBool("EnableJava");
    switch (s.ReadInt("SrvImg")) {
    case 0:
    case 1: SrvImg = true; break;
    case 2: SrvImg = false; break;
    default: break;
    }
    FMGroup = s.ReadInt("FMGroup");
    FM3Lev = s.ReadInt("FM3Lev");
    LTranslate = s.ReadBool("LTranslate");
    Once = s.ReadBool("Once");
    if (LimSize == 0) LimSize = 1000;
    if (LimTSize == 0) LimTSize = 10000;
    if (LimNumber == 0) LimNumber = 5000;
    pswMethod = s.ReadInt("pswMethod");
    if (s.HasKey("FTText.Exts")) {
        for (int i = 0; i < kExtCategories; ++i)
            Categories[i].Exts = DecodeLineBreaks(s.ReadStr(std::string(kCategoryKeys[i]) + ".Exts"));
        for (int i = 0; i < kCategoryCount; ++i)
            ReadFlagString(s.ReadStr(std::string(kCategoryKeys[i]) + ".B"), Categories[i]);
        ReadSizes(s.ReadStr("FTSizes"), Categories);
    }
    RSrvsBx = s.ReadInt("RSrvsBx");
    RSrvsIn = DecodeLineBreaks(s.ReadStr("RSrvsIn"));
    RSrvsEx = DecodeLineBreaks(s.ReadStr("RSrvsEx"));
    RPathBx = s.ReadInt("RPathBx");
    RPathIn = DecodeLineBreaks(s.ReadStr("RPathIn"));
    RPathEx = DecodeLineBreaks(s.ReadStr("RPathEx"));
    RFileBx = s.ReadInt("RFileBx");
    RFileIn = DecodeLineBreaks(s.ReadStr("RFileIn"));
    RFileEx = DecodeLineBreaks(s.ReadStr("RFileEx"));
    LastStart = DecodeByteDumpDate(s.ReadStr("LastStart"));
    LastEnd = DecodeByteDumpDate(s.ReadStr("LastEnd"));
    S200 = s.ReadInt("S200");
    S304 = s.ReadInt("S304");
    S400 = s.ReadInt("S400");
    SErr = s.ReadInt("SErr");
    SAbr = s.ReadInt("SAbr");
    CrawlTraps = !s.HasKey("CrawlTraps") || s.ReadBool("CrawlTraps");
    WebArchive = s.HasKey("WebArchive") && s.ReadBool("WebArchive");
    Robots = s.HasKey("Robots") && s.ReadBool("Robots");
    PerSecond = s.HasKey("PerSecond") ? std::max(0, s.ReadInt("PerSecond")) : 0;
    Sitemaps = s.HasKey("Sitemaps") && s.ReadBool("Sitemaps");
    LoginURL = s.HasKey("LoginURL") ? s.ReadStr("LoginURL") : std::string();
    LoginFields = s.HasKey("LoginFields") ? DecodeLineBreaks(s.ReadStr("LoginFields")) : std::string();
    RenderPages = s.HasKey("RenderPages") && s.ReadBool("RenderPages");
}

void Project::Assign(const Project& src) {
    if (&src == this) return;
    Caption = src.Caption;
    IID = src.IID;
    URL = src.URL;
    Img = src.Img;
    Srv = src.Srv;
    Lev = src.Lev;
    User = src.User;
    Psw = src.Psw;
    ThisWay = src.ThisWay;
    When = src.When;
    Hour = src.Hour;
    Minute = src.Minute;
    Weekday = src.Weekday;
    Day = src.Day;
    Month = src.Month;
    StatusText = src.StatusText;
    LimBSize = src.LimBSize;
    LimBTSize = src.LimBTSize;
    LimBNumber = src.LimBNumber;
    LimSize = src.LimSize;
    LimTSize = src.LimTSize;
    LimNumber = src.LimNumber;
    EnableScript = src.EnableScript;
    EnableJava = src.EnableJava;
    LastStart = src.LastStart;
    SrvImg = src.SrvImg;
    FMGroup = src.FMGroup;
    FM3Lev = src.FM3Lev;
    LTranslate = src.LTranslate;
    Once = src.Once;
    pswMethod = src.pswMethod;
    for (int i = 0; i < kCategoryCount; ++i) {
        if (i < kExtCategories) Categories[i].Exts = src.Categories[i].Exts;
        Categories[i].Flags = src.Categories[i].Flags;
        Categories[i].MinSize = src.Categories[i].MinSize;
        Categories[i].MaxSize = src.Categories[i].MaxSize;
    }
    RSrvsBx = src.RSrvsBx;
    RSrvsIn = src.RSrvsIn;
    RSrvsEx = src.RSrvsEx;
    RPathBx = src.RPathBx;
    RPathIn = src.RPathIn;
    RPathEx = src.RPathEx;
    RFileBx = src.RFileBx;
    RFileIn = src.RFileIn;
    RFileEx = src.RFileEx;
    CrawlTraps = src.CrawlTraps;
    WebArchive = src.WebArchive;
    Robots = src.Robots;
    PerSecond = src.PerSecond;
    Sitemaps = src.Sitemaps;
    LoginURL = src.LoginURL;
    LoginFields = src.LoginFields;
    RenderPages = src.RenderPages;
}

SortedStringList& Project::SiteMap() {
    if (!siteMapLoaded_) {
        siteMapLoaded_ = true;
        std::string text, error;
        const std::string name = MapFileName(IID);
        std::error_code ec;
        if (std::filesystem::exists(name, ec) && platform::ReadWholeFile(name, text, error)) {
            // Merge with anything added before the first use.
            SortedStringList loaded(true);
            loaded.SetText(text);
            for (const auto& item : siteMap_.Items()) loaded.Add(item);
            siteMap_ = std::move(loaded);
        }
    }
    return siteMap_;
}

bool Project::SaveSiteMap(std::string& error) {
    return platform::WriteFileAtomic(MapFileName(IID), SiteMap().Text(), false, error);
}

std::string Project::SiteMapFileName() const { return MapFileName(IID); }

void Project::RemoveSiteMapFile() {
    std::error_code ec;
    std::filesystem::remove(MapFileName(IID), ec);
    siteMap_.Clear();
    siteMapLoaded_ = true;
    siteMapModified_ = false;
}

// ---- the Defaults Project ----

Project& DefaultsProject() {
    static Project* defaults = [] {
        auto* d = new Project();
        ResetToBuiltInDefaults(*d);
        DefaultsExist() = true;
        return d;
    }();
    return *defaults;
}

void ResetToBuiltInDefaults(Project& p) {
    Project fresh;
    p.Assign(fresh);
    p.Caption.clear();
    p.IID = 0;
    p.URL = "http://";
    p.Img = "Yes";
    p.Lev = 1;
    p.Srv = "No";
    // New Projects keep to their starting server unless the user widens it.
    p.RSrvsBx = 1;
    p.LimSize = 1000;
    p.LimTSize = 10000;
    p.LimNumber = 5000;
    p.EnableScript = true;
    p.EnableJava = true;
    p.SrvImg = true;
    p.Robots = true;
    p.LastEnd = 0;
    p.S200 = p.S304 = p.S400 = p.SErr = p.SAbr = 0;
    for (int i = 0; i < kCategoryCount; ++i) {
        p.Categories[i] = FileCategory{};
        p.Categories[i].Exts = kBuiltInExts[i];
    }
}

namespace {
// One registry value of the Defaults Project, loaded or written with its default.
struct DefaultsIO {
    platform::RegKey& key;
    bool loading;
    std::vector<std::string>* warnings;

    void Warn(const std::string& name, const char* kind) {
        if (warnings)
            warnings->push_back("registry value Defaults\\" + name + " is not " + kind + "; the default is kept");
    }
    void Str(const std::string& name, std::string& v) {
        if (!loading) return key.WriteString(name, v);
        if (!key.ValueExists(name)) return key.WriteString(name, v);
        if (!key.ReadString(name, v)) Warn(name, "a text");
    }
    void Int(const std::string& name, int& v) {
        if (!loading) return key.WriteInt(name, v);
        if (!key.ValueExists(name)) return key.WriteInt(name, v);
        std::int32_t n;
        if (key.ReadInt(name, n))
            v = n;
        else
            Warn(name, "an integer");
    }
    void Bool(const std::string& name, bool& v) {
        int n = v ? 1 : 0;
        if (!loading) return key.WriteInt(name, n);
        if (!key.ValueExists(name)) return key.WriteInt(name, n);
        std::int32_t r;
        if (key.ReadInt(name, r))
            v = r != 0;
        else
            Warn(name, "an integer");
    }
};

void DefaultsValues(Project& p, DefaultsIO& io) {
    io.Str("Img", p.Img);
    if (io.loading && io.key.ValueExists("Lev") && io.key.Type("Lev") != platform::ValueType::Integer) {
        std::string text;
        std::int32_t n;
        if (io.key.ReadString("Lev", text) && ParseDecimal(text, n)) p.Lev = n;
    } else {
        io.Int("Lev", p.Lev);
    }
    io.Str("Srv", p.Srv);
    io.Int("When", p.When);
    io.Int("Hour", p.Hour);
    io.Int("Minute", p.Minute);
    io.Int("Weekday", p.Weekday);
    io.Int("Day", p.Day);
    io.Int("Month", p.Month);
    io.Str("Usr", p.User);
    io.Str("Psw", p.Psw);
    io.Bool("ThisWay", p.ThisWay);
    io.Bool("LimBSize", p.LimBSize);
    io.Bool("LimBTSize", p.LimBTSize);
    io.Bool("LimBNumber", p.LimBNumber);
    io.Int("LimSize", p.LimSize);
    io.Int("LimTSize", p.LimTSize);
    io.Int("LimNumber", p.LimNumber);
    io.Bool("EnableScript", p.EnableScript);
    io.Bool("EnableJava", p.EnableJava);
    io.Bool("SrvImg", p.SrvImg);
    io.Int("FMGroup", p.FMGroup);
    io.Int("FM3Lev", p.FM3Lev);
    io.Bool("LTranslate", p.LTranslate);
    io.Bool("Once", p.Once);
    io.Int("pswMethod", p.pswMethod);
    for (int i = 0; i < kExtCategories; ++i) io.Str(std::string(kCategoryKeys[i]) + ".Exts", p.Categories[i].Exts);
    for (int i = 0; i < kCategoryCount; ++i) {
        std::string flags = FlagString(p.Categories[i]);
        io.Str(std::string(kCategoryKeys[i]) + ".B", flags);
        if (io.loading) ReadFlagString(flags, p.Categories[i]);
    }
    std::string sizes = SizesText(p.Categories);
    io.Str("FTSizes", sizes);
    if (io.loading) ReadSizes(sizes, p.Categories);
    io.Int("RSrvsBx", p.RSrvsBx);
    io.Str("RSrvsIn", p.RSrvsIn);
    io.Str("RSrvsEx", p.RSrvsEx);
    io.Int("RPathBx", p.RPathBx);
    io.Str("RPathIn", p.RPathIn);
    io.Str("RPathEx", p.RPathEx);
    io.Int("RFileBx", p.RFileBx);
    io.Str("RFileIn", p.RFileIn);
    io.Str("RFileEx", p.RFileEx);
    io.Bool("CrawlTraps", p.CrawlTraps);
    io.Bool("WebArchive", p.WebArchive);
    io.Bool("Robots", p.Robots);
    io.Int("PerSecond", p.PerSecond);
    io.Bool("Sitemaps", p.Sitemaps);
    io.Str("LoginURL", p.LoginURL);
    io.Str("LoginFields", p.LoginFields);
    io.Bool("RenderPages", p.RenderPages);
}
}  // namespace

void LoadDefaultsProject(Project& project, platform::RegKey& optionsKey, std::vector<std::string>* warnings) {
    ResetToBuiltInDefaults(project);
    platform::RegKey key = optionsKey.OpenKey("Defaults", true);
    DefaultsIO io{key, true, warnings};
    DefaultsValues(project, io);
    project.URL = "http://";
}

void SaveDefaultsProject(const Project& project, platform::RegKey& optionsKey) {
    platform::RegKey key = optionsKey.OpenKey("Defaults", true);
    DefaultsIO io{key, false, nullptr};
    DefaultsValues(const_cast<Project&>(project), io);
}

}  // namespace qm::store
