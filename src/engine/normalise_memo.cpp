// The memo of normalised addresses, and the settings it depends on.
#include "engine/normalise_memo.h"

#include <algorithm>
#include <functional>

#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/admission.h"
#include "engine/normalise.h"
#include "engine/settings_snapshot.h"
#include "store/project.h"

namespace qm::engine {

namespace {

void Put(std::string& stamp, const std::string& text) {
    stamp += std::to_string(text.size());
    stamp += ':';
    stamp += text;
}

// Everything Normalise reads besides the record's address and kind, as one text.
std::string SettingsStamp(const SettingsSnapshot& settings) {
    std::string stamp;
    Put(stamp, settings.root);
    Put(stamp, settings.defaultDoc);
    stamp += settings.extLast ? '1' : '0';
    if (!settings.project) return stamp;
    Put(stamp, settings.startURL);
    for (int box : {settings.RSrvsBx, settings.RPathBx, settings.RFileBx}) Put(stamp, std::to_string(box));
    for (const std::string* list : {&settings.RSrvsIn, &settings.RSrvsEx, &settings.RPathIn, &settings.RPathEx,
                                    &settings.RFileIn, &settings.RFileEx})
        Put(stamp, *list);
    for (const std::string& server : settings.joinedServers) Put(stamp, server);
    for (const store::FileCategory& category : settings.Categories) {
        Put(stamp, category.Exts);
        for (bool flag : category.Flags) stamp += flag ? '1' : '0';
    }
    return stamp;
}

}  // namespace

void NormaliseMemo::Prepare(const SettingsSnapshot& settings) {
    settings_ = &settings;
    std::string stamp = SettingsStamp(settings);
    if (settings.project == project_ && stamp == stamp_) return;
    project_ = settings.project;
    stamp_ = std::move(stamp);
    Forget();
}

void NormaliseMemo::Forget() {
    entries_.clear();
    slots_.assign(slots_.empty() ? 0 : 1024, Slot{});
    last_ = 0;
}

std::uint64_t NormaliseMemo::HashOf(std::string_view key, bool embedded) {
    const std::uint64_t h = std::hash<std::string_view>{}(key);
    return embedded ? ~h : h;
}

std::string_view NormaliseMemo::KeyOf(std::string_view address) const {
    // Normalise drops the fragment; only the admission's file-name rules see it, in the file
    // name, and only letters, digits, '-' and '_' are sure to mean nothing else to it.
    if (!settings_ || settings_->RFileBx != 0) return address;
    const std::size_t hash = address.find('#');
    if (hash == std::string_view::npos) return address;
    const std::size_t scheme = address.find("://");
    if (scheme == std::string_view::npos || scheme > hash) return address;
    const std::size_t path = address.find('/', scheme + 3);
    if (path == std::string_view::npos || path > hash) return address;
    for (const char c : address.substr(hash + 1))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return address;
    return address.substr(0, hash);
}

NormaliseMemo::Entry* NormaliseMemo::Find(std::string_view key, bool embedded, std::uint64_t hash) {
    if (slots_.empty()) return nullptr;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.entry == 0) return nullptr;
        if (slot.hash != hash) continue;
        Entry& e = entries_[slot.entry - 1];
        if (e.embedded == embedded && e.key == key) return &e;
    }
}

NormaliseMemo::Entry& NormaliseMemo::Insert(std::string key, bool embedded, std::uint64_t hash, Outcome outcome) {
    if ((entries_.size() + 1) * 2 > slots_.size()) {
        // Twice the room, every entry placed again by its hash.
        std::vector<Slot> bigger(std::max<std::size_t>(1024, slots_.size() * 2));
        const std::size_t mask = bigger.size() - 1;
        for (const Slot& slot : slots_) {
            if (slot.entry == 0) continue;
            std::size_t i = slot.hash & mask;
            while (bigger[i].entry != 0) i = (i + 1) & mask;
            bigger[i] = slot;
        }
        slots_.swap(bigger);
    }
    if (entries_.size() == entries_.capacity()) {
        // Grown by hand, never beyond the most the memo keeps.
        entries_.reserve(std::min<std::size_t>(std::max<std::size_t>(1024, entries_.size() * 2), kMaxAddresses));
    }
    entries_.push_back(Entry{std::move(key), embedded, std::move(outcome)});
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i].entry != 0) i = (i + 1) & mask;
    slots_[i] = Slot{hash, static_cast<std::uint32_t>(entries_.size())};
    return entries_.back();
}

