// The program's start-up, shutdown and timers.
#include "app/core.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "app/download_run.h"
#include "desktop/plugins.h"
#include "app/session.h"
#include "app/window_state.h"
#include "engine/queue_manager.h"
#include "engine/scheduler.h"
#include "engine/site_map.h"
#include "net/http_client.h"
#include "platform/event_loop.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "platform/single_instance.h"
#include "platform/stop_signals.h"
#include "server/web_server.h"
#include "store/object_stream.h"
#include "store/options.h"
#include "store/options_store.h"
#include "store/ui_messages.h"

namespace qm::app {

namespace {

// An http or https address (any case), as the desktop hands over an opened link.
bool IsWebAddress(const std::string& word) {
    std::string head = word.substr(0, 8);
    for (char& c : head)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
}

constexpr int kQuarterMs = 250;
constexpr int kIdleCloseMs = 60000;

std::string ProgramFilePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
}  // namespace

double SystemClock::Now() const { return store::NowDateTime(); }

struct Core::Parts {
    Session session;
    std::unique_ptr<platform::SingleInstance> instance;
    WindowState state;
    std::unique_ptr<DownloadRun> run;
    std::unique_ptr<TreeCommands> commands;
    engine::ProjectScheduler scheduler;
    std::unique_ptr<platform::Timer> quarter, second;
    bool serverStarted = false;
    std::unique_ptr<platform::StopSignals> signals;
    desktop::Plugins plugins;  // released last, after everything that could call into a plug-in
};

struct Core::Fallbacks : Confirmation {
    SystemClock clock;
    std::vector<std::string>* refusals = nullptr;
    bool Ask(Question, const std::string&, const std::string&) override { return false; }
    void ShowError(const std::string& message, const std::string&) override {
        if (refusals) refusals->push_back(message);
    }
};

Core::Core(Clock& clock, Confirmation& answers) : clock_(clock), answers_(answers), parts_(std::make_unique<Parts>()) {}

Core::Core()
    : fallbacks_(std::make_unique<Fallbacks>()),
      clock_(fallbacks_->clock),
      answers_(*fallbacks_),
      parts_(std::make_unique<Parts>()) {
    fallbacks_->refusals = &warnings_;
}

Core::Core(Confirmation& answers)
    : fallbacks_(std::make_unique<Fallbacks>()),
      clock_(fallbacks_->clock),
      answers_(answers),
      parts_(std::make_unique<Parts>()) {}

bool Core::Open(const std::string& home, std::string& error, bool loadTree, Session::Access access) {
    return parts_->session.Open(home, error, loadTree, access);
}

DownloadRun& Core::StartEngine(RunSettings settings) {
    Parts& p = *parts_;
    if (!p.run) p.run = std::make_unique<DownloadRun>(p.session, std::move(settings));
    return *p.run;
}

Core::~Core() {
    Parts& p = *parts_;
    p.signals.reset();
    // Only the running program closes and saves by itself; a command saves what it changed.
    if (started_ && p.run && !closed_) Close();
    p.plugins.Finish();
    if (p.run) p.run->Queue().StopAll();
    p.quarter.reset();
    p.second.reset();
    // The engine's run refers to the Projects it started: it goes before the folders do.
    p.commands.reset();
    p.run.reset();
    p.session.Tree().Clear();
    if (p.serverStarted) {
        StopServer();
        SetServedTree(nullptr);
    }
    p.instance.reset();
}

Session& Core::GetSession() { return parts_->session; }
DownloadRun& Core::Engine() { return *parts_->run; }
TreeCommands& Core::Commands() {
    Parts& p = *parts_;
    if (!p.commands)
        p.commands = std::make_unique<TreeCommands>(p.session.Tree(), p.session.Defaults(), answers_, p.run.get());
    return *p.commands;
}
WindowState& Core::State() { return parts_->state; }
desktop::Plugins& Core::PluginList() { return parts_->plugins; }
engine::ProjectScheduler& Core::Scheduler() { return parts_->scheduler; }

Core::StartResult Core::Start(const CoreSettings& settings, std::string& error) {
    Parts& p = *parts_;
    platform::InitEventLoop();
    // One program per program folder: a second one asks the first to show itself and ends.
    if (settings.singleInstance) {
        const std::string folder = platform::ResolveProgramFolder(settings.home, error);
        if (folder.empty()) return StartResult::Failed;
        p.instance = std::make_unique<platform::SingleInstance>(folder);
        p.instance->OnShow = [this] {
            if (OnShow) OnShow();
        };
        p.instance->OnWords = [this](const std::vector<std::string>& words) {
            if (!started_ || closing_ || closed_) return;
            std::vector<std::string> problems;
            OpenWords(words, problems);
            if (OnWordsOpened) OnWordsOpened(problems);
        };
        std::string why;
        switch (p.instance->Claim(&why, ReadCommandLine(settings.args).projectWords)) {
        case platform::SingleInstance::Result::AnotherRunning: return StartResult::AnotherInstance;
        case platform::SingleInstance::Result::Failed: warnings_.push_back(why); break;
        case platform::SingleInstance::Result::First: break;
        }
    }

    // Options reset with the program's user agent, options and Defaults Project loaded, the
    // proxy bypass ensured (every file of the program folder by absolute path).
    if (!p.session.Open(settings.home, error, false, Session::Access::Run)) return StartResult::Failed;
    if (!p.session.Warnings().empty()) warnings_.push_back(p.session.Warnings());

    platform::RegKey key = store::OpenOptionsKeyForLoad(p.session.Registry());
    p.state.Load(key, &warnings_);
    p.state.SetText("LastRunPos", ProgramFilePath());

    RunSettings run;
    run.message = settings.message ? settings.message : [this](const std::string& line) { warnings_.push_back(line); };
    p.run = std::make_unique<DownloadRun>(p.session, run);
    if (settings.loadPlugins) {
        p.plugins.OnLog =
            settings.message ? settings.message : [this](const std::string& line) { warnings_.push_back(line); };
        p.plugins.Load(platform::ProgramFolder(), p.run->Queue(), store::Options());
    }
    if (LoadLanguage) LoadLanguage();

    if (settings.startServer) {
        if (store::Options().HTTPPort == 0) store::Options().HTTPPort = 800;
        SetServedTree(&p.session.Tree());
        StartServer();
        p.serverStarted = true;
    }

    const std::string before = p.session.Warnings();
    p.session.LoadTree();
    if (p.session.Warnings().size() > before.size()) warnings_.push_back(p.session.Warnings().substr(before.size()));

    p.commands = std::make_unique<TreeCommands>(p.session.Tree(), p.session.Defaults(), answers_, p.run.get());
    p.commands->ConfirmDelete = p.state.Bool("ConfirmDel");
    const int selected = p.state.Int("TreeSelected");
    if (selected >= 0 && selected < p.session.Tree().NodeCount()) {
        p.commands->Select(p.session.Tree().NodeAt(selected));
    } else {
        p.state.SetInt("TreeSelected", -1);
    }

    p.scheduler.AutoSave = p.state.Bool("bAutoSave");
    p.scheduler.AutoSaveMinutes = p.state.Int("iAutoSave");
    p.scheduler.OnStart = [this](store::Project& project) {
        Node node{project.Folder, &project};
        parts_->commands->Select(node);
        std::string why;
        if (!parts_->commands->Start(node, &why) && !why.empty()) warnings_.push_back(why);
    };
    p.scheduler.OnAutoSave = [this] {
        std::string why;
        if (!SaveAll(why)) warnings_.push_back(why);
    };

    started_ = true;
    ProcessCommandLine(settings.args);
    if (settings.closeOnSignals) {
        std::function<void(const std::string&)> message = settings.message;
        p.signals = std::make_unique<platform::StopSignals>([this, message](int number) {
            if (closing_ || closed_) return;
            const std::string line =
                "Signal " + std::to_string(number) + ": saving and closing (a second signal ends the program at once)";
            if (message)
                message(line);
            else
                warnings_.push_back(line);
            Close();
        });
    }
    if (settings.runTimers) {
        p.quarter = std::make_unique<platform::Timer>([this] { QuarterTick(); });
        p.second = std::make_unique<platform::Timer>([this] { SecondTick(); });
        p.quarter->Start(kQuarterMs);
        p.second->Start(1000);
    }
    return StartResult::Started;
}

void Core::ProcessCommandLine(const std::vector<std::string>& args) {
    line_ = ReadCommandLine(args);
    OpenWords(line_.projectWords, warnings_);
}

void Core::OpenWords(const std::vector<std::string>& words, std::vector<std::string>& problems) {
    for (const std::string& word : words) {
        if (IsWebAddress(word)) {
            // An address the desktop opened with this program: a new Project, as when dropped.
            parts_->commands->PasteAddress(word);
            continue;
        }
        const std::vector<store::Project*> projects = MatchCommandWord(parts_->session.Tree(), word);
        if (projects.empty()) {
            problems.push_back("'" + word + "' names no Project (FOLDER/PROJECT, FOLDER/INDEX or FOLDER/all)");
            continue;
        }
        for (store::Project* project : projects) {
            Node node{project->Folder, project};
            parts_->commands->Select(node);
            std::string why;
            if (parts_->commands->Start(node, &why) > 0)
                commandLineStarted_.push_back(project);
            else if (!why.empty())
                problems.push_back(why);
        }
    }
}

bool Core::SaveAll(std::string& error) {
    Parts& p = *parts_;
    if (p.commands) {
        const Node sel = p.commands->Selected();
        int index = -1;
        if (sel.project)
            index = p.session.Tree().IndexOf(*sel.project);
        else if (sel.folder)
            index = p.session.Tree().IndexOf(*sel.folder);
        p.state.SetInt("TreeSelected", index);
        p.state.SetBool("ConfirmDel", p.commands->ConfirmDelete);
    }
    platform::RegKey key = store::OpenOptionsKeyForSave(p.session.Registry());
    p.state.Save(key);
    std::string mapError;
    const bool mapsSaved = SaveSiteMaps(p.session.Tree().AllProjects(), mapError);
    if (!p.session.Save(error)) return false;
    if (!mapsSaved) error = mapError;
    return mapsSaved;
}

bool Core::RequestClose() {
    if (closed_) return true;
    if (parts_->state.Bool("ConfirmExit") &&
        !answers_.Ask(Question::Exit, store::UIMessage(store::UIText::AskQuit) + "?",
                      store::UIMessage(store::UIText::Confirmation)))
        return false;
    Close();
    return true;
}

void Core::Close() {
    Parts& p = *parts_;
    if (closed_ || closing_ || !p.run) return;
    closing_ = true;
    if (OnClosing) OnClosing();
    p.run->Queue().StopAll();
    // Let the analysis thread's last messages arrive before the tree is written.
    platform::RunUntil([&p] { return p.run->Idle(); }, 2000);
    saveError_.clear();
    SaveAll(saveError_);
    if (p.quarter) p.quarter->Stop();
    if (p.second) p.second->Stop();
    closed_ = true;
    if (OnClosed) OnClosed();
}

void Core::OptionsChanged(bool portChanged) {
    Parts& p = *parts_;
    if (portChanged) {
        if (RestartServer)
            RestartServer();
        else
            StartServer();
    }
    if (p.run) p.run->Queue().SetConnectionCount(store::Options().HTTPCount);
}

void Core::AbortConnection(int index) {
    if (!parts_->run) return;
    engine::QueueManager& queue = parts_->run->Queue();
    // The pool may have shrunk since the front end showed the connection.
    if (index >= 0 && static_cast<std::size_t>(index) < queue.PoolSize())
        queue.Connection(static_cast<std::size_t>(index)).Abort();
}

void Core::QuarterTick() {
    Parts& p = *parts_;
    if (closed_ || closing_ || !p.run) return;
    const double now = clock_.Now();
    progress_.SampleConnections(now * 86400.0, p.run->ConnectionSamples());
    progress_.SampleRendering(p.run->Queue().PagesRendering());
    if (OnProgress) OnProgress();
    // The minute handling starts early in a minute; from then on every minute of the clock
    // is handled once, whenever this timer fires.
    if (!minuteOn_) {
        const int second = engine::SplitDateTime(now).second;
        minuteOn_ = second >= 1 && second <= 4;
    }
    if (minuteOn_) p.scheduler.Poll(p.session.Tree(), now);

    if (p.run->Queue().QueueCount() > 0 || !p.run->Idle())
        idleMs_ = 0;
    else
        idleMs_ = std::min(idleMs_ + kQuarterMs, kIdleCloseMs);
    if (idleMs_ < kIdleCloseMs) return;
    // Closing when idle never asks: nobody may be there to answer.
    if (line_.shutdownWhenIdle) {
        Close();
        std::string why;
        if (!PowerOff)
            warnings_.push_back("no power-off action is installed");
        else if (!PowerOff(why))
            warnings_.push_back(why);
    } else if (line_.closeWhenIdle) {
        Close();
    }
}

void Core::SetStatus(int panel, std::string& current, const std::string& text) {
    if (text == current) return;
    current = text;
    if (OnStatusText) OnStatusText(panel, text);
}

void Core::SecondTick() {
    Parts& p = *parts_;
    if (closed_ || !p.run) return;
    speed_.Add(p.run->Queue().TotalReceived());
    progress_.SampleProjects(clock_.Now() * 86400.0, p.run->ProjectSamples());
    SetStatus(4, speedText_,
              store::UIMessage(store::UIText::Speed) + ": " + std::to_string(speed_.BytesPerSecond()) + " " +
                  store::UIMessage(store::UIText::BytesPerSecond) + RetryWaitText(p.run->Queue()));
    const store::Project* project = p.commands ? p.commands->Selected().project : nullptr;
    if (project && (project->QueuedCount > 0 || project->ProcessingCount > 0))
        SetStatus(3, sizeText_,
                  store::UIMessage(store::UIText::Size) + ": " + std::to_string(project->ReceivedBytes / 1024) + " " +
                      store::UIMessage(store::UIText::Kilobytes));
    else
        SetStatus(3, sizeText_, "");
    if (OnProgress) OnProgress();
}

}  // namespace qm::app
