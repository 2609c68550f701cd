#include "store/options_store.h"

#include "store/defaults_project.h"
#include "store/object_stream.h"
#include "store/string_list.h"

namespace qm::store {

using platform::Hive;
using platform::RegKey;

RegKey OpenOptionsKeyForLoad(platform::Registry& registry) {
    if (RegKey k = registry.OpenKey(Hive::CurrentUser, kOptionsKeyPath, false)) return k;
    if (RegKey k = registry.OpenKey(Hive::CurrentUser, kAmbrelKeyPath, false)) return k;
    if (RegKey k = registry.OpenKey(Hive::LocalMachine, kVelloranKeyPath, false)) return k;
    return registry.OpenKey(Hive::CurrentUser, kOptionsKeyPath, true);
}

RegKey OpenOptionsKeyForSave(platform::Registry& registry) {
    return registry.OpenKey(Hive::CurrentUser, kOptionsKeyPath, true);
}

std::string EncodeLetterPairs(const std::string& plain) {
    std::string out(1, '\x01');
    for (unsigned char c : plain) {
        out += static_cast<char>('A' + (c & 15));
        out += static_cast<char>('A' + (c >> 4));
    }
    return out;
}

std::string DecodeLetterPairs(const std::string& stored) {
    std::string out;
    std::size_t i = 0;
    while (i < stored.size()) {
        unsigned char lo = static_cast<unsigned char>(stored[i]);
        if (lo < 'A') {
            ++i;
            continue;
        }
        unsigned char hi = i + 1 < stored.size() ? static_cast<unsigned char>(stored[i + 1]) : 'A';
        out += static_cast<char>(((lo - 'A') & 15) | (((hi - 'A') & 15) << 4));
        i += 2;
    }
    return out;
}

namespace {
struct OptionsIO {
    RegKey& key;
    std::vector<std::string>* warnings;

