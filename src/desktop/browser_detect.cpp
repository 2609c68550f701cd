// Browser detection and the default browser.
#include "desktop/browser_detect.h"
#include "store/trim.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/launch.h"
#include "platform/registry.h"
#include "store/string_list.h"

namespace fs = std::filesystem;

namespace qm::desktop {

namespace {

constexpr std::size_t kMaxTextBytes = 64 * 1024;

std::vector<std::string> SplitList(const char* value, const char* fallback) {
    std::string text = value && *value ? value : fallback;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsExecutableFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(kMaxTextBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// The lines of text, at most its first 64 KiB.
std::vector<std::string> Lines(std::string_view text) { return store::SplitLines(text.substr(0, kMaxTextBytes)); }

// The first word of an "Exec" value: quoted (with backslash escapes) or up to a blank; an
// "env NAME=value ..." prefix is skipped.
std::string ExecProgram(const std::string& exec) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size() && words.size() < 16) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) ++i;
        if (i >= exec.size()) break;
        std::string word;
        if (exec[i] == '"') {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
                word += exec[i];
            }
            ++i;
        } else {
            while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') word += exec[i++];
        }
        words.push_back(word);
    }
    std::size_t w = 0;
    if (w < words.size() && words[w] == "env") {
        ++w;
        while (w < words.size() && words[w].find('=') != std::string::npos) ++w;
    }
    return w < words.size() ? words[w] : std::string();
}

// Adding found browsers: one entry per program file.
class Collector {
public:
    Collector(std::vector<ToolEntry>& list) : list_(list) {}
    bool Add(const std::string& caption, const std::string& file) {
        // Only absolute paths: a relative one would depend on the current folder.
        if (file.empty() || file[0] != '/' || !IsFile(file)) return false;
        std::error_code ec;
        fs::path real = fs::weakly_canonical(file, ec);
        for (const ToolEntry& e : list_) {
            if (e.program == file) return false;
            std::error_code ec2;
            if (!ec && !e.program.empty() && fs::weakly_canonical(e.program, ec2) == real && !ec2) return false;
        }
        list_.push_back({caption, file, true});
        ++added_;
        return true;
    }
    int Added() const { return added_; }

private:
    std::vector<ToolEntry>& list_;
    int added_ = 0;
};

// The registry's classes: the current user's first, then the machine's.
std::string ClassesValue(platform::Registry& reg, const std::string& path, const std::string& name) {
    for (platform::Hive hive : {platform::Hive::CurrentUser, platform::Hive::LocalMachine}) {
        platform::RegKey key = reg.OpenKey(hive, "Software\\Classes\\" + path, false);
        std::string value;
        if (key && key.ReadString(name, value)) return value;
    }
    return {};
}

std::string JoinPath(const std::string& folder, const std::string& rest) {
    if (folder.empty()) return rest;
    return folder.back() == '/' || folder.back() == '\\' ? folder + rest : folder + "/" + rest;
}