bool NormaliseMemo::Normalise(DownloadRecord& record) {
    // An address with credentials sets the record's password as well: not worth keeping.
    last_ = 0;
    AdmissionResult why;
    if (!settings_ || record.Project != project_) return false;  // not prepared for its Project
    if (record.URL.find('@') != std::string::npos) return qm::engine::Normalise(record, *settings_, why);
    record.URL.resize(KeyOf(record.URL).size());
    const bool embedded = record.IsImage;
    const std::uint64_t hash = HashOf(record.URL, embedded);
    if (Entry* e = Find(record.URL, embedded, hash)) {
        last_ = static_cast<std::size_t>(e - entries_.data()) + 1;
        const Outcome& o = e->outcome;
        record.Img = true;
        record.Srv = true;
        if (!o.admitted) return false;
        if (!o.urlIsKey) record.URL = o.url;
        record.Category = o.category >= 0 ? &record.Project->Categories[std::size_t(o.category)] : nullptr;
        record.FName = o.fileName;
        if (o.pathEnd != kNoPath) {
            record.Path.assign(o.fileName, 0, o.pathEnd);
            record.RFile.assign(o.fileName, o.pathEnd + 1);
        }
        record.Depth = o.depth;
        return true;
    }
    if (Size() >= kMaxAddresses) Forget();
    std::string address = record.URL;
    Outcome o;
    o.admitted = qm::engine::Normalise(record, *settings_, why);
    if (o.admitted) {
        // Most addresses are already in their canonical form: the key is then the address.
        o.urlIsKey = record.URL == address;
        if (!o.urlIsKey) o.url = record.URL;
        if (record.Category && record.Project)
            o.category = static_cast<std::int8_t>(record.Category - &record.Project->Categories[0]);
        o.fileName = record.FName;
        // Path and RFile are the two sides of the file name's last separator.
        const std::size_t sep = record.FName.find_last_of("/\\");
        if (sep != std::string::npos && record.Path.size() == sep &&
            record.RFile.size() == record.FName.size() - sep - 1)
            o.pathEnd = static_cast<std::uint32_t>(sep);
        o.depth = record.Depth;
    }
    const bool admitted = o.admitted;
    Insert(std::move(address), embedded, hash, std::move(o));
    last_ = entries_.size();
    return admitted;
}

bool NormaliseMemo::HandedOverBefore(const DownloadRecord& record, std::uint64_t generation) {
    // The record may have been changed since (an applet base, a refused path): only the
    // address the memo gave counts.
    if (last_ == 0) return false;
    Entry& e = entries_[last_ - 1];
    Outcome& o = e.outcome;
    if (!o.admitted || (o.urlIsKey ? e.key : o.url) != record.URL) return false;
    if (o.handedOver == generation) return true;
    o.handedOver = generation;
    return false;
}

const std::string* NormaliseMemo::HandedOverIn(const std::string& address, bool embedded, const store::Project* project,
                                               std::uint64_t generation) {
    if (!settings_ || project != project_) return nullptr;
    const std::string_view key = KeyOf(address);
    const Entry* e = Find(key, embedded, HashOf(key, embedded));
    if (!e || !e->outcome.admitted || e->outcome.handedOver != generation) return nullptr;
    return e->outcome.urlIsKey ? &e->key : &e->outcome.url;
}

NormaliseMemo& ThreadNormaliseMemo() {
    thread_local NormaliseMemo memo;
    return memo;
}

}  // namespace qm::engine
