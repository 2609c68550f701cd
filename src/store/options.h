#pragma once
// The program options: one record for the whole program, loaded from and saved to the
// registry key of the program (see options_store.h for load and save).
#include <string>

#include "store/string_list.h"

namespace qm::store {

struct ProgramOptions {
    std::string PathPrefix;  // default download folder, ends with the separator
    std::string URLPrefix;   // read (lower-cased), never written
    bool UseProxy = false;
    int ProxyType = 0;      // 0 none, 1 HTTP proxy, 2 SOCKS4
    int TimeOut = 300000;   // milliseconds
    std::string ProxyAddr;  // at most 50 characters
    int ProxyPort = 8080;
    int HTTPCount = 10;
    std::string DefaultDoc;  // at most 30 characters
    int OnDrop = 0;
    bool AcceptDrop = true;
    bool SysTray = false;
    int Pause = 0;  // seconds of delay for each new connection
    bool HTTPStart = true;
    int HTTPPort = 800;
    bool FConnect = true, FProgress = true, FDisconnect = true;
    bool LogClear = false;
    int LogLimit = 5000;
    std::string EntryName;
    bool AConnect = false, ADisconn = false;
    int ADiscTime = 1;
    int Retries = 0;
    bool UseLog = false;
    bool TrackLog = true;
    int ConnRetries = 0;
    int Priority = 2;
    bool LowMemory = true;
    int DiskSpace = 5;     // megabytes
    SortedStringList DDs;  // download folders offered
    // Saved after the options above; the defaults keep stored sites and update runs as they are.
    bool FtpPassive = false;    // FTP data connections passive from the start
    bool SSLAnyCert = false;    // https: accept certificates the system does not trust
    bool ExtLast = false;       // stored names made from a query keep the extension last
    bool KeepAlive = true;      // an answer with a length leaves its connection open for the next
                                // address on the same server
    std::string BookmarksFile;  // a bookmarks HTML file offered in the bookmarks menu
    // Stored beside the record.
    std::string HTTPUser, HTTPPass;  // plain text in memory, letter-pair encoded when stored
    std::string UAgent;

    void Reset();  // the built-in defaults (user agent "Velloran/3.0")
};

// The one options record of the program. Belongs to the main thread; other threads read
// the copies they are given.
ProgramOptions& Options();

// The built-in default download folder: ~/Quillmoor/ as an absolute path with a final "/".
std::string DefaultDownloadFolder();

}  // namespace qm::store
