// Writing the analysed document with its links rewritten so that the stored copy can be
// browsed from disk.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <system_error>

#include "analysis/analyser_impl.h"
#include "analysis/spare_buffers.h"
#include "addresses/address_rules.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/known_directories.h"
#include "engine/scratch_files.h"
#include "engine/stored_files.h"

namespace qm::analysis::detail {

namespace {

constexpr std::size_t kOutputBuffer = 256 * 1024;
constexpr std::int64_t kFreeSpaceCap = 1000000000;

bool HasPrefixNoCase(std::string_view s, std::string_view lowerPrefix) {
    if (s.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// How many characters of an absolute link come before its host: "http://", "https://" or,
// for a link without a scheme, "//"; 0 when it is none of these.
std::size_t HostOffset(std::string_view link) {
    if (HasPrefixNoCase(link, "http://")) return 7;
    if (HasPrefixNoCase(link, "https://")) return 8;
    if (HasPrefixNoCase(link, "//")) return 2;
    return 0;
}

// The part of a stored file's name that follows the host: "?" "|" "%" as in local names,
// and the default document for a folder (before any fragment).
std::string ReplacedPath(std::string_view link, const std::string& defaultDoc, bool extLast) {
    std::string moved(link);
    if (extLast) addresses::MoveExtensionLast(moved);
    std::string_view text = moved;
    std::string out;
    out.reserve(text.size() + defaultDoc.size());
    std::size_t hash = text.find('#');
    std::size_t mainLen = hash == std::string::npos ? text.size() : hash;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == mainLen && mainLen > 0 && (out.back() == '/' || out.back() == '\\')) out += defaultDoc;
        char c = text[i];
        if (c == '?')
            c = '@';
        else if (c == '|' || c == '%')
            c = '_';
        out += c;
    }
    if (mainLen == text.size() && !out.empty() && (out.back() == '/' || out.back() == '\\')) out += defaultDoc;
    return out;
}

// An address without its scheme as the relative name of its stored file below the download
// root: no user and password, the default port (80, or 443 for https) dropped, another port
// after "+".
std::string LocalAddressText(std::string_view a, const std::string& defaultDoc, bool extLast,
                             std::string_view defaultPort = "80") {
    std::size_t p = 0;
    std::size_t sep = a.find_first_of("/\\");
    std::size_t at = a.find('@');
    if (at != std::string::npos && (sep == std::string::npos || at < sep)) p = at + 1;
    std::size_t hostEnd = a.find_first_of("/\\", p);
    if (hostEnd == std::string::npos) hostEnd = a.size();
    std::string host(a.substr(p, hostEnd - p));
    addresses::StoredIpv6Host(host);
    std::string_view hostPart = host;
    std::string out;
    std::size_t colon = hostPart.find(':');
    if (colon != std::string::npos) {
        out.append(hostPart.substr(0, colon));
        std::string_view port = hostPart.substr(colon + 1);
        if (port != "80" && port != defaultPort) {
            out += '+';
            out += ReplacedPath(port, defaultDoc, false);
        }
    } else {
        out.append(hostPart);
    }
    // A bare host stands for its top folder, stored under the default document name.
    if (hostEnd == a.size()) out += '/';
    out += ReplacedPath(a.substr(hostEnd), defaultDoc, extLast);
    if (hostEnd == a.size()) out += defaultDoc;
    return out;
}

}  // namespace

// The target is written under a scratch name and moved into place when complete, so that a
// stored document is never seen half written.
bool Analyser::OpenPart() {
    if (target_.empty()) return false;
    const std::string parentDir = std::filesystem::path(target_).parent_path().string();
    if (!parentDir.empty()) engine::MakeDirectories(parentDir);
    out_ = engine::OpenFixedScratch(target_, partName_, 0666);
    // A folder removed since the run made it is made again.
    if (out_ < 0 && errno == ENOENT && !parentDir.empty() && engine::ForgetDirectory(parentDir) &&
        engine::MakeDirectories(parentDir))
        out_ = engine::OpenFixedScratch(target_, partName_, 0666);
    if (out_ < 0) return false;
    if (!outBuffer_) outBuffer_ = std::move(ThreadSpareBuffers().out);
    if (!outBuffer_) outBuffer_.reset(new char[kOutputBuffer]);
    outUsed_ = 0;
    return true;
}

void Analyser::Flush() {
    std::size_t done = 0;
    while (done < outUsed_ && !writeFailed_) {
        ssize_t n = ::write(out_, outBuffer_.get() + done, outUsed_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            writeFailed_ = true;
        else
            done += std::size_t(n);
    }
    outUsed_ = 0;
}

namespace {

bool FolderTakesNewNames(const std::string& folder) {
    if (folder.empty()) return ::access(".", W_OK | X_OK) == 0;
    engine::MakeDirectories(folder);
    if (::access(folder.c_str(), W_OK | X_OK) == 0) return true;
    // A folder removed since the run made it is made again.
    return errno == ENOENT && engine::ForgetDirectory(folder) && engine::MakeDirectories(folder) &&
           ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool Analyser::OpenTarget(std::int64_t sourceSize) {
    // The target's folder tells the file system in one question (the target is often new).
    const std::string folder = std::filesystem::path(target_).parent_path().string();
    std::int64_t free = env_.FreeSpace(folder.empty() ? target_ : folder);
    if (free >= 0) {
        free = std::min(free, kFreeSpaceCap);
        double needed = double(sourceSize) * 1.2 + double(settings_.DiskSpace) * 1048576.0;
        if (double(free) < needed) {
            Report("Not enough disk space: " + target_, true);
            return false;
        }
    }
    // Only the kept original of a document read from disk can lend its bytes (a large
    // document is folded in place, so its bytes are not at hand to compare).
    if (sourceOnDisk_ && sourceIsPrimary_ && !folded_ && !sourceAltered_ && source_ != target_) {
        // The target's folder is made and must take new names now, as when the file is
        // created at once: a target that cannot be made ends the analysis here.
        if (!FolderTakesNewNames(folder)) {
            Report("Error creating file: " + target_, false);
            return false;
        }
        deferred_ = true;
        same_ = 0;
    } else if (!OpenPart()) {
        Report("Error creating file: " + target_, false);
        return false;
    }
    env_.WriteRedirectStub(parent_);
    return true;
}

bool Analyser::StopDeferring() {
    deferred_ = false;
    if (!OpenPart()) {
        Report("Error creating file: " + target_, false);
        return false;
    }
    WriteText(std::string_view(verbatim_.data(), same_));
    return true;
}

void Analyser::WriteSpan(std::size_t from, std::size_t to) {
    if (to <= from) return;
    if (deferred_ && from == same_) {
        same_ = to;
        return;
    }
    if (!folded_) {
        WriteText(std::string_view(verbatim_.data() + from, to - from));
        return;
    }
    if (out_ < 0) return;
    while (from < to) {
        if (outUsed_ == kOutputBuffer) Flush();
        const std::size_t part = std::min(to - from, kOutputBuffer - outUsed_);
        Unfold(from, from + part, outBuffer_.get() + outUsed_);
        outUsed_ += part;
        from += part;
    }
}

void Analyser::WriteText(std::string_view text) {
    if (text.empty()) return;
    if (deferred_) {
        if (text.size() <= n_ - same_ && std::memcmp(verbatim_.data() + same_, text.data(), text.size()) == 0) {
            same_ += text.size();
            return;
        }
        if (!StopDeferring()) return;
    }
    if (out_ < 0) return;
    if (outUsed_ + text.size() > kOutputBuffer) {
        Flush();
        if (text.size() >= kOutputBuffer) {
            // Large spans go straight to the file.
            std::size_t done = 0;
            while (done < text.size() && !writeFailed_) {
                ssize_t n = ::write(out_, text.data() + done, text.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0)
                    writeFailed_ = true;
                else
                    done += std::size_t(n);
            }
            return;
        }
    }
    std::memcpy(outBuffer_.get() + outUsed_, text.data(), text.size());
    outUsed_ += text.size();
}

void Analyser::MoveTo(std::size_t pos) {
    if (pos > n_) pos = n_;
    if (pos <= cursor_) return;
    WriteSpan(cursor_, pos);
    cursor_ = pos;
}

bool Analyser::WillBeStored(bool queued) const {
    const TagRow& t = kTagTable[row_];
    return (t.kind != kLinkPage && parent_.Img) || (t.kind == kLinkPage && t.levelStep == 0) ||
           (parent_.Lev > 0 && queued);
}

std::string Analyser::LocalName(std::string text) {
    if (text.find('/') == npos) text += '/';
    std::size_t hash = text.find('#');
    if (hash != npos) text.erase(hash);
    std::string name = env_.MapRelativeName(text);
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) name += settings_.DefaultDoc;
    return name;
}

bool Analyser::StoredBefore(std::string address) {
    // Pages repeat their links to other sites (menus, footers, issue trackers), often with
    // another fragment each time: the file system is asked once per document for each file.
    auto known = storedBefore_.find(address);
    if (known != storedBefore_.end()) return known->second;
    std::string path = settings_.DownloadRoot + LocalName(address);
    auto file = fileStoredBefore_.find(path);
    const bool stored = file != fileStoredBefore_.end() ? file->second : env_.FileExists(path);
    if (file == fileStoredBefore_.end()) fileStoredBefore_.emplace(std::move(path), stored);
    storedBefore_.emplace(std::move(address), stored);
    return stored;
}

void Analyser::WriteLink(LinkClass cls, std::size_t origin, std::size_t start, std::size_t end, bool queued,
                         bool overridden) {
    if (!Writing()) return;
    const TagRow& t = kTagTable[row_];
    switch (cls) {
    case LinkClass::OtherScheme: WriteSpan(origin, end); return;
    case LinkClass::Absolute: {
        if (settings_.LTranslate) {
            WriteSpan(origin, end);
            return;
        }
        std::string scratch;
        const std::string_view link = Original(origin, end, scratch);
        const std::size_t skip = HostOffset(link);
        const std::string_view address = link.substr(skip);
        const bool secure = skip == 8 || (skip == 2 && scheme_ == "https://");
        bool local = WillBeStored(queued) || StoredBefore(std::string(address));
        if (!local) {
            WriteSpan(origin, end);
            return;
        }
        for (int i = 0; i < parent_.Depth; ++i) WriteText("../");
        WriteText(LocalAddressText(address, settings_.DefaultDoc, settings_.ExtLast, secure ? "443" : "80"));
        return;
    }
    case LinkClass::HostRelative: {
        if (settings_.LTranslate) {
            WriteSpan(origin, end);
            return;
        }
        std::string scratch;
        const std::string_view path = Original(start, end, scratch);
        bool local = WillBeStored(queued) || StoredBefore(host_ + std::string(path));
        if (!local) {
            WriteText(scheme_ + host_);
            WriteSpan(start, end);
            return;
        }
        int n = t.kind == kLinkParam ? appletDepth_ : parent_.Depth;
        if (n > 1) {
            for (int i = 0; i < n - 2; ++i) WriteText("../");
            WriteText("..");
        } else {
            WriteText(".");
        }
        WriteText(ReplacedPath(path, settings_.DefaultDoc, settings_.ExtLast));
        return;
    }
    case LinkClass::Relative: {
        if (overridden) {
            // Already a path between stored files: it stays as it is.
            WriteSpan(origin, end);
            return;
        }
        const std::size_t baseHost = HostOffset(parent_.Base);
        if (queued && t.kind != kLinkParam && baseHost > 2) {
            for (int i = 0; i < parent_.Depth; ++i) WriteText("../");
            std::string folder = LocalAddressText(std::string_view(parent_.Base).substr(baseHost), settings_.DefaultDoc,
                                                  false, baseHost == 8 ? "443" : "80");
            // The base is a folder: its default document name is not part of the prefix.
            if (folder.size() >= settings_.DefaultDoc.size() &&
                folder.compare(folder.size() - settings_.DefaultDoc.size(), settings_.DefaultDoc.size(),
                               settings_.DefaultDoc) == 0 &&
                !parent_.Base.empty() && (parent_.Base.back() == '/' || parent_.Base.back() == '\\'))
                folder.erase(folder.size() - settings_.DefaultDoc.size());
            WriteText(folder);
        }
        std::string scratch;
        WriteText(ReplacedPath(Original(start, end, scratch), settings_.DefaultDoc, settings_.ExtLast));
        return;
    }
    }
}

void Analyser::CloseTarget() {
    if (deferred_) {
        WriteSpan(cursor_, n_);
        cursor_ = n_;
        if (deferred_) {
            // Nothing differs: the original takes the target's name too, where the file
            // system allows it (an existing target or a file system without links is written).
            deferred_ = false;
            if (same_ == n_ && ::link(source_.c_str(), target_.c_str()) == 0) return;
            if (!StopDeferring()) return;
        }
    }
    if (out_ < 0) return;
    WriteSpan(cursor_, n_);
    cursor_ = n_;
    Flush();
    const bool placed = engine::CommitScratch(out_, partName_, target_, !writeFailed_);
    out_ = -1;
    if (!placed) Report("Error writing to file: " + target_, false);
}

void Analyser::CopyJavaClass() {
    // The class file is stored as it came; the text read is exactly the source's bytes.
    if (!OpenPart()) {
        Report("Error creating file: " + target_, false);
        return;
    }
    cursor_ = 0;
    CloseTarget();
    env_.WriteRedirectStub(parent_);
}

}  // namespace qm::analysis::detail
