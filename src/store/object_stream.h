#pragma once
// The object stream: the line-oriented text format in which Projects, folders and download
// records are written to the Project tree store, to queue files and to the clipboard.
//
//   Stream 1.1 File
//   Count=0
//   [Object]
//   Type=1
//   Text=Default
//   ...
//
// Every line but the first and the "[Object]" lines is key=value; a lookup takes the first
// line of the current object with that exact key and the text after its first "=", without
// trailing blanks and control characters.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "store/streamable.h"

namespace qm::store {

// A value that cannot be converted (an integer that is no decimal number...). Raised by
// the read operations; ReadObject catches it, ends that read and reports it through
// Failed() and Error().
class StreamConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Creates an empty object for a type code read from a stream.
using StreamFactory = std::unique_ptr<StreamObject> (*)();
// Makes TypedStream and ClipboardStream create objects of typeCode with factory, and write that
// code for objects of the class the factory creates. Used for the download record (2).
void RegisterStreamType(int typeCode, StreamFactory factory);

class ObjectStream {
public:
    // An object section holds at most this many lines; further key lines are dropped.
    static constexpr std::size_t kMaxSectionLines = 101;

    // A file stream. Writing creates (truncates) fileName, readable by its owner only, and
    // writes "Stream 1.1 File"; reading loads the file, reads the header section and takes
    // the count from its "Count" key.
    ObjectStream(const std::string& fileName, bool writing);
    // A writing stream into a new file named prefix + a unique suffix, created exclusively
    // (platform::CreateUniqueFile): the temporary file of a save that no other writer shares.
    struct UniqueFileTag {};
    ObjectStream(UniqueFileTag, const std::string& prefix);
    virtual ~ObjectStream();
    ObjectStream(const ObjectStream&) = delete;
    ObjectStream& operator=(const ObjectStream&) = delete;

    // Reads the next object's section and loads it. The base stream loads into the object
    // the caller passed (when there is one); TypedStream creates the object from its "Type".
    // False when the object could not be read (a conversion error): the section is consumed
    // and a created object discarded; Error() says why.
    virtual bool ReadObject(std::unique_ptr<StreamObject>& object);
    // Writes "[Object]", "Type" and the object's own keys.
    virtual void WriteObject(StreamObject& object);

    std::int32_t ReadInt(const std::string& key);
    void ReadStr(const std::string& key, std::string& text);
    std::string ReadStr(const std::string& key) {
        std::string s;
        ReadStr(key, s);
        return s;
    }
    bool ReadBool(const std::string& key);
    std::int32_t ReadLong(const std::string& key) { return ReadInt(key); }
    std::int64_t ReadComp(const std::string& key);
    double ReadDateTime(const std::string& key);

    virtual void WriteInt(const std::string& key, std::int32_t value);
    virtual void WriteStr(const std::string& key, const std::string& text);
    virtual void WriteBool(const std::string& key, bool value);
    void WriteLong(const std::string& key, std::int32_t value) { WriteInt(key, value); }
    void WriteComp(const std::string& key, std::int64_t value);
    void WriteDateTime(const std::string& key, double value);

    void WriteCount(int n);
    bool HasKey(const std::string& key) const;

    bool Writing() const { return writing_; }
    int Count() const { return count_; }
    bool End() const { return end_; }
    // Writing: flushes and closes the file (data synced to disk); false when anything could
    // not be written. Reading: releases the text.
    bool Close();
    // An open or write failure, or the last failed read.
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }
    // The file read or written.
    const std::string& FileName() const { return fileName_; }
    // The line number (1-based) of the line read last, for messages.
    std::size_t LineNumber() const { return pos_; }

protected:
    struct ClipboardTag {};
    ObjectStream(ClipboardTag, bool writing);  // no file; see ClipboardStream

    // The value of key in the top section: found tells whether a line had the key.
    std::string Value(const std::string& key, bool* found = nullptr) const;
    void ReadSection();
    void PopSection();
    void ReadHeader();
    virtual void PutLine(const std::string& line);
    // The type code to write for object.
    virtual int TypeCodeOf(const StreamObject& object) const;
    void Fail(const std::string& why);

    bool writing_;
    int count_ = 0;
    bool end_ = false;
    bool failed_ = false;
    std::string error_;
    std::string fileName_;
    // Reading: the whole text, its lines and the index of the next one.
    std::string text_;
    std::vector<std::string_view> lines_;
    std::size_t pos_ = 0;
    struct SectionLine {
        std::string_view text;
        std::size_t eq;  // position of the first "=", npos when there is none
    };
    std::vector<std::vector<SectionLine>> sections_;
    // Writing a file.
    int fd_ = -1;
    std::string buffer_;
    bool closed_ = false;

private:
    void Flush();
};

// The file stream that names each object's class by its type code and creates the right
// object on reading: 0 (or 32767) a Project, 1 a folder, 2 a download record, 65535 a bare
// StreamObject; any other code creates nothing and skips the object.
class TypedStream : public ObjectStream {
public:
    TypedStream(const std::string& fileName, bool writing) : ObjectStream(fileName, writing) {}
    TypedStream(UniqueFileTag tag, const std::string& prefix) : ObjectStream(tag, prefix) {}
    bool ReadObject(std::unique_ptr<StreamObject>& object) override;

protected:
    using ObjectStream::ObjectStream;
    int TypeCodeOf(const StreamObject& object) const override;
};

// The same lines on the clipboard. Reading takes the clipboard's text (at most 59999
// bytes) at creation; a writing stream puts its lines on the clipboard when it is
// destroyed (or at Close), replacing what was there.
class ClipboardStream : public TypedStream {
public:
    static constexpr std::size_t kClipboardLimit = 60000;  // bytes, with the terminating zero
    explicit ClipboardStream(bool writing);
    ~ClipboardStream() override;
    // The text written so far.
    std::string Text() const;
    void Commit();  // puts the text on the clipboard now (done at destruction otherwise)

protected:
    void PutLine(const std::string& line) override;

private:
    std::vector<std::string> out_;
    bool committed_ = false;
};

// Creates the object for a type code as TypedStream does (nullptr for unknown codes).
std::unique_ptr<StreamObject> CreateStreamObject(int typeCode);

// Encodings shared by the classes that store themselves.
// Every LF becomes byte 1 and every CR byte 2, and back.
std::string EncodeLineBreaks(const std::string& text);
std::string DecodeLineBreaks(const std::string& text);
// The eight bytes of a date-time, each in decimal followed by ":"; and back (at most
// eight parts are taken, anything not a number gives 0).
std::string EncodeByteDumpDate(double value);
double DecodeByteDumpDate(const std::string& text);
// Decimal text as the stream reads integers; false when it is not a number.
bool ParseDecimal(const std::string& text, std::int32_t& value);
// text as a decimal number, 0 when it is not one (the lenient conversion of lists).
std::int32_t LenientInt(const std::string& text);

// The current date-time as days since 30 December 1899.
double NowDateTime();

}  // namespace qm::store
