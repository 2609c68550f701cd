#pragma once
// A Project (Project): one start address with the settings of its download, its statistics
// and the engine's run counters.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "store/file_category.h"
#include "store/streamable.h"
#include "store/string_list.h"

namespace qm::store {

class ProjectFolder;

// What changed in a Project while it downloads.
enum class ProjectChange {
    Counters = 1,       // queued, done or processing counts
    Finished = 2,       // nothing is queued or in processing any more
    BytesReceived = 4,  // body bytes arrived
};

class Project : public TreeItem {
public:
    Project();  // kind 102, empty strings, zero numbers, LastStart = now, extensions of the Defaults Project
    void Load(ObjectStream& stream) override;
    void Save(ObjectStream& stream) override;
    void Assign(const Project& source);

    // Stored settings; the field names are the stream keys.
    int IID = 0;
    std::string URL;
    std::string Img;  // "Yes" or "No"
    int Lev = 0;
    std::string Srv;  // "Yes" or "No"
    std::string User;
    std::string Psw;
    bool ThisWay = false;
    int When = 0, Hour = 0, Minute = 0, Weekday = 0, Day = 0, Month = 0;
    bool LimBSize = false, LimBTSize = false, LimBNumber = false;
    int LimSize = 0, LimTSize = 0, LimNumber = 0;
    bool EnableScript = false, EnableJava = false;
    double LastStart = 0;  // days since 30 December 1899
    double LastEnd = 0;
    bool SrvImg = false;
    int FMGroup = 0, FM3Lev = 0;
    bool LTranslate = false;  // true: do not translate links
    bool Once = false;
    int pswMethod = 0;
    std::array<FileCategory, kCategoryCount> Categories{};
    int RSrvsBx = 0;
    std::string RSrvsIn, RSrvsEx;  // keyword lists as list text
    int RPathBx = 0;
    std::string RPathIn, RPathEx;
    int RFileBx = 0;
    std::string RFileIn, RFileEx;
    int S200 = 0, S304 = 0, S400 = 0, SErr = 0, SAbr = 0;
    // Refuse paths that repeat themselves and endless query strings ("CrawlTraps", stored
    // after the other keys; a stream without it means on).
    bool CrawlTraps = true;
    // Append every exchange of a run to the Project's web archive ("WebArchive", stored after
    // "CrawlTraps"; a stream without it means off).
    bool WebArchive = false;
    // Obey the servers' robots.txt and pages' "nofollow" robots tags ("Robots", stored after
    // "WebArchive"; a stream without it means off, the Defaults Project starts new ones on).
    bool Robots = false;
    // The most requests a second to one server; 0: no limit ("PerSecond").
    int PerSecond = 0;
    // Read the start server's sitemaps as link sources ("Sitemaps").
    bool Sitemaps = false;
    // A log-in form posted once at the start of each run ("LoginURL"), with its fields as
    // name=value lines ("LoginFields"); empty: no log-in.
    std::string LoginURL;
    std::string LoginFields;
    // Also open each stored page in a browser engine to catch what its scripts load
    // ("RenderPages", stored after "LoginFields"; a stream without it means off).
    bool RenderPages = false;

    // Runtime state, never stored.
    std::string StatusText;
    ProjectFolder* Folder = nullptr;  // the folder that holds the Project in the tree
    int QueuedCount = 0;
    int DoneCount = 0;
    std::int64_t ReceivedBytes = 0;
    int ProcessingCount = 0;
    std::string StateText;
    std::string ProgressText;
    // value: the bytes received for ProjectChange::BytesReceived, else 0.
    std::function<void(Project& sender, ProjectChange change, std::int64_t value)> OnProjectChange;

    // The site map: the stored files of the Project, kept in "<IID>.map" in the program folder.
    SortedStringList& SiteMap();  // loaded on first use
    void MarkSiteMapModified() { siteMapModified_ = true; }
    bool SiteMapModified() const { return siteMapModified_; }
    void ClearSiteMapModified() { siteMapModified_ = false; }
    // Writes the site map to its file now (under a temporary name, then renamed over it);
    // false with error when it cannot be written. The modified mark is left to the caller.
    bool SaveSiteMap(std::string& error);
    // The site map's file and its text as SaveSiteMap writes them (for saving many at once).
    std::string SiteMapFileName() const;
    std::string SiteMapText() { return SiteMap().Text(); }
    // Deletes the site map file (when the Project is deleted) and empties the site map.
    void RemoveSiteMapFile();

private:
    SortedStringList siteMap_{true};
    bool siteMapLoaded_ = false;
    bool siteMapModified_ = false;
};

}  // namespace qm::store