void RegistryBrowsers(platform::Registry& reg, Collector& found) {
    std::string icon = ClassesValue(reg, "CLSID\\{FBF23B42-E3F0-101B-8488-00AA003E56F8}\\DefaultIcon", "");
    found.Add("MS Internet Explorer", store::Trim(icon.substr(0, icon.find(','))));

    std::string dir;
    platform::RegKey user =
        reg.OpenKey(platform::Hive::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Main", false);
    if (user && user.ReadString("Install Directory", dir) && !dir.empty())
        found.Add("Netscape Navigator", JoinPath(dir, "Program/netscape.exe"));
    platform::RegKey machine =
        reg.OpenKey(platform::Hive::LocalMachine, "Software\\Netscape\\Netscape Navigator", false);
    if (!machine) return;
    for (const std::string& version : machine.SubKeys()) {
        platform::RegKey main = machine.OpenKey(version + "\\Main", false);
        if (main && main.ReadString("Install Directory", dir) && !dir.empty())
            found.Add("Netscape Communicator " + version, JoinPath(dir, "Program/netscape.exe"));
    }
}

void SettingsFileBrowsers(const std::string& windowsDir, Collector& found) {
    std::error_code ec;
    if (windowsDir.empty() || windowsDir.size() >= 1000 || !fs::is_directory(windowsDir, ec)) return;
    std::string mosaic = JoinPath(windowsDir, "airmos.ini");
    if (IsFile(mosaic)) {
        std::string hotlist = IniValue(ReadSmallFile(mosaic), "Hotlists", "Hotlist 0");
        if (hotlist.size() >= 6) {
            // Every "data\" names the folder before it as a candidate, the last one first.
            bool done = false;
            for (std::size_t at = hotlist.size(); !done && at > 0;) {
                std::size_t hit = hotlist.rfind("data", at - 1);
                if (hit == std::string::npos || hit == 0) break;
                at = hit;
                if (hit + 4 >= hotlist.size() || (hotlist[hit + 4] != '\\' && hotlist[hit + 4] != '/')) continue;
                std::string folder = hotlist.substr(0, hit);
                for (const char* exe : {"bin/airmos.exe", "bin/airmosd.exe"}) {
                    std::string file = JoinPath(folder, exe);
                    if (!IsFile(file)) continue;
                    found.Add("Spry Mosaic", file);
                    done = true;
                    break;
                }
            }
        }
    }
    std::string opera = JoinPath(windowsDir, "opera.ini");
    if (IsFile(opera)) {
        std::string dir = IniValue(ReadSmallFile(opera), "USER PREFS", "Opera Directory");
        if (!dir.empty()) found.Add("Opera", JoinPath(dir, "opera.exe"));
    }
}

// Browsers installed as programs of these names, in this order.
struct KnownBrowser {
    const char* caption;
    const char* program;
};
constexpr KnownBrowser kKnownBrowsers[] = {
    {"Firefox", "firefox"},
    {"Firefox ESR", "firefox-esr"},
    {"Chromium", "chromium"},
    {"Chromium", "chromium-browser"},
    {"Google Chrome", "google-chrome"},
    {"Epiphany", "epiphany-browser"},
    {"Epiphany", "epiphany"},
    {"Konqueror", "konqueror"},
    {"Falkon", "falkon"},
    {"Midori", "midori"},
    {"Opera", "opera"},
    {"Vivaldi", "vivaldi"},
    {"Brave", "brave-browser"},
    {"qutebrowser", "qutebrowser"},
    {"SeaMonkey", "seamonkey"},
    {"Dillo", "dillo"},
    {"NetSurf", "netsurf-gtk"},
};

std::vector<fs::path> DesktopFiles(const std::vector<std::string>& dirs) {
    std::vector<fs::path> files;
    std::vector<std::string> seen;  // an entry in an earlier folder hides one of the same name
    for (const std::string& dir : dirs) {
        std::error_code ec;
        std::vector<fs::path> here;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() != ".desktop") continue;
            here.push_back(it->path());
            if (here.size() >= 4096) break;
        }
        std::sort(here.begin(), here.end());
        for (const fs::path& p : here) {
            std::string id = p.filename().string();
            if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
            seen.push_back(id);
            files.push_back(p);
        }
    }
    return files;
}

}  // namespace

BrowserSources SystemBrowserSources(platform::Registry* registry) {
    BrowserSources s;
    s.registry = registry;
    s.pathDirs = SplitList(std::getenv("PATH"), "/usr/local/bin:/usr/bin:/bin");
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome)
        s.desktopDirs.push_back(std::string(dataHome) + "/applications");
    else if (home && *home)
        s.desktopDirs.push_back(std::string(home) + "/.local/share/applications");
    for (const std::string& d : SplitList(std::getenv("XDG_DATA_DIRS"), "/usr/local/share:/usr/share"))
        s.desktopDirs.push_back(d + "/applications");
    return s;
}

DesktopEntry ParseDesktopEntry(std::string_view text) {
    DesktopEntry e;
    bool inEntry = false;
    for (const std::string& raw : Lines(text)) {
        std::string line = store::Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = store::Trim(std::string_view(line).substr(0, eq));
        std::string value = store::Trim(std::string_view(line).substr(eq + 1));
        if (key == "Name")
            e.name = value;
        else if (key == "Exec")
            e.exec = ExecProgram(value);
        else if (key == "Type")
            e.application = value == "Application";
        else if (key == "Hidden")
            e.hidden = value == "true";
        else if (key == "Categories")
            e.webBrowser = (";" + value + ";").find(";WebBrowser;") != std::string::npos;
    }
    return e;
}

