#include "server/pages.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>

#include "server/page_text.h"
#include "server/responses.h"
#include "store/folder.h"
#include "store/project.h"
#include "store/project_tree.h"

namespace qm::server {

namespace {

std::string StyleHead() {
    std::string s;
    s += "<html><head><title>";
    s += ProgramTitle();
    s += "</title></head><style>\r\n";
    s += "body    { background : white; color : black; margin: 0 }\r\n";
    s += "body    { font-family: Verdana, Arial Cyr, sans-serif; font-size: 8pt; line-height: 12pt }\r\n";
    s += "table   { font-family: Verdana, Arial Cyr, sans-serif; font-size: 8pt; line-height: 12pt }\r\n";
    s += "div.Offscreen     { display:none }\r\n";
    s += "span.Offscreen    { display:none }\r\n";
    s += "span.BulletNumber { font-size: x-large; font-weight: bold; color: #66ccff }\r\n";
    s += "span.BulletText   { font-size: x-small; font-weight: bold; letter-spacing: -1pt; text-align:center}\r\n";
    s += "</style>\r\n<body LINK=#4E4E4E VLINK=#4E4E4E>\r\n";
    return s;
}

const char kTitleFont[] =
    "<font style=\"font-size: 14pt; font-family: Verdana, Arial, sans-serif; color: #4E4E4E;  line-height: 14pt\" >";

void AppendFooter(std::string& page, const char* opening) {
    page += opening;
    page += ProgramTitle();
    page += "</b>";
    page +=
        " - offline copies of web sites, kept on this computer. Questions and reports: "
        "<a href=\"mailto:quillmoor@localhost\">quillmoor@localhost</a>";
    page += "</i></font></body></html>";
}

const char kOutlineScript[][64] = {
    "<script language=JavaScript>\r\n",
    "function clickHandler() {\r\n",
    "  var targetId, srcElement, targetElement;\r\n",
    "  srcElement = window.event.srcElement;\r\n",
    "  if (srcElement.className == \"Outline\") {\r\n",
    "    targetId = srcElement.id + \"details\";\r\n",
    "    targetElement = document.all(targetId);\r\n",
    "    if (targetElement.style.display == \"none\") {\r\n",
    "    targetElement.style.display = \"\";\r\n",
    " } else {\r\n",
    "    targetElement.style.display = \"none\";\r\n",
    " }\r\n",
    "}\r\n",
    "}\r\n",
    "document.onclick = clickHandler;\r\n</script>",
};

}  // namespace

const std::string& ProgramTitle() {
    static const std::string title = "Quillmoor 1.0";
    return title;
}

std::string DateTimeText(double value) {
    if (!std::isfinite(value) || std::fabs(value) > 3e6) return std::string();
    const double days = std::floor(value);
    std::time_t secs = static_cast<std::time_t>((days - 25569.0) * 86400.0);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    long s = std::lround((value - days) * 86400.0);
    if (s >= 86400) s = 86399;
    tm.tm_hour = static_cast<int>(s / 3600);
    tm.tm_min = static_cast<int>(s / 60 % 60);
    tm.tm_sec = static_cast<int>(s % 60);
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &tm);
    return std::string(buffer, n);
}

std::string BuildIndexPage(const store::ProjectTree& tree) {
    std::string page = StyleHead();
    page += "<div style=\"position:relative; left:10; top:10; width:90%; height=+30px;\" id=DivRule>";
    page += kTitleFont;
    page += ProgramTitle();
    page += "</font></div>\r\n";
    page += "<div id=Out0 style=\"position:relative; left:20; top:+5px; width:90%;\" >";
    // Node indices count every node of the tree view: each folder, then its Projects.
    std::size_t index = 0;
    for (const auto& folder : tree.Folders) {
        if (!folder) continue;
        const std::string i = std::to_string(index);
        page += "\r\n<span id=Out" + i +
                " class=Outline style=\"cursor: hand; \"><img src=\"/folder.gif\"> </span><u id=Out" + i +
                " class=Outline style=\"cursor: hand; \">";
        page += CaptionText(folder->Caption);
        page += "</u><div id=Out" + i + "details style=\"display:None; position:relative; left:16;\">\r\n";
        for (const auto& project : folder->Children) {
            if (!project) continue;
            page += "<img src=/start.gif border=0><a href=\"/?exec/" + std::to_string(project->IID) + "\">";
            page += CaptionText(project->Caption);
            page += "</a><br>\r\n";
        }
        page += "</div><br>\r\n";
        index += 1 + folder->Children.size();
    }
    for (const char* piece : kOutlineScript) page += piece;
    AppendFooter(page, "\r\n<hr><font size=-2><i><b>");
    return page;
}

