#pragma once
// The text rules behind addresses: cleaning an address into its canonical form, splitting it
// into server, directory and file name, the keyword and extension lists of a Project, and
// the mapping of a relative local name to a file name. Pure functions on 8-bit text; the
// record-level routines (Normalise, Admit, LocalPath) are built on them.
//
// Every routine here runs in time linear in its input, whatever the input.
#include <string>
#include <string_view>

namespace qm::store {
struct FileCategory;
}  // namespace qm::store
namespace qm::addresses {

// ---- cleaning ------------------------------------------------------------------------------

enum class CleanStatus {
    Ok,
    BadScheme,   // not http://, https:// or file://
    ClimbsAbove  // a local-file address whose ".." climbs above its start
};

struct CleanedAddress {
    bool isFile = false;          // file:// address
    bool isSecure = false;        // https:// address (stored in the same host folder as http://)
    bool hasCredentials = false;  // "user[:password]@" was taken out of the host part
    std::string credentials;      // what stood before the "@"
};

// Brings url to its canonical form in place: scheme test, backslashes before the query,
// line breaks, "&amp;" entities, the final "/" of a bare host, the default port, credentials,
// "/../", "/./" and doubled "/" segments. The fragment is kept (the admission filter sees it).
CleanStatus CleanAddress(std::string& url, CleanedAddress& out);

// Removes everything from the first "#" on.
void DropFragment(std::string& url);

// The length of an address's scheme part: 8 for "https://" (any case), else 7.
std::size_t SchemeLength(std::string_view url);

// The relative local name of a cleaned address (without its fragment): the address without
// "http://", "https://" or "file://", so that a site reached over http and https keeps one
// copy; for a local-file address without its drive and under "Local Files/".
std::string RelativeLocalName(std::string_view url, bool isFile);

// The number of "/" and "\" characters in text.
int CountSeparators(std::string_view text);

// ---- local names ---------------------------------------------------------------------------

// Maps a relative local name to a file name in place (see MapName in local_path.h), with the
// default document name given instead of taken from the program options.
void MapNameWith(std::string& name, bool addRoot, const std::string& root, const std::string& defaultDoc);

// The stored file name of a relative local name (RelativeLocalName's result), as downloads
// are named: with extLast the extension moves after the query (MoveExtensionLast), then
// MapNameWith puts it under root. The local web server names requests with it too, so an
// address a page's script asks for finds the file its download was stored in.
std::string StoredFileName(std::string relative, bool extLast, const std::string& root, const std::string& defaultDoc);

// A bracketed IPv6 host at the start of name ("[2001:db8::1]:8080/x") becomes the folder name
// "ipv6_2001-db8--1" in place (the port and the rest stay): no brackets or colons, and no
// clash with a host name, as "_" is not a letter of host names. A zone ("%eth0") is dropped.
void StoredIpv6Host(std::string& name);

// For names that browsers open from disk by their extension: in an address text with a query,
// the extension of the file name moves after the query ("s/a.css?v=2#x" becomes
// "s/a?v=2.css#x"), so that its stored name ends in it. Texts without a query, or whose file
// name has no extension of one to ten letters and digits, stay as they are.
void MoveExtensionLast(std::string& text);

// True when no segment of path (split at "/" and "\"), from offset on, is made of dots only,
// and the path is not empty: such a path can never step out of the folder it is joined to.
bool SegmentsStayInside(std::string_view path, std::size_t offset = 0);

// How many characters root takes at the front of MapNameWith(name, true, root, ...), the
// separator that joins it to the name included.
std::size_t MappedRootLength(std::string_view root);

// A folder written without a final separator is still a folder: dir with "/" appended unless
// it is empty or already ends with "/" or "\\".
std::string AsFolder(std::string dir);

// The platform's path separator in stored file names.
constexpr char kPathSep = '/';

// ---- address parts -------------------------------------------------------------------------

struct AddressParts {
    std::string server;     // host, with a port other than 80
    std::string directory;  // from the first separator up to and including the last before the query
    std::string fileName;   // the rest; the default document name when empty
};

// Splits a lower-case address (with or without its scheme) into its parts.
void SplitAddress(std::string_view text, const std::string& defaultDoc, AddressParts& parts);

// The extension of a file name: after its last "." once cut at its first "#" or "?".
std::string_view FileExtension(std::string_view fileName);

// ---- keyword and extension lists -----------------------------------------------------------

// "^" at the start anchors the keyword at the start of text, "$" at its end at the end of
// text; otherwise it may occur anywhere. An empty keyword matches nothing.
bool KeywordMatch(std::string_view text, std::string_view keyword);

// Whether a keyword list (CR LF lines, an optional last line starting with a blank holding one
// "x" per keyword in use) lets text through, as an include or an exclude list.
bool ListAllows(std::string_view list, std::string_view text, bool isInclude);

enum class CategoryVerdict { None, Accepted, Rejected };

// How a file-type category treats an extension (compared without regard to case).
CategoryVerdict CategoryTest(const store::FileCategory& category, std::string_view extension);

// ---- small text helpers --------------------------------------------------------------------

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
std::string AsciiLowerCopy(std::string_view text);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace qm::addresses