std::string IniValue(std::string_view text, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (const std::string& raw : Lines(text)) {
        std::string line = store::Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            inSection = close != std::string::npos &&
                        store::CompareNoCase(store::Trim(line.substr(1, close - 1)), section) == 0;
            continue;
        }
        std::size_t eq = line.find('=');
        if (inSection && eq != std::string::npos && store::CompareNoCase(store::Trim(line.substr(0, eq)), key) == 0)
            return store::Trim(line.substr(eq + 1));
    }
    return {};
}

std::string FindExecutable(const std::string& program, const std::vector<std::string>& pathDirs) {
    if (program.empty()) return {};
    if (program.find('/') != std::string::npos) return IsExecutableFile(program) ? program : std::string();
    for (const std::string& dir : pathDirs) {
        std::string file = JoinPath(dir, program);
        if (IsExecutableFile(file)) return file;
    }
    return {};
}

int DetectBrowsers(std::vector<ToolEntry>& list, const BrowserSources& sources) {
    Collector found(list);
    if (sources.registry) RegistryBrowsers(*sources.registry, found);
    SettingsFileBrowsers(sources.windowsDir, found);
    for (const KnownBrowser& b : kKnownBrowsers) found.Add(b.caption, FindExecutable(b.program, sources.pathDirs));
    for (const fs::path& file : DesktopFiles(sources.desktopDirs)) {
        DesktopEntry e = ParseDesktopEntry(ReadSmallFile(file.string()));
        if (!e.application || !e.webBrowser || e.hidden) continue;
        std::string program = FindExecutable(e.exec, sources.pathDirs);
        found.Add(e.name.empty() ? file.stem().string() : e.name, program);
    }
    return found.Added();
}

std::string RegistryBrowserCommand(platform::Registry& reg) {
    std::string command;
    for (const char* ext : {".htm", ".html", ".shtml", ".shtm", ".stm"}) {
        std::string fileClass = ClassesValue(reg, ext, "");
        if (!fileClass.empty()) command = ClassesValue(reg, fileClass + "\\shell\\open\\command", "");
        if (command.empty()) command = ClassesValue(reg, std::string(ext) + "\\shell\\open\\command", "");
        if (!command.empty()) break;
    }
    std::string out;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (command[i] == '%')
            ++i;  // "%" and the character after it
        else
            out += command[i];
    }
    return out;
}

std::string DefaultBrowserProgram(const BrowserSources& sources) {
    std::string settings = FindExecutable("xdg-settings", sources.pathDirs);
    std::string answer;
    if (!settings.empty() && platform::RunForOutput(settings, {"get", "default-web-browser"}, answer)) {
        std::string id = store::Trim(answer);
        // A desktop file id is a plain file name.
        if (!id.empty() && id.find('/') == std::string::npos && id != "." && id != "..") {
            for (const std::string& dir : sources.desktopDirs) {
                std::string file = JoinPath(dir, id);
                if (!IsFile(file)) continue;
                DesktopEntry e = ParseDesktopEntry(ReadSmallFile(file));
                std::string program = FindExecutable(e.exec, sources.pathDirs);
                if (!program.empty()) return program;
                break;
            }
        }
    }
    // A default-browser command in the registry (an imported registry file): its double
    // quotes removed and cut after ".exe", used when it names a program that exists.
    if (sources.registry) {
        std::string command;
        for (char c : RegistryBrowserCommand(*sources.registry))
            if (c != '"') command += c;
        std::size_t exe = store::LowerCase(command).find(".exe");
        if (exe != std::string::npos) command.resize(exe + 4);
        command = store::Trim(command);
        if (!command.empty() && command[0] == '/' && IsExecutableFile(command)) return command;
    }
    return FindExecutable("xdg-open", sources.pathDirs);
}

}  // namespace qm::desktop
