#pragma once
// Turns an FTP directory listing into a small HTML page with one link per entry, piece by
// piece as the listing arrives. Unix-style lines ("drwxr-xr-x 2 u g 4096 Jan 1 10:00 docs")
// keep their first eight fields and end in a link whose target is the name (with "/" for
// a directory) and whose text is the name's first word; other lines pass through. Every
// character that reaches the page is escaped, so names cannot add markup.
#include <cstddef>
#include <string>
#include <string_view>

namespace qm::net {

class FtpListingConverter {
public:
    // An unfinished line longer than this is passed through as it stands, and so is the
    // rest of it, so that what is held back stays small.
    static constexpr std::size_t kMaxLineBytes = 16 * 1024;

    // Starts a new listing: the next piece is preceded by "<HTML><PRE>" CR LF.
    void Reset();
    // Converts the complete lines of what was carried plus this piece, appending to out;
    // the last, unfinished line is carried to the next call.
    void Convert(std::string_view piece, std::string& out);
    // The end of the listing: a carried last line without a line break is converted too.
    void Finish(std::string& out);
    std::size_t Carry() const { return carry_.size(); }

    // One line (without its line break) as it appears on the page.
    static void ConvertLine(std::string_view line, std::string& out);

private:
    std::string carry_;
    bool started_ = false;
    bool passingLongLine_ = false;  // inside an over-long line: the rest passes through
};

// Whether a listing field is a Unix permission text such as "drwxr-xr-x".
bool IsPermissionText(std::string_view field);

}  // namespace qm::net
