// Queued download records kept small: packing, unpacking, and the queue's entry.
#include "engine/packed_record.h"

#include <cstring>
#include <string_view>

#include "engine/get_rec.h"

namespace qm::engine {

namespace {

// Every field of DownloadRecord is either kept by the packed form or makes a record unpackable
// (Packable); a field added to the record must be added here too, or it would be lost while
// its record waits in the queue.
static_assert(sizeof(DownloadRecord) == 728, "a field of DownloadRecord is missing from the packed form");

enum Flag : std::uint8_t {
    kImg = 1,
    kSrv = 2,
    kJavaClass = 4,
    kIsImage = 8,
    kNameSplit = 16,    // FName is Path + "/" + RFile
    kNameFromURL = 32,  // RFile is the end of URL after its last "/"
};

void PutNumber(std::string& out, std::uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<char>((n & 0x7f) | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

// Signed numbers near 0 take one byte, whatever their sign.
void PutInt(std::string& out, std::int32_t n) {
    const auto u = static_cast<std::uint32_t>(n);
    PutNumber(out, (u << 1) ^ (n < 0 ? 0xffffffffu : 0u));
}

void PutText(std::string& out, std::string_view text) {
    PutNumber(out, text.size());
    out.append(text);
}

std::uint64_t GetNumber(const char*& p) {
    std::uint64_t n = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) break;
        shift += 7;
    }
    return n;
}

std::int32_t GetInt(const char*& p) {
    const auto u = static_cast<std::uint32_t>(GetNumber(p));
    return static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1)));
}

std::string_view GetText(const char*& p) {
    const auto n = static_cast<std::size_t>(GetNumber(p));
    std::string_view text(p, n);
    p += n;
    return text;
}

bool NameEndsURL(const DownloadRecord& r) {
    const std::size_t n = r.RFile.size();
    return n > 0 && r.URL.size() > n && r.URL[r.URL.size() - n - 1] == '/' && r.RFile.find('/') == std::string::npos &&
           r.URL.compare(r.URL.size() - n, n, r.RFile) == 0;
}

std::size_t CommonStart(std::string_view a, std::string_view b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

bool NameIsSplit(const DownloadRecord& r) {
    return r.FName.size() == r.Path.size() + 1 + r.RFile.size() && r.FName[r.Path.size()] == '/' &&
           r.FName.compare(0, r.Path.size(), r.Path) == 0 &&
           r.FName.compare(r.Path.size() + 1, std::string::npos, r.RFile) == 0;
}

}  // namespace

ContextRef::ContextRef(PackedContext* context) : p_(context) {
    if (p_) p_->refs.fetch_add(1, std::memory_order_relaxed);
}

ContextRef::ContextRef(const ContextRef& other) : p_(other.p_) {
    if (p_) p_->refs.fetch_add(1, std::memory_order_relaxed);
}

ContextRef& ContextRef::operator=(const ContextRef& other) {
    if (other.p_) other.p_->refs.fetch_add(1, std::memory_order_relaxed);
    Drop();
    p_ = other.p_;
    return *this;
}

ContextRef& ContextRef::operator=(ContextRef&& other) noexcept {
    if (this != &other) {
        Drop();
        p_ = other.p_;
        other.p_ = nullptr;
    }
    return *this;
}

ContextRef::~ContextRef() { Drop(); }