std::string BuildProjectPage(const store::ProjectTree& tree, int projectNumber) {
    std::string page = StyleHead();
    page += kTitleFont;
    page += ProgramTitle();
    page += "</font>\r\n";
    const store::ProjectFolder* folder = nullptr;
    const store::Project* project = nullptr;
    for (const auto& f : tree.Folders) {
        if (!f) continue;
        for (const auto& p : f->Children)
            if (p && p->IID == projectNumber) {
                folder = f.get();
                project = p.get();
                break;
            }
        if (project) break;
    }
    if (project) {
        // Shown to any browser of this machine: the address without its user name and password.
        const std::string url = HtmlText(WithoutCredentials(project->URL));
        const std::string plainUrl = WithoutCredentials(project->URL);
        page += "<p><b>Project name:</b> <a href=\"";
        page += CaptionText(folder->Caption);
        page += "/";
        page += plainUrl.size() > 7 ? HtmlText(plainUrl.substr(7)) : std::string();
        page += "\">";
        page += CaptionText(project->Caption);
        page += "</a><br>\r\n<b>Original URL:</b> <a href=\"" + url + "\">" + url + "</a><p>\r\n";
        if (project->LastStart == 0) {
            page += "<b>Project was not downloaded.</b><p>";
        } else {
            page += "<b>Download last time started:</b> " + DateTimeText(project->LastStart) + "<br>";
            if (project->LastEnd > project->LastStart)
                page += "<b>Finished:</b> " + DateTimeText(project->LastEnd) + ".<p>";
            else
                page += "<b>Still downloading...</b><p>";
        }
        page += "<b>Last Download statistics:</b><br><table>";
        auto row = [&page](const char* label, int value) {
            page += "<tr><td><b>";
            page += label;
            page += "</b></td><td> " + std::to_string(value) + "</td></tr>";
        };
        row("Downloaded files:", project->S200);
        row("Not modified:", project->S304);
        row("Not found:", project->S400);
        row("Error while downloading:", project->SErr);
        row("Aborted/Limited:", project->SAbr);
        page += "</table>";
    }
    AppendFooter(page, "\r\n<hr><font size=-2><i><b>");
    return page;
}

std::string BuildDirectoryListing(const std::string& requestPath, const std::string& folderPath) {
    const std::string shownPath = HtmlText(requestPath);
    std::string page = "<html><head><title>" + shownPath + "</title></head><body><h3>Directory of " + shownPath +
                       "</h3><p><hr><table>\r\n";
    if (DIR* dir = ::opendir(folderPath.c_str())) {
        std::string base = folderPath;
        if (!base.empty() && base.back() != '/') base += '/';
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const std::string lowered = Lower(name);
            if (lowered == "." || lowered == "descr.dat" || lowered == "descr.qv3") continue;
            if (lowered.size() >= 8 && lowered.compare(lowered.size() - 8, 8, ".primary") == 0) continue;
            struct stat st {};
            const bool known = ::stat((base + name).c_str(), &st) == 0;
            const bool isFolder = known && S_ISDIR(st.st_mode);
            page += "<tr><td>";
            if (isFolder) {
                page += "<img src=\"";
                page += name == ".." ? "/UpFold.gif" : "/Folder.gif";
                page += "\" valign=middle>";
            }
            page += "</td><td><tt>" + std::to_string(known ? static_cast<long long>(st.st_size) : 0LL) +
                    "</td><td><tt><a href=\"" + HtmlText(name) + "\">" + HtmlText(name) + "</a></td></tr>\r\n";
        }
        ::closedir(dir);
    }
    AppendFooter(page, "</table><hr><font size=-2><i><b>");
    return page;
}

}  // namespace qm::server
