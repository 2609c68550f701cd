#include "store/object_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <typeindex>

#include "platform/clipboard.h"
#include "platform/program_folder.h"
#include "store/folder.h"
#include "store/project.h"

namespace qm::store {

namespace {
const char kFirstLine[] = "Stream 1.1 File";
// 1 January 0001 and 31 December 9999 as days since 30 December 1899.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;
const char kObjectLine[] = "[Object]";

struct TypeEntry {
    StreamFactory factory;
    std::type_index type;
};
std::map<int, TypeEntry>& Types() {
    static std::map<int, TypeEntry> types;
    return types;
}

// Splits text into lines at LF, dropping the CR of a CR LF.
std::vector<std::string_view> FileLines(const std::string& text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl;
        std::size_t len = end - start;
        if (len > 0 && text[end - 1] == '\r') --len;
        lines.emplace_back(text.data() + start, len);
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}
}  // namespace

void RegisterStreamType(int typeCode, StreamFactory factory) {
    if (!factory) return;
    std::unique_ptr<StreamObject> probe = factory();
    if (!probe) return;
    const StreamObject& made = *probe;
    Types().insert_or_assign(typeCode, TypeEntry{factory, std::type_index(typeid(made))});
}

std::unique_ptr<StreamObject> CreateStreamObject(int typeCode) {
    switch (typeCode) {
    case kTypeProject:
    case kTypeBareClass: return std::make_unique<Project>();
    case kTypeFolder: return std::make_unique<ProjectFolder>();
    case kTypeBareClassAlt: return std::make_unique<StreamObject>();
    default: break;
    }
    auto it = Types().find(typeCode);
    if (it != Types().end()) return it->second.factory();
    return nullptr;
}

// ---- encodings ----

bool ParseDecimal(const std::string& text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    if (i >= text.size()) return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
    }
    if (neg) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t LenientInt(const std::string& text) {
    std::int32_t v = 0;
    return ParseDecimal(text, v) ? v : 0;
}

std::string EncodeLineBreaks(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\n')
            c = '\x01';
        else if (c == '\r')
            c = '\x02';
    }
    return out;
}

std::string DecodeLineBreaks(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\x01')
            c = '\n';
        else if (c == '\x02')
            c = '\r';
    }
    return out;
}

std::string EncodeByteDumpDate(double value) {
    unsigned char bytes[8];
    std::memcpy(bytes, &value, 8);  // little-endian on every target we build for
    std::string out;
    for (unsigned char b : bytes) {
        out += std::to_string(b);
        out += ':';
    }
    return out;
}

double DecodeByteDumpDate(const std::string& text) {
    unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::size_t start = 0;
    int part = 0;
    while (start < text.size() && part < 8) {
        std::size_t colon = text.find(':', start);
        std::string piece = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        bytes[part++] = static_cast<unsigned char>(LenientInt(piece));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    double v;
    std::memcpy(&v, bytes, 8);
    // Bytes that make no date (not a number, infinite, or beyond the years 1 to 9999) give
    // 0, so that no later calculation with the date goes astray.
    if (!std::isfinite(v) || v < kMinDateTime || v > kMaxDateTime) return 0;
    return v;
}

double NowDateTime() {
    using namespace std::chrono;
    // Whole seconds and their fraction from one reading of the clock: two readings could
    // straddle a second and put the time a second back.
    const std::int64_t us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    std::time_t t = static_cast<std::time_t>(us / 1000000);
    std::tm local{};
    localtime_r(&t, &local);
    // Seconds since the epoch in local time.
    const double localSeconds = static_cast<double>(t) + static_cast<double>(local.tm_gmtoff);
    const double micros = static_cast<double>(us % 1000000) / 1e6;
    return 25569.0 + (localSeconds + micros) / 86400.0;
}

// ---- ObjectStream ----

ObjectStream::ObjectStream(const std::string& fileName, bool writing) : writing_(writing), fileName_(fileName) {
    if (writing_) {
        fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            Fail("cannot create " + fileName + ": " + std::strerror(errno));
            return;
        }
        ::fchmod(fd_, 0600);
        PutLine(kFirstLine);
        return;
    }
    std::string err;
    if (!platform::ReadWholeFile(fileName, text_, err)) {
        Fail(err);
        end_ = true;
        return;
    }
    lines_ = FileLines(text_);
    ReadHeader();
}

ObjectStream::ObjectStream(UniqueFileTag, const std::string& prefix) : writing_(true), fileName_(prefix) {
    std::string error;
    fd_ = platform::CreateUniqueFile(prefix, true, fileName_, error);
    if (fd_ < 0) {
        Fail(error);
        return;
    }
    PutLine(kFirstLine);
}

