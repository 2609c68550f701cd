#pragma once
// The state of one analysis run. Internal to the analysis library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/analyser.h"
#include "analysis/tag_table.h"

namespace qm::engine {
class DownloadRecord;
}  // namespace qm::engine
namespace qm::engine {
class AnalysisSink;
}  // namespace qm::engine
namespace qm::analysis {

namespace detail {

constexpr std::size_t npos = std::string::npos;
// Documents of this size or more are kept folded (see Analyser::folded_).
constexpr std::size_t kFoldedFrom = 1024 * 1024;

// Remembers the answer of one forward search so that a later search from a point the
// answer still covers costs nothing; keeps every scan linear in the size of the text.
struct CachedFind {
    std::size_t from = npos;  // npos: never searched
    std::size_t at = npos;
};

enum class LinkClass { Absolute, HostRelative, Relative, OtherScheme };

// A value in a tag that the classic rows do not take: an embedded resource, a srcset list
// or a style="" value.
struct TagExtra {
    enum Kind { Link, Srcset, Style };
    std::size_t start = 0;
    std::size_t end = 0;
    Kind kind = Link;
    bool done = false;
};

class Analyser {
public:
    Analyser(AnalysisEnvironment& env, engine::DownloadRecord& parent, const std::string& source,
             const std::string& target, bool writeTarget, engine::AnalysisSink& sink);
    ~Analyser();
    void Run();
    void RunOn(std::string text);  // the source's contents, already read

private:
    // Preparation and the tag loop.
    bool ReadSource();
    bool Fold();  // false: no room
    void MakeContext();
    std::size_t NextTag(std::size_t from, int& row) const;
    void TagLoop();
    bool BlockRow(int row, std::size_t pos);   // false: the scan ends here
    bool NormalRow(int row, std::size_t pos);  // false: the scan ends here
    bool AttributeValue(std::size_t afterName, std::size_t& start, std::size_t& end) const;
    std::size_t FindIn(std::string_view needle, std::size_t from, std::size_t to) const;
    std::size_t FindCached(CachedFind& cache, std::string_view needle, std::size_t from) const;
    std::size_t FindAttribute(int row, int slot, std::string_view name, std::size_t from, std::size_t tagEnd);
    std::size_t FindCharCached(CachedFind& cache, char c, std::size_t from, std::size_t to) const;
    std::size_t TagEnd(std::size_t pos);

    // Links.
    void ProcessLink(std::size_t end, bool guessed);
    bool AddFoundLink(std::unique_ptr<engine::DownloadRecord> record, bool guessed);
    // The document's own text between from and to.
    std::string Verbatim(std::size_t from, std::size_t to) const;
    // The same as a view: of verbatim_, or of scratch for a folded document.
    std::string_view Original(std::size_t from, std::size_t to, std::string& scratch) const;
    // A folded document's own bytes between from and to, written to out.
    void Unfold(std::size_t from, std::size_t to, char* out) const;

    // The target.
    bool OpenTarget(std::int64_t sourceSize);
    void WriteSpan(std::size_t from, std::size_t to);
    void WriteText(std::string_view text);
    void MoveTo(std::size_t pos);  // writes the text up to pos and moves the cursor there
    void WriteLink(LinkClass cls, std::size_t origin, std::size_t start, std::size_t end, bool queued, bool overridden);
    void WriteLocalAddress(std::size_t from, std::size_t end);
    void WriteWithReplacements(std::size_t from, std::size_t end);
    bool WillBeStored(bool queued) const;
    std::string LocalName(std::string text);
    // Whether the file of an address text (without its scheme) is on disk already.
    bool StoredBefore(std::string address);
    void CloseTarget();
    void CopyJavaClass();

    // Style sheets and the attributes of today's pages.
    void ScanStyle(std::size_t from, std::size_t to, bool inAttribute);
    bool OtherTag(std::size_t pos);  // false: the scan ends here
    std::vector<TagExtra> TagExtras(std::size_t pos, std::size_t tagEnd) const;
    void RunExtras(std::vector<TagExtra>& extras, std::size_t before);
    // The row a <link> tag's address is taken through, by its relation.
    int LinkRelationRow(std::size_t pos, std::size_t tagEnd) const;

    // Script, parameter and Java class scanners.
    void ScanScript(std::size_t start, std::size_t end);
    void ScanInnerStrings(std::size_t from, std::size_t to, char quote);
    void ScanParamValue(std::size_t valueStart, std::size_t valueEnd);
    bool IsParamSeparator(std::size_t i) const;
    void ScanJavaClass(const unsigned char* data, std::size_t length);

    void Report(const std::string& text, bool stop);

    AnalysisEnvironment& env_;
    engine::DownloadRecord& parent_;
    const std::string& source_;
    const std::string& target_;
    const bool writeTarget_;
    engine::AnalysisSink& sink_;
    AnalysisSettings settings_;

    std::string verbatim_;  // the file with NUL bytes as blanks; empty when folded
    std::string search_;    // the same, letters A-Z lowered
    // A large document is kept once, folded: search_ and a bit for each letter that was
    // upper case (bit i % 64 of word i / 64), which the text is put back together from.
    bool folded_ = false;
    std::vector<std::uint64_t> upperCase_;
    std::size_t n_ = 0;
    std::size_t cursor_ = 0;
    int row_ = 0;

    std::string folder_;  // the document's folder without its scheme, with its final "/"
    std::string host_;
    std::string scheme_ = "http://";  // the document's own scheme, for its relative links
    std::string override_;
    std::string appletBase_;
    int appletDepth_ = 0;
    std::string secondValue_;
    bool sourceIsPrimary_ = false;

    CachedFind tagEnd_;
    // Attribute searches of tags without an end: first, first again, second, second again.
    CachedFind attrCache_[kTagRowCount][4];

    int out_ = -1;  // the target under its scratch name, while it is written
    std::string partName_;
    // A translation that changes nothing is not written: while every byte put out equals
    // the stored original's, only their count (same_) is kept, and at the end the target
    // becomes a second name of the ".primary" file: no new file and no second copy of the
    // bytes. The first difference writes the file as usual.
    bool sourceOnDisk_ = false;   // verbatim_ was read from source_ (not handed over)
    bool sourceAltered_ = false;  // NUL bytes in verbatim_ became blanks
    bool deferred_ = false;
    std::size_t same_ = 0;
    bool Writing() const { return out_ >= 0 || deferred_; }
    bool StopDeferring();  // opens the target and writes the bytes held back
    bool writeFailed_ = false;
    bool noFollow_ = false;  // the page's robots tag says its links are not followed
    std::unique_ptr<char[]> outBuffer_;
    // StoredBefore's answers, by address text and by file.
    std::unordered_map<std::string, bool> storedBefore_;
    std::unordered_map<std::string, bool> fileStoredBefore_;
    std::size_t outUsed_ = 0;
    void Flush();
    bool OpenPart();
};

}  // namespace detail
}  // namespace qm::analysis