void ContextRef::Drop() {
    if (p_ && p_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete p_;
    p_ = nullptr;
}

PackedRecord::PackedRecord() = default;
PackedRecord::~PackedRecord() = default;
PackedRecord::PackedRecord(PackedRecord&&) noexcept = default;
PackedRecord& PackedRecord::operator=(PackedRecord&&) noexcept = default;

bool PackedRecord::Packable(const DownloadRecord& r) {
    return !r.Busy && !r.Conn && !r.DataFile && !r.DataBuffer && !r.Parser && r.ContentType.empty() &&
           r.AnalysisSource.empty() && r.AnalysisTarget.empty() && !r.AnalysisDeletesTemp && !r.BodyFileMade &&
           r.BadRequestAnswers == 0 && r.FailedAttempts == 0 && r.NotBeforeMs == 0 && r.OldFName.empty() &&
           r.OldDepth == 0 && r.NewFName.empty() && r.AuthChallenge.empty() && r.AuthUser.empty() &&
           r.AuthPassword.empty() && r.RedirectStart.empty() && r.RedirectHops == 0 && !r.IsStartAddress && !r.Outlinks;
}

PackedRecord PackedRecord::Pack(const DownloadRecord& r, ContextRef& last) {
    if (!last || last->Project != r.Project || last->Category != r.Category || last->Referer != r.Referer ||
        last->InitWay != r.InitWay || last->Path != r.Path) {
        auto* context = new PackedContext;
        context->Project = r.Project;
        context->Category = r.Category;
        context->Referer = r.Referer;
        context->InitWay = r.InitWay;
        context->Path = r.Path;
        last = ContextRef(context);
    }
    PackedRecord p;
    p.context_ = last;
    const bool split = NameIsSplit(r);
    const bool nameFromURL = NameEndsURL(r);
    // A link mostly shares its beginning with the page it was found on.
    const std::size_t shared = CommonStart(r.URL, last->Referer);
    std::string texts;
    texts.reserve(r.URL.size() + r.RFile.size() + 16);
    texts.push_back(static_cast<char>((r.Img ? kImg : 0) | (r.Srv ? kSrv : 0) | (r.JavaClass ? kJavaClass : 0) |
                                      (r.IsImage ? kIsImage : 0) | (split ? kNameSplit : 0) |
                                      (nameFromURL ? kNameFromURL : 0)));
    PutInt(texts, r.Lev);
    PutInt(texts, r.Depth);
    PutInt(texts, r.ConnTries);
    PutInt(texts, r.LoadedIID);
    PutInt(texts, r.StepsBeyondLevel);
    PutNumber(texts, shared);
    PutText(texts, std::string_view(r.URL).substr(shared));
    PutText(texts, nameFromURL ? std::string_view() : std::string_view(r.RFile));
    PutText(texts, split ? std::string_view() : std::string_view(r.FName));
    PutText(texts, r.Temp);
    PutText(texts, r.Base);
    PutText(texts, r.URLPsw);
    p.data_.reset(new char[texts.size()]);
    std::memcpy(p.data_.get(), texts.data(), texts.size());
    return p;
}

std::unique_ptr<DownloadRecord> PackedRecord::Unpack() const {
    auto r = std::make_unique<DownloadRecord>();
    r->Project = context_->Project;
    r->Category = context_->Category;
    r->Referer = context_->Referer;
    r->InitWay = context_->InitWay;
    r->Path = context_->Path;
    const char* p = data_.get();
    const auto flags = static_cast<std::uint8_t>(*p++);
    r->Img = flags & kImg;
    r->Srv = flags & kSrv;
    r->JavaClass = flags & kJavaClass;
    r->IsImage = flags & kIsImage;
    r->Lev = GetInt(p);
    r->Depth = GetInt(p);
    r->ConnTries = GetInt(p);
    r->LoadedIID = GetInt(p);
    r->StepsBeyondLevel = static_cast<std::uint8_t>(GetInt(p));
    const auto shared = static_cast<std::size_t>(GetNumber(p));
    r->URL.assign(context_->Referer, 0, shared);
    r->URL += GetText(p);
    r->RFile = GetText(p);
    if (flags & kNameFromURL) r->RFile.assign(r->URL, r->URL.rfind('/') + 1, std::string::npos);
    r->FName = GetText(p);
    if (flags & kNameSplit) r->FName = r->Path + "/" + r->RFile;
    r->Temp = GetText(p);
    r->Base = GetText(p);
    r->URLPsw = GetText(p);
    return r;
}

QueuedRecord::QueuedRecord(std::unique_ptr<DownloadRecord> record) : full_(std::move(record)) {}
QueuedRecord::QueuedRecord(PackedRecord packed) : packed_(std::move(packed)) {}
QueuedRecord::~QueuedRecord() = default;
QueuedRecord::QueuedRecord(QueuedRecord&&) noexcept = default;
QueuedRecord& QueuedRecord::operator=(QueuedRecord&&) noexcept = default;

DownloadRecord* QueuedRecord::get() const {
    if (!full_ && !packed_.Empty()) {
        full_ = packed_.Unpack();
        packed_ = PackedRecord();
    }
    return full_.get();
}

std::unique_ptr<DownloadRecord> QueuedRecord::Release() {
    get();
    return std::move(full_);
}

bool QueuedRecord::Busy() const { return full_ && full_->Busy; }

std::int64_t QueuedRecord::NotBeforeMs() const { return full_ ? full_->NotBeforeMs : 0; }

store::Project* QueuedRecord::Project() const { return full_ ? full_->Project : packed_.Project(); }

std::unique_ptr<DownloadRecord> QueuedRecord::UnpackedCopy() const {
    if (full_ || packed_.Empty()) return nullptr;
    return packed_.Unpack();
}

}  // namespace qm::engine