ObjectStream::ObjectStream(ClipboardTag, bool writing) : writing_(writing) {}

ObjectStream::~ObjectStream() { Close(); }

void ObjectStream::ReadHeader() {
    ReadSection();
    bool found = false;
    std::string v = Value("Count", &found);
    if (!v.empty()) {
        std::int32_t n = 0;
        if (ParseDecimal(v, n))
            count_ = n;
        else
            Fail("line 2: \"Count\" is not a number: " + v);
    }
}

void ObjectStream::Fail(const std::string& why) {
    if (!failed_) error_ = why;
    failed_ = true;
}

void ObjectStream::ReadSection() {
    sections_.emplace_back();
    std::vector<SectionLine>& sec = sections_.back();
    while (pos_ < lines_.size()) {
        std::string_view line = lines_[pos_++];
        if (line == kObjectLine) {
            sec.push_back({line, std::string_view::npos});
            break;
        }
        // Keep room for the "[Object]" line that closes the section.
        if (sec.size() + 1 < kMaxSectionLines) sec.push_back({line, line.find('=')});
    }
    end_ = pos_ >= lines_.size();
}

void ObjectStream::PopSection() {
    if (sections_.size() > 1) sections_.pop_back();
}

std::string ObjectStream::Value(const std::string& key, bool* found) const {
    if (found) *found = false;
    if (sections_.empty()) return {};
    for (const SectionLine& l : sections_.back()) {
        const std::size_t eq = l.eq;
        if (eq != key.size() || l.text.compare(0, eq, key) != 0) continue;
        std::size_t end = l.text.size();
        while (end > eq + 1 && static_cast<unsigned char>(l.text[end - 1]) < 33) --end;
        if (found) *found = true;
        return std::string(l.text.substr(eq + 1, end - eq - 1));
    }
    return {};
}

bool ObjectStream::HasKey(const std::string& key) const {
    bool found = false;
    Value(key, &found);
    return found;
}

std::int32_t ObjectStream::ReadInt(const std::string& key) {
    std::string v = Value(key);
    if (v.empty()) return 0;
    std::int32_t n = 0;
    if (!ParseDecimal(v, n))
        throw StreamConversionError("\"" + v + "\" is not a valid integer value for \"" + key + "\"");
    return n;
}

void ObjectStream::ReadStr(const std::string& key, std::string& text) { text = Value(key); }

bool ObjectStream::ReadBool(const std::string& key) { return Value(key) == "True"; }

std::int64_t ObjectStream::ReadComp(const std::string& key) {
    std::string v = Value(key);
    if (v.empty()) return 0;
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (end == v.c_str() || *end != '\0' || !std::isfinite(d) || std::fabs(d) > 9.2e18)
        throw StreamConversionError("\"" + v + "\" is not a valid number for \"" + key + "\"");
    return static_cast<std::int64_t>(std::llround(d));
}

namespace {
// Date-time to broken-down local time and back (days since 30 December 1899).
std::tm ToTm(double value) {
    if (!std::isfinite(value) || value < kMinDateTime || value > kMaxDateTime) value = 0;
    double days = std::floor(value);
    double frac = value - days;
    std::time_t secs = static_cast<std::time_t>((days - 25569.0) * 86400.0);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    long s = std::lround(frac * 86400.0);
    if (s >= 86400) s = 86399;
    tm.tm_hour = static_cast<int>(s / 3600);
    tm.tm_min = static_cast<int>(s / 60 % 60);
    tm.tm_sec = static_cast<int>(s % 60);
    return tm;
}
}  // namespace

double ObjectStream::ReadDateTime(const std::string& key) {
    std::string v = Value(key);
    if (v.empty()) return 0;
    std::tm tm{};
    const char* end = strptime(v.c_str(), "%x %X", &tm);
    if (!end || *end != '\0')
        throw StreamConversionError("\"" + v + "\" is not a valid date and time for \"" + key + "\"");
    tm.tm_isdst = 0;
    std::time_t secs = timegm(&tm);
    return 25569.0 + static_cast<double>(secs) / 86400.0;
}

void ObjectStream::PutLine(const std::string& line) {
    if (!writing_ || fd_ < 0) return;
    buffer_ += line;
    buffer_ += "\r\n";
    if (buffer_.size() >= (1u << 16)) Flush();
}

