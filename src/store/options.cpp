#include "store/options.h"

#include "platform/program_folder.h"

namespace qm::store {

std::string DefaultDownloadFolder() {
    std::string home = platform::HomeDirectory();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") return "/Quillmoor/";
    return home + "/Quillmoor/";
}

void ProgramOptions::Reset() {
    PathPrefix = DefaultDownloadFolder();
    URLPrefix.clear();
    UseProxy = false;
    ProxyType = 0;
    TimeOut = 300000;
    ProxyAddr = "192.168.1.1";
    ProxyPort = 8080;
    HTTPCount = 10;
    DefaultDoc = "default.htm";
    OnDrop = 0;
    AcceptDrop = true;
    SysTray = false;
    Pause = 0;
    HTTPStart = true;
    HTTPPort = 800;
    FConnect = FProgress = FDisconnect = true;
    LogClear = false;
    LogLimit = 5000;
    EntryName.clear();
    AConnect = ADisconn = false;
    ADiscTime = 1;
    Retries = 0;
    UseLog = false;
    TrackLog = true;
    ConnRetries = 0;
    Priority = 2;
    LowMemory = true;
    DiskSpace = 5;
    DDs.Clear();
    DDs.Add(PathPrefix);
    FtpPassive = false;
    SSLAnyCert = false;
    ExtLast = false;
    KeepAlive = true;
    BookmarksFile.clear();
    HTTPUser.clear();
    HTTPPass.clear();
    UAgent = "Velloran/3.0";
}

ProgramOptions& Options() {
    static ProgramOptions options = [] {
        ProgramOptions o;
        o.Reset();
        return o;
    }();
    return options;
}

}  // namespace qm::store
