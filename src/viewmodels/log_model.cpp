// Routing of engine messages to the log and progress lines.
#include "viewmodels/log_model.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "store/options.h"
#include "store/string_list.h"
#include "store/ui_messages.h"

namespace qm::viewmodels {

namespace {
// A connection's line names the connection; the browser's (index -1) stands alone.
std::string Prefixed(int index, const std::string& text) {
    return index < 0 ? text : "HTTP" + std::to_string(index) + ": " + text;
}
}  // namespace

void LogModel::Route(int index, const std::string& text, engine::MessageKind kind) {
    using engine::MessageKind;
    const store::ProgramOptions& opt = store::Options();
    if (engine::IsConnectionStatus(kind)) {
        if (kind == MessageKind::ProtocolText) return;  // protocol text changes neither window
        if (index >= 0 && static_cast<std::size_t>(index) < progress_.size()) {
            progress_[index] = Prefixed(index, text);
            ++progressRevision_;
        }
        if (!opt.UseLog) return;
        if ((kind == MessageKind::Connection && opt.FConnect) || (kind == MessageKind::Progress && opt.FProgress) ||
            (kind == MessageKind::TransactionEnd && opt.FDisconnect))
            Append(Prefixed(index, text), TroubleText(text, kind));
        return;
    }
    if (kind == MessageKind::QueueState) {
        if (text != queueState_) {
            queueState_ = text;
            if (OnQueueState) OnQueueState(text);
        }
        return;
    }
    if (kind == MessageKind::Analysis) Append(text, TroubleText(text, kind));  // unfiltered, but bounded
}

bool LogModel::TroubleText(const std::string& text, engine::MessageKind kind) {
    using engine::MessageKind;
    // A transaction that did not end with its answer read is a failure of some kind.
    if (kind == MessageKind::TransactionEnd) return text.find("Transaction complete.") == std::string::npos;
    if (kind != MessageKind::Analysis) return false;
    static const char* const kWords[] = {"error",     "refus",    "cannot",    "could not", "not enough", "failed",
                                         "not taken", "too many", "more than", "denied",    "damaged",    "timed out"};
    const std::string lower = store::LowerCase(text);
    for (const char* word : kWords)
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

void LogModel::AddSlot(int index) {
    if (index < 0) return;
    std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(index), progress_.size());
    progress_.insert(progress_.begin() + static_cast<std::ptrdiff_t>(at),
                     Prefixed(index, store::UIMessage(store::UIText::Empty)));
    ++progressRevision_;
}

void LogModel::RemoveSlot(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= progress_.size()) return;
    progress_.erase(progress_.begin() + index);
    ++progressRevision_;
}

void LogModel::Append(const std::string& line, bool trouble) {
    lines_.push_back(line);
    trouble_.push_back(trouble);
    ++logRevision_;
    if (store::Options().TrackLog) selected_ = static_cast<int>(lines_.size()) - 1;
    if (static_cast<long long>(lines_.size()) >= store::Options().LogLimit) Clear();
}

void LogModel::Clear() {
    lines_.clear();
    trouble_.clear();
    selected_ = -1;
    ++logGeneration_;
    ++logRevision_;
}

bool LogModel::Save(const std::string& path, std::string& error) const {
    std::string scratch = path + ".$$$";
    std::FILE* f = std::fopen(scratch.c_str(), "wb");
    if (!f) {
        error = "cannot write " + scratch;
        return false;
    }
    bool ok = true;
    for (const std::string& l : lines_) {
        if (std::fwrite(l.data(), 1, l.size(), f) != l.size() || std::fwrite("\r\n", 1, 2, f) != 2) ok = false;
    }
    if (std::fflush(f) != 0 || ::fsync(fileno(f)) != 0) ok = false;
    if (std::fclose(f) != 0) ok = false;
    std::error_code ec;
    if (ok) std::filesystem::rename(scratch, path, ec);
    if (!ok || ec) {
        std::filesystem::remove(scratch, ec);
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool LogModel::ToggleTrack() { return store::Options().TrackLog = !store::Options().TrackLog; }
bool LogModel::TogglePause() {
    store::Options().UseLog = !store::Options().UseLog;
    return !store::Options().UseLog;
}
bool LogModel::ToggleFilter(int tag) {
    store::ProgramOptions& o = store::Options();
    bool* flag = tag == 0 ? &o.FConnect : tag == 1 ? &o.FProgress : tag == 2 ? &o.FDisconnect : nullptr;
    if (!flag) return false;
    *flag = !*flag;
    return *flag;
}
bool LogModel::FilterChecked(int tag) const {
    const store::ProgramOptions& o = store::Options();
    return tag == 0 ? o.FConnect : tag == 1 ? o.FProgress : tag == 2 ? o.FDisconnect : false;
}

int LogModel::SearchFrom(int start) {
    if (search_.empty()) return -1;
    std::string needle = store::LowerCase(search_);
    for (int i = std::max(start, 0); i < static_cast<int>(lines_.size()); ++i)
        if (store::LowerCase(lines_[i]).find(needle) != std::string::npos) {
            selected_ = i;
            return i;
        }
    return -1;
}

int LogModel::Find(const std::string& text) {
    search_ = text;
    return SearchFrom(selected_ < 0 ? 0 : selected_);
}

int LogModel::FindNext() { return SearchFrom(selected_ < 0 ? 0 : selected_ + 1); }

}  // namespace qm::viewmodels