void ObjectStream::Flush() {
    if (fd_ < 0) {
        buffer_.clear();
        return;
    }
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        ssize_t w = ::write(fd_, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            Fail("cannot write " + fileName_ + ": " + std::strerror(errno));
            break;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
    buffer_.clear();
}

bool ObjectStream::Close() {
    if (closed_) return !failed_;
    closed_ = true;
    if (writing_ && fd_ >= 0) {
        Flush();
        if (::fsync(fd_) != 0) Fail("cannot write " + fileName_ + ": " + std::strerror(errno));
        if (::close(fd_) != 0) Fail("cannot close " + fileName_ + ": " + std::strerror(errno));
        fd_ = -1;
    }
    if (!writing_) {
        sections_.clear();
        lines_.clear();
        lines_.shrink_to_fit();
        text_.clear();
        text_.shrink_to_fit();
        end_ = true;
    }
    return !failed_;
}

void ObjectStream::WriteInt(const std::string& key, std::int32_t value) { PutLine(key + "=" + std::to_string(value)); }

void ObjectStream::WriteStr(const std::string& key, const std::string& text) { PutLine(key + "=" + text); }

void ObjectStream::WriteBool(const std::string& key, bool value) { PutLine(key + (value ? "=True" : "=False")); }

void ObjectStream::WriteComp(const std::string& key, std::int64_t value) { PutLine(key + "=" + std::to_string(value)); }

void ObjectStream::WriteDateTime(const std::string& key, double value) {
    std::tm tm = ToTm(value);
    char buf[128];
    std::size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
    PutLine(key + "=" + std::string(buf, n));
}

void ObjectStream::WriteCount(int n) {
    if (writing_) count_ = n;
    PutLine("Count=" + std::to_string(n));
}

int ObjectStream::TypeCodeOf(const StreamObject&) const { return kTypeBareClass; }

bool ObjectStream::ReadObject(std::unique_ptr<StreamObject>& object) {
    if (writing_ || end_) return false;
    ReadSection();
    bool ok = true;
    try {
        if (object) object->Load(*this);
    } catch (const StreamConversionError& e) {
        error_ = fileName_ + ": object ending at line " + std::to_string(pos_) + ": " + e.what();
        failed_ = true;
        ok = false;
    }
    PopSection();
    return ok;
}

void ObjectStream::WriteObject(StreamObject& object) {
    PutLine(kObjectLine);
    WriteInt("Type", TypeCodeOf(object));
    object.Save(*this);
}

// ---- TypedStream ----

int TypedStream::TypeCodeOf(const StreamObject& object) const {
    if (dynamic_cast<const Project*>(&object)) return kTypeProject;
    if (dynamic_cast<const ProjectFolder*>(&object)) return kTypeFolder;
    const std::type_index type(typeid(object));
    for (const auto& [code, entry] : Types())
        if (entry.type == type) return code;
    return kTypeBareClass;
}

bool TypedStream::ReadObject(std::unique_ptr<StreamObject>& object) {
    if (writing_ || end_) return false;
    ReadSection();
    bool ok = true;
    try {
        std::unique_ptr<StreamObject> created = CreateStreamObject(ReadInt("Type"));
        if (created) {
            created->Load(*this);
            object = std::move(created);
        }
    } catch (const StreamConversionError& e) {
        error_ = (fileName_.empty() ? std::string("clipboard") : fileName_) + ": object ending at line " +
                 std::to_string(pos_) + ": " + e.what();
        failed_ = true;
        ok = false;
    }
    PopSection();
    return ok;
}

// ---- ClipboardStream ----

ClipboardStream::ClipboardStream(bool writing) : TypedStream(ClipboardTag{}, writing) {
    if (writing) return;
    text_ = platform::SystemClipboard().Text();
    std::string& text = text_;
    if (text.size() > kClipboardLimit - 1) text.resize(kClipboardLimit - 1);
    // Like the system's text lists: a line ends at CR, LF or CR LF; a zero ends the text.
    if (std::size_t z = text.find('\0'); z != std::string::npos) text.resize(z);
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines_.emplace_back(text.data() + start, i - start);
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines_.emplace_back(text.data() + start, text.size() - start);
    ReadHeader();
}

ClipboardStream::~ClipboardStream() {
    if (writing_) Commit();
}

void ClipboardStream::PutLine(const std::string& line) {
    if (writing_) out_.push_back(line);
}

std::string ClipboardStream::Text() const {
    std::string s;
    for (const auto& l : out_) {
        s += l;
        s += "\r\n";
    }
    return s;
}

void ClipboardStream::Commit() {
    if (!writing_ || committed_) return;
    committed_ = true;
    platform::SystemClipboard().SetText(Text());
}

}  // namespace qm::store
