// Project settings as text, through the object stream the store uses.
#include "app/project_settings.h"

#include <cstdio>
#include <memory>

#include "engine/local_path.h"
#include "platform/program_folder.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "store/string_list.h"

namespace qm::app {

namespace {

std::string Shown(const std::string& stored) {
    std::string out;
    for (char c : stored) {
        if (c == '\x01')
            out += "\\n";
        else if (c == '\x02')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Stored(const std::string& shown) {
    std::string out;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\' && i + 1 < shown.size() && (shown[i + 1] == 'n' || shown[i + 1] == 'r')) {
            out += shown[i + 1] == 'n' ? '\x01' : '\x02';
            ++i;
        } else if (shown[i] == '\n' || shown[i] == '\r') {
            out += shown[i] == '\n' ? '\x01' : '\x02';
        } else {
            out += shown[i];
        }
    }
    return out;
}

// The key lines of the Project's section in the store's form.
bool SavedLines(store::Project& project, std::vector<std::string>& lines, std::string& error) {
    const std::string file = engine::CreateTemporaryFile();
    if (file.empty()) {
        error = "no temporary file could be created";
        return false;
    }
    bool ok = false;
    {
        store::TypedStream out(file, true);
        out.WriteCount(1);
        out.WriteObject(project);
        ok = out.Close();
        if (!ok) error = out.Error();
    }
    std::string text;
    if (ok) ok = platform::ReadWholeFile(file, text, error);
    std::remove(file.c_str());
    if (!ok) return false;
    bool inObject = false;
    for (const std::string& line : store::SplitLines(text)) {
        if (line == "[Object]") {
            inObject = true;
            continue;
        }
        if (inObject && line.rfind("Type=", 0) != 0) lines.push_back(line);
    }
    return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ProjectSettings(store::Project& project) {
    std::vector<std::string> lines;
    std::string error;
    std::vector<std::pair<std::string, std::string>> out;
    if (!SavedLines(project, lines, error)) return out;
    for (const std::string& line : lines) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        out.emplace_back(line.substr(0, eq), Shown(line.substr(eq + 1)));
    }
    return out;
}

bool SetProjectSettings(store::Project& project, const std::vector<std::string>& assignments, std::string& error) {
    std::vector<std::string> lines;
    if (!SavedLines(project, lines, error)) return false;
    for (const std::string& a : assignments) {
        const std::size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "expected KEY=VALUE, got '" + a + "'";
            return false;
        }
        const std::string key = a.substr(0, eq);
        if (store::CompareNoCase(key, "IID") == 0) {
            error = "the identifier IID cannot be changed";
            return false;
        }
        bool found = false;
        for (std::string& line : lines) {
            const std::size_t leq = line.find('=');
            if (leq != std::string::npos && store::CompareNoCase(line.substr(0, leq), key) == 0) {
                std::string value = Stored(a.substr(eq + 1));
                const std::string old = line.substr(leq + 1);
                // The store reads anything but "True" as False: a yes/no setting takes only
                // a value that says which.
                if (old == "True" || old == "False") {
                    const std::string lower = store::LowerCase(value);
                    if (lower == "true" || lower == "1")
                        value = "True";
                    else if (lower == "false" || lower == "0")
                        value = "False";
                    else {
                        error = "bad value: \"" + value + "\" is not True or False for \"" + line.substr(0, leq) + "\"";
                        return false;
                    }
                }
                line = line.substr(0, leq) + "=" + value;
                found = true;
                break;
            }
        }
        if (!found) {
            error = "unknown key '" + key + "'";
            return false;
        }
    }
    // Read the changed section back exactly as the store reads a Project.
    std::string text = "Stream 1.1 File\r\nCount=1\r\n[Object]\r\nType=0\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
    const std::string file = engine::CreateTemporaryFile();
    if (file.empty() || !platform::WriteFileAtomic(file, text, true, error)) {
        if (error.empty()) error = "no temporary file could be created";
        if (!file.empty()) std::remove(file.c_str());
        return false;
    }
    std::unique_ptr<store::StreamObject> object = std::make_unique<store::Project>();
    bool ok = false;
    {
        store::ObjectStream in(file, false);
        ok = !in.Failed() && in.ReadObject(object);
        if (!ok) {
            // The stream names its scratch file and line; the user only needs the value.
            error = in.Error();
            const std::size_t at = error.find(": \"");
            error = "bad value" + (at == std::string::npos ? ": " + error : error.substr(at));
        }
    }
    std::remove(file.c_str());
    auto* loaded = dynamic_cast<store::Project*>(object.get());
    if (!ok || !loaded) return false;
    const int iid = project.IID;
    project.Assign(*loaded);
    project.IID = iid;
    return true;
}

}  // namespace qm::app