    void Warn(const std::string& name, const char* kind) {
        if (warnings) warnings->push_back("registry value " + name + " is not " + kind + "; the current value is kept");
    }
    void Str(const char* name, std::string& v) {
        if (!key.ValueExists(name)) return key.WriteString(name, v);
        if (!key.ReadString(name, v)) Warn(name, "a text");
    }
    void Int(const char* name, int& v) {
        if (!key.ValueExists(name)) return key.WriteInt(name, v);
        std::int32_t n;
        if (key.ReadInt(name, n))
            v = n;
        else
            Warn(name, "an integer");
    }
    void Bool(const char* name, bool& v) {
        if (!key.ValueExists(name)) return key.WriteInt(name, v ? 1 : 0);
        std::int32_t n;
        if (key.ReadInt(name, n))
            v = n != 0;
        else
            Warn(name, "an integer");
    }
    void Secret(const char* name, std::string& v) {
        if (!key.ValueExists(name)) return key.WriteString(name, EncodeLetterPairs(v));
        std::string s;
        if (!key.ReadString(name, s)) return Warn(name, "a text");
        v = (!s.empty() && s[0] == '\x01') ? DecodeLetterPairs(s) : s;
    }
};
}  // namespace

void LoadOptions(ProgramOptions& o, RegKey& key, Project& defaults, std::vector<std::string>* warnings) {
    OptionsIO io{key, warnings};
    io.Str("PathPrefix", o.PathPrefix);
    if (o.PathPrefix.empty()) o.PathPrefix = DefaultDownloadFolder();
    if (key.ValueExists("URLPrefix")) {
        std::string s;
        if (key.ReadString("URLPrefix", s))
            o.URLPrefix = LowerCase(s);
        else
            io.Warn("URLPrefix", "a text");
    }
    if (!key.ValueExists("UseLog")) {
        // A fresh program folder starts with the log on, so that a new user sees what
        // happens; every line of every received block would bury the rest, so the
        // progress filter starts off there. A registry that has the values keeps them.
        o.UseLog = true;
        if (!key.ValueExists("FProgress")) o.FProgress = false;
    }
    io.Bool("UseLog", o.UseLog);
    io.Bool("UseProxy", o.UseProxy);
    io.Int("ProxyType", o.ProxyType);
    io.Int("TimeOut", o.TimeOut);
    io.Str("ProxyAddr", o.ProxyAddr);
    if (o.ProxyAddr.size() > 50) o.ProxyAddr.resize(50);
    io.Int("ProxyPort", o.ProxyPort);
    io.Int("HTTPCount", o.HTTPCount);
    io.Str("DefaultDoc", o.DefaultDoc);
    if (o.DefaultDoc.size() > 30) o.DefaultDoc.resize(30);
    if (o.DefaultDoc.empty()) o.DefaultDoc = "default.htm";
    io.Int("OnDrop", o.OnDrop);
    io.Bool("AcceptDrop", o.AcceptDrop);
    io.Bool("SysTray", o.SysTray);
    io.Secret("HTTPUser", o.HTTPUser);
    io.Secret("HTTPPass", o.HTTPPass);
    io.Str("UAgent", o.UAgent);
    io.Int("Pause", o.Pause);
    io.Int("HTTPPort", o.HTTPPort);
    io.Bool("HTTPStart", o.HTTPStart);
    io.Bool("TrackLog", o.TrackLog);
    io.Bool("FConnect", o.FConnect);
    io.Bool("FProgress", o.FProgress);
    io.Bool("FDisconnect", o.FDisconnect);
    io.Bool("LogClear", o.LogClear);
    io.Int("LogLimit", o.LogLimit);
    if (o.LogLimit == 0) o.LogLimit = 5000;
    io.Str("EntryName", o.EntryName);
    io.Bool("AConnect", o.AConnect);
    io.Bool("ADisconn", o.ADisconn);
    io.Int("ADiscTime", o.ADiscTime);
    io.Int("Retries", o.Retries);
    if (key.ValueExists("Retry")) {
        std::int32_t r;
        if (key.ReadInt("Retry", r))
            o.Retries = r != 0 ? 0 : 1;
        else
            io.Warn("Retry", "an integer");
        key.DeleteValue("Retry");
    }
    io.Int("ConnRetries", o.ConnRetries);
    io.Int("Priority", o.Priority);
    if (o.Priority < 1 || o.Priority > 5) o.Priority = 2;
    io.Bool("LowMemory", o.LowMemory);
    io.Int("DiskSpace", o.DiskSpace);
    if (key.ValueExists("DDs")) {
        std::string s;
        if (key.ReadString("DDs", s))
            o.DDs.SetText(s);
        else
            io.Warn("DDs", "a text");
    } else {
        key.WriteString("DDs", o.DDs.Text());
    }
    o.DDs.Add(o.PathPrefix);
    io.Bool("FtpPassive", o.FtpPassive);
    io.Bool("SSLAnyCert", o.SSLAnyCert);
    io.Bool("ExtLast", o.ExtLast);
    io.Bool("KeepAlive", o.KeepAlive);
    io.Str("BookmarksFile", o.BookmarksFile);
    if (o.UseProxy && o.ProxyType == 0) o.ProxyType = 1;
    LoadDefaultsProject(defaults, key, warnings);
}

const std::vector<OptionName>& OptionNames() {
    static const std::vector<OptionName> names = {
        {"PathPrefix", false, false}, {"UseLog", true, true},     {"UseProxy", true, true},
        {"ProxyType", true, false},   {"TimeOut", true, false},   {"ProxyAddr", false, false},
        {"ProxyPort", true, false},   {"HTTPCount", true, false}, {"DefaultDoc", false, false},
        {"OnDrop", true, false},      {"AcceptDrop", true, true}, {"SysTray", true, true},
        {"HTTPUser", false, false},   {"HTTPPass", false, false}, {"UAgent", false, false},
        {"Pause", true, false},       {"HTTPPort", true, false},  {"HTTPStart", true, true},
        {"FConnect", true, true},     {"FProgress", true, true},  {"FDisconnect", true, true},
        {"TrackLog", true, true},     {"LogClear", true, true},   {"LogLimit", true, false},
        {"EntryName", false, false},  {"AConnect", true, true},   {"ADisconn", true, true},
        {"ADiscTime", true, false},   {"Retries", true, false},   {"ConnRetries", true, false},
        {"Priority", true, false},    {"LowMemory", true, true},  {"DiskSpace", true, false},
        {"DDs", false, false},        {"FtpPassive", true, true}, {"SSLAnyCert", true, true},
        {"ExtLast", true, true},      {"KeepAlive", true, true},  {"BookmarksFile", false, false},
    };
    return names;
}

std::vector<OptionValue> OptionValues(const ProgramOptions& o) {
    auto I = [](const char* n, int v) { return OptionValue{n, true, std::to_string(v)}; };
    auto B = [](const char* n, bool v) { return OptionValue{n, true, v ? "1" : "0"}; };
    auto S = [](const char* n, const std::string& v) { return OptionValue{n, false, v}; };
    return {
        S("PathPrefix", o.PathPrefix), B("UseLog", o.UseLog),         B("UseProxy", o.UseProxy),
        I("ProxyType", o.ProxyType),   I("TimeOut", o.TimeOut),       S("ProxyAddr", o.ProxyAddr),
        I("ProxyPort", o.ProxyPort),   I("HTTPCount", o.HTTPCount),   S("DefaultDoc", o.DefaultDoc),
        I("OnDrop", o.OnDrop),         B("AcceptDrop", o.AcceptDrop), B("SysTray", o.SysTray),
        S("HTTPUser", o.HTTPUser),     S("HTTPPass", o.HTTPPass),     S("UAgent", o.UAgent),
        I("Pause", o.Pause),           I("HTTPPort", o.HTTPPort),     B("HTTPStart", o.HTTPStart),
        B("FConnect", o.FConnect),     B("FProgress", o.FProgress),   B("FDisconnect", o.FDisconnect),
        B("TrackLog", o.TrackLog),     B("LogClear", o.LogClear),     I("LogLimit", o.LogLimit),
        S("EntryName", o.EntryName),   B("AConnect", o.AConnect),     B("ADisconn", o.ADisconn),
        I("ADiscTime", o.ADiscTime),   I("Retries", o.Retries),       I("ConnRetries", o.ConnRetries),
        I("Priority", o.Priority),     B("LowMemory", o.LowMemory),   I("DiskSpace", o.DiskSpace),
        S("DDs", o.DDs.Text()),        B("FtpPassive", o.FtpPassive), B("SSLAnyCert", o.SSLAnyCert),
        B("ExtLast", o.ExtLast),       B("KeepAlive", o.KeepAlive),   S("BookmarksFile", o.BookmarksFile),
    };
}

void SaveOptions(const ProgramOptions& o, RegKey& key, const Project& defaults) {
    for (const OptionValue& v : OptionValues(o)) {
        if (v.isInteger)
            key.WriteInt(v.name, LenientInt(v.text));
        else if (v.name == "HTTPUser" || v.name == "HTTPPass")
            key.WriteString(v.name, EncodeLetterPairs(v.text));
        else
            key.WriteString(v.name, v.text);
    }
    SaveDefaultsProject(defaults, key);
}

std::string WithProxyBypass(const std::string& value) {
    static const std::string local = "127.0.0.1";
    if (value.empty()) return local;
    std::size_t at = value.find(local);
    if (at == std::string::npos) return value + "\r\n" + local;
    std::size_t after = at + local.size();
    if (after < value.size()) {
        char c = value[after];
        if (c != '\r' && c != '\n' && c != ';') return value + "\r\n" + local;
    }
    return value;
}

void EnsureProxyBypass(platform::Registry& registry) {
    RegKey settings = registry.OpenKey(Hive::CurrentUser, kInternetSettingsPath, false);
    if (!settings) return;
    auto fix = [](RegKey& k) {
        std::string v;
        if (!k.ValueExists("ProxyOverride"))
            v.clear();
        else if (!k.ReadString("ProxyOverride", v))
            return;
        k.WriteString("ProxyOverride", WithProxyBypass(v));
    };
    fix(settings);
    if (RegKey lan = settings.OpenKey("LAN", false)) fix(lan);
}

}  // namespace qm::store
