// The options dialog's values and rules.
#include "viewmodels/options_form.h"
#include "store/trim.h"

#include <climits>
#include <cmath>
#include <filesystem>

#include "viewmodels/dialog_values.h"
#include "app/window_state.h"
#include "store/ui_messages.h"

namespace qm::viewmodels {

namespace {
constexpr int kMaxTimeOutSeconds = INT_MAX / 1000;  // milliseconds must fit in 32 bits
const char* const kToolLists[3] = {"Browsers", "Viewers", "Editors"};

}  // namespace

const std::array<UserAgentEntry, 7>& UserAgentEntries() {
    static const std::array<UserAgentEntry, 7> entries{{
        {"Quillmoor 1.0", "Quillmoor/1.0"},
        {"Velloran 3.0", "Velloran/3.0"},
        {"Netscape Navigator 3.0", "Mozilla/3.0Gold (Win95; I)"},
        {"Netscape Communicator 4.0", "Mozilla/4.0 [en] (Win95; I)"},
        {"Microsoft Internet Explorer 3.0", "Mozilla/2.0 (compatible; MSIE 3.0A; Windows 95)"},
        {"Microsoft Internet Explorer 4.0", "Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)"},
        {"Anonymous", ""},
    }};
    return entries;
}

int UserAgentIndex(const std::string& agent) {
    const auto& entries = UserAgentEntries();
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (agent == entries[i].text) return static_cast<int>(i);
    return -1;
}

int TakeBackTimeOut(const std::string& seconds) {
    return Clamp(ReadNumber(seconds, 300), 1, kMaxTimeOutSeconds) * 1000;
}

int TakeBackPort(const std::string& text, int fallback) { return Clamp(ReadNumber(text, fallback), 1, 65535); }

int TakeBackPause(const std::string& seconds) { return Clamp(ReadNumber(seconds, 0), 0, 3600); }

const std::array<const char*, 5>& PriorityEntries() {
    static const std::array<const char*, 5> entries{{"Lowest", "Lower", "Normal", "Higher", "Highest"}};
    return entries;
}

std::string TakeBackDownloadFolder(const std::string& text) {
    std::size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
    if (a == std::string::npos) return store::DefaultDownloadFolder();  // never the file system's root
    std::string folder = text.substr(a, b - a + 1);
    if (folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

std::string FreeSpaceText(const std::string& folder) {
    namespace fs = std::filesystem;
    if (folder.empty() || folder[0] != '/') return {};
    std::error_code ec;
    fs::path p(folder);
    while (!fs::exists(p, ec) && p.has_parent_path() && p.parent_path() != p) p = p.parent_path();
    fs::space_info info = fs::space(p, ec);
    if (ec) return {};
    long long mb = std::llround(static_cast<double>(info.available) / (1024.0 * 1024.0));
    return std::to_string(mb) + " " + store::UIMessage(store::UIText::MegabytesFree);
}

OptionsForm FillOptionsForm(const store::ProgramOptions& o, const app::WindowState& st) {
    OptionsForm f;
    f.connections = std::to_string(o.HTTPCount);
    f.timeOutSeconds = std::to_string(o.TimeOut / 1000);
    f.retries = std::to_string(o.ConnRetries);
    f.httpStart = o.HTTPStart;
    f.port = std::to_string(o.HTTPPort);
    f.proxyType = Clamp(o.ProxyType, 0, 2);
    f.proxyAddr = o.ProxyAddr;
    f.proxyPort = std::to_string(o.ProxyPort);
    f.proxyUser = o.HTTPUser;
    f.proxyPass = o.HTTPPass;
    f.downloadFolder = o.PathPrefix;
    f.diskSpace = std::to_string(o.DiskSpace);
    f.showMode = Clamp(st.Int("ShowMode"), 0, 2);
    f.confirmDel = st.Bool("ConfirmDel");
    f.confirmExit = st.Bool("ConfirmExit");
    f.sysTray = o.SysTray;
    f.splash = st.Bool("Splash Window");
    f.mapMode = Clamp(st.Int("MapMode"), 0, 1);
    f.dblClkAction = Clamp(st.Int("DblClkAction"), 0, 1);
    f.autoSave = st.Bool("bAutoSave");
    f.autoSaveMinutes = std::to_string(st.Int("iAutoSave"));
    int agent = UserAgentIndex(o.UAgent);
    f.agentFromList = agent >= 0;
    f.agentIndex = agent >= 0 ? agent : 0;
    f.agentText = o.UAgent;
    f.bookmarksFile = o.BookmarksFile;
    f.keepAlive = o.KeepAlive;
    f.ftpPassive = o.FtpPassive;
    f.sslAnyCert = o.SSLAnyCert;
    f.extLast = o.ExtLast;
    f.lowMemory = o.LowMemory;
    f.pauseSeconds = std::to_string(o.Pause);
    f.priorityIndex = Clamp(o.Priority, 1, 5) - 1;
    f.browsers = desktop::ParseToolEntries(st.Text(kToolLists[0]));
    f.viewers = desktop::ParseToolEntries(st.Text(kToolLists[1]));
    f.editors = desktop::ParseToolEntries(st.Text(kToolLists[2]));
    return f;
}

OptionsApplied ApplyOptionsForm(const OptionsForm& f, store::ProgramOptions& o, app::WindowState& st) {
    OptionsApplied done;
    o.HTTPCount = Clamp(ReadNumber(f.connections, 10), 1, 100);  // what the connection pool takes
    o.TimeOut = TakeBackTimeOut(f.timeOutSeconds);
    o.ConnRetries = Clamp(ReadNumber(f.retries, 0), 0, 1000000);
    o.HTTPStart = f.httpStart;
    int port = TakeBackPort(f.port, 800);
    done.portChanged = port != o.HTTPPort;
    o.HTTPPort = port;
    o.ProxyType = Clamp(f.proxyType, 0, 2);
    o.ProxyAddr = f.proxyAddr.substr(0, 50);
    o.ProxyPort = TakeBackPort(f.proxyPort, 8080);
    o.HTTPUser = f.proxyUser;
    o.HTTPPass = f.proxyPass;
    std::string folder = TakeBackDownloadFolder(f.downloadFolder);
    done.folderChanged = folder != o.PathPrefix;
    o.PathPrefix = folder;
    o.DiskSpace = Clamp(ReadNumber(f.diskSpace, 5), 0, INT_MAX);
    st.SetInt("ShowMode", Clamp(f.showMode, 0, 2));
    st.SetBool("ConfirmDel", f.confirmDel);
    st.SetBool("ConfirmExit", f.confirmExit);
    o.SysTray = f.sysTray;
    st.SetBool("Splash Window", f.splash);
    st.SetInt("MapMode", Clamp(f.mapMode, 0, 1));
    st.SetInt("DblClkAction", Clamp(f.dblClkAction, 0, 1));
    st.SetBool("bAutoSave", f.autoSave);
    st.SetInt("iAutoSave", Clamp(ReadNumber(f.autoSaveMinutes, 5), 1, 24 * 60));
    const auto& agents = UserAgentEntries();
    if (f.agentFromList)
        o.UAgent = agents[Clamp(f.agentIndex, 0, static_cast<int>(agents.size()) - 1)].text;
    else
        o.UAgent = f.agentText;
    o.BookmarksFile = store::Trim(f.bookmarksFile, store::kSpaceAndTab);
    o.KeepAlive = f.keepAlive;
    o.FtpPassive = f.ftpPassive;
    o.SSLAnyCert = f.sslAnyCert;
    o.ExtLast = f.extLast;
    o.LowMemory = f.lowMemory;
    o.Pause = TakeBackPause(f.pauseSeconds);
    o.Priority = Clamp(f.priorityIndex, 0, 4) + 1;
    st.SetText(kToolLists[0], desktop::FormatToolEntries(f.browsers));
    st.SetText(kToolLists[1], desktop::FormatToolEntries(f.viewers));
    st.SetText(kToolLists[2], desktop::FormatToolEntries(f.editors));
    return done;
}

}  // namespace qm::viewmodels
