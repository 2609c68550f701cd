#pragma once
// What Normalise made of the addresses found in documents, kept for the next documents: the
// pages of a site link to the same addresses again and again (menus, indexes, neighbours),
// and working each one out anew costs more than the rest of the page's analysis.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;
struct SettingsSnapshot;

class NormaliseMemo {
public:
    // Called before each document with the settings its analysis reads, which must outlive
    // the Normalise calls for it. Forgets everything when the Project or any setting that
    // Normalise reads (admission rules, file types, root folder, default document name,
    // extension-last names) is not what it was.
    void Prepare(const SettingsSnapshot& settings);
    // Normalise(record) with the settings given to Prepare, from memory when the same
    // address, of the same kind (page link or embedded file), was normalised since Prepare
    // last forgot.
    bool Normalise(DownloadRecord& record);

    // For the record the last Normalise call gave: whether its address was handed to the
    // queue before in the queue's seen-address generation; if not, it is marked handed over
    // now. False for records the memo does not keep.
    bool HandedOverBefore(const DownloadRecord& record, std::uint64_t generation);
    // The canonical form of address (as found, of the kind given, in project's document)
    // when Normalise admitted it and it was handed to the queue in generation; else nullptr.
    // Looks without copying anything: most links of a big site's pages are such addresses.
    const std::string* HandedOverIn(const std::string& address, bool embedded, const store::Project* project,
                                    std::uint64_t generation);

    std::size_t Size() const { return entries_.size(); }
    // Above this many addresses the memo starts again, so that it stays small on huge sites.
    static constexpr std::size_t kMaxAddresses = 50000;

private:
    static constexpr std::uint32_t kNoPath = 0xffffffffu;
    // Kept small: a big site has tens of thousands of addresses.
    struct Outcome {
        bool admitted = false;
        bool urlIsKey = false;      // the canonical address is the key itself
        std::int8_t category = -1;  // index into the Project's categories; -1 none
        int depth = 0;
        std::uint32_t pathEnd = kNoPath;  // Path and RFile split fileName here
        std::uint64_t handedOver = 0;     // the generation it was last handed over in; 0 never
        std::string url;                  // when not the key
        std::string fileName;
    };
    struct Entry {
        std::string key;  // the address as found
        bool embedded = false;
        Outcome outcome;
    };
    // An open-addressing index over the entries: a lookup reads one run of slots, most often
    // one cache line, and then the one entry whose hash matches. On big sites the memo is
    // read for every link, and a node-based map spends that time waiting for memory.
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t entry = 0;  // index + 1; 0 empty
    };
    static std::uint64_t HashOf(std::string_view key, bool embedded);
    // The part of address the outcome depends on: without a plain fragment ("#a1b2c3", as
    // generated documentation links members) when no file-name rule reads fragments.
    std::string_view KeyOf(std::string_view address) const;
    Entry* Find(std::string_view key, bool embedded, std::uint64_t hash);
    Entry& Insert(std::string key, bool embedded, std::uint64_t hash, Outcome outcome);
    void Forget();

    const store::Project* project_ = nullptr;
    const SettingsSnapshot* settings_ = nullptr;
    std::string stamp_;
    std::vector<Entry> entries_;
    std::vector<Slot> slots_;  // a power of two, at most half full
    // What the last Normalise call gave, when kept (an index into entries_, + 1).
    std::size_t last_ = 0;
};

// The memo of the calling thread.
NormaliseMemo& ThreadNormaliseMemo();

}  // namespace qm::engine
