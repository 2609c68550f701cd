#pragma once
// The description file of a downloaded directory: "Descr.QV3", one binary record per
// stored file with its text, the day it was written, its last-modified text and its content
// type. The older "Descr.Dat" of fixed 202-byte records is read but never written.
//
// "Descr.QV3" record (integers little-endian):
//   0  4  total length = 12 + name length + text length + 76
//   4  4  name length
//   8  4  text length
//   12    name, then text
//   then  4  day stamp (days since 30 December 1899)
//         31 last-modified text (length byte + up to 30 characters)
//         41 content type (length byte + up to 40 characters)
// A header with total length and name length both 0, or the end of the file, ends the list.
#include <cstdint>
#include <string>

namespace qm::store {

struct FileDescription {
    std::string Name;  // the file name, compared case-sensitively
    std::string Text;  // the record text (kept when the record is rewritten)
    std::int32_t DayStamp = 0;
    std::string LastModified;  // at most 30 characters are stored
    std::string ContentType;   // at most 40 characters are stored
};

inline constexpr const char* kDescriptionFile = "Descr.QV3";
inline constexpr const char* kOldDescriptionFile = "Descr.Dat";

// Looks the record for name up in directory (without a final separator): first in
// "Descr.QV3", then in "Descr.Dat". record.ContentType is an in-out value: the old file
// leaves it as passed unless it knows the file is HTML. Damaged or hostile files read as if
// they ended at the damage.
bool ReadDescription(const std::string& directory, const std::string& name, FileDescription& record);

// Writes record into "Descr.QV3" of directory (created when missing) with today's day stamp
// of the program: an existing record of that name gets only its tail (day stamp,
// last-modified, content type) overwritten; otherwise the record is added over the end
// marker or at the end. False when the file cannot be opened or written.
bool WriteDescription(const std::string& directory, const FileDescription& record);

// The program's day count: the date-time at program start rounded to whole days.
std::int32_t ProgramDayCount();

}  // namespace qm::store
