#include "desktop/plugins.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/get_rec.h"
#include "engine/queue_manager.h"
#include "quillmoor/plugin.h"
#include "store/options.h"

namespace qm::desktop {

namespace fs = std::filesystem;

struct Plugins::Host {
    QMPApplication application{};
    QMPQueueManager queue{};
    std::string folder;
    engine::QueueManager* manager = nullptr;
    std::function<void(const std::string&)>* log = nullptr;
    struct Listener {
        QMPStoredFileFn fn;
        void* context;
    };
    std::vector<Listener> listeners;
    bool hooked = false;
};

namespace {

Plugins::Host& HostOf(const QMPApplication* app) { return *static_cast<Plugins::Host*>(app->internal); }
Plugins::Host& HostOf(QMPQueueManager* q) { return *static_cast<Plugins::Host*>(q->internal); }

void Copy(char* to, std::size_t size, const std::string& from) {
    const std::size_t n = std::min(size - 1, from.size());
    std::memcpy(to, from.data(), n);
    to[n] = 0;
}

QMPOptions OptionsCopy(const store::ProgramOptions& o) {
    QMPOptions c{};
    c.http_count = o.HTTPCount;
    c.time_out = o.TimeOut;
    c.use_proxy = o.UseProxy ? 1 : 0;
    c.proxy_type = o.ProxyType;
    c.proxy_port = o.ProxyPort;
    c.http_port = o.HTTPPort;
    c.http_start = o.HTTPStart ? 1 : 0;
    c.retries = o.Retries;
    c.conn_retries = o.ConnRetries;
    c.disk_space = o.DiskSpace;
    Copy(c.path_prefix, sizeof c.path_prefix, o.PathPrefix);
    Copy(c.proxy_addr, sizeof c.proxy_addr, o.ProxyAddr);
    Copy(c.user_agent, sizeof c.user_agent, o.UAgent);
    return c;
}

// Whether a file or folder may be trusted as plug-in code: ours (or root's) and writable by
// nobody else.
bool Trusted(const struct stat& st) {
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return false;
    return st.st_uid == ::geteuid() || st.st_uid == 0;
}

}  // namespace

Plugins::Plugins() : host_(std::make_unique<Host>()) {}

Plugins::~Plugins() {
    Finish();
    // Released first to last, after every plug-in was told to finish.
    for (void* h : handles_) ::dlclose(h);
}

int Plugins::Load(const std::string& programFolder, engine::QueueManager& queue, const store::ProgramOptions& options) {
    Host& h = *host_;
    h.folder = programFolder;
    h.manager = &queue;
    h.log = &OnLog;
    auto log = [this](const std::string& line) {
        if (OnLog) OnLog(line);
    };
    if (programFolder.empty() || programFolder.front() != '/') return 0;
    const std::string dir = programFolder + "/plug-ins";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    if (!Trusted(st)) {
        log("Plug-ins not loaded: other users may write to " + dir);
        return 0;
    }
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) files.push_back(name);
        if (files.size() > 1000) break;
    }
    std::sort(files.begin(), files.end());

    h.application.version = QMP_INTERFACE_VERSION;
    h.application.program_folder = h.folder.c_str();
    h.application.internal = &h;
    h.application.log = [](const QMPApplication* app, const char* line) {
        Host& host = HostOf(app);
        if (line && host.log && *host.log) (*host.log)(std::string(line).substr(0, 1000));
    };
    h.queue.version = QMP_INTERFACE_VERSION;
    h.queue.internal = &h;
    h.queue.on_stored_file = [](QMPQueueManager* q, QMPStoredFileFn fn, void* context) {
        Host& host = HostOf(q);
        if (!fn || !host.manager) return;
        host.listeners.push_back({fn, context});
        if (host.hooked) return;
        host.hooked = true;
        auto before = host.manager->OnItemStored;
        host.manager->OnItemStored = [&host, before](engine::QueueManager& sender, engine::DownloadRecord& record) {
            if (before) before(sender, record);
            for (const Host::Listener& l : host.listeners) l.fn(l.context, record.URL.c_str(), record.FName.c_str());
        };
    };
    h.queue.queue_count = [](QMPQueueManager* q) {
        Host& host = HostOf(q);
        return host.manager ? static_cast<int>(host.manager->QueueCount()) : 0;
    };

    for (const std::string& name : files) {
        const std::string path = dir + "/" + name;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (!Trusted(st)) {
            log("Plug-in " + name + " skipped: other users may write to it");
            continue;
        }
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            log("Plug-in " + name + " could not be loaded" + (why ? std::string(": ") + why : std::string()) +
                "; no further plug-ins loaded");
            break;
        }
        handles_.push_back(handle);
        names_.push_back(name);
        if (auto init = reinterpret_cast<QMPInitFn>(::dlsym(handle, "QMPInit")))
            init(&h.application, &h.queue, OptionsCopy(options));
    }
    return static_cast<int>(handles_.size());
}

void Plugins::Finish() {
    if (finished_) return;
    finished_ = true;
    for (void* handle : handles_)
        if (auto done = reinterpret_cast<QMPDoneFn>(::dlsym(handle, "QMPDone"))) done();
    // No plug-in is called after it finished.
    host_->listeners.clear();
}

}  // namespace qm::desktop
