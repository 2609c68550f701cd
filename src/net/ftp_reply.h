#pragma once
// Reads the replies of an FTP server's control connection. Bytes are fed as they arrive, in
// pieces of any size; complete replies come out one at a time. A reply is one line
// "123 text", or several lines from "123-text" up to the line that begins with the same
// three digits and a blank. The text kept while a reply is incomplete is bounded.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::net {

struct FtpReply {
    int code = 0;      // the three digits, 100 .. 999; 0 for a line that is not a reply
    int digit = 0;     // the first digit of the code: 1 .. 9, or 0
    std::string text;  // every line of the reply, each ending with the line break received
};

class FtpReplyReader {
public:
    // More than this many bytes of one unfinished reply end the conversation.
    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

    // Adds received bytes; take every complete reply with Next before feeding more. False
    // when the unfinished reply left from earlier bytes is longer than kMaxReplyBytes.
    bool Feed(const char* data, std::size_t size);
    // The next complete reply, if one is in. A line that does not begin with three digits
    // outside a multi-line reply comes out as a reply of code 0 (digit 0), which is not a
    // reply the conversation can act on.
    std::optional<FtpReply> Next();
    void Clear();

private:
    std::string pending_;
    std::size_t scanned_ = 0;  // bytes of pending_ known to hold no complete reply
};

// The number made of the decimal digits at text[from...], at most 18 of them counted;
// more digits than fit saturate at the largest 64-bit value. digits gets their number.
std::int64_t FtpDigitsValue(std::string_view text, std::size_t from, std::size_t* digits = nullptr);
// The size in a SIZE reply: the digits after the first blank. Returns the digits' text.
std::string FtpSizeDigits(std::string_view reply);
// The size in a transfer reply: the digits just before " bytes)", never the reply's first
// character. Empty when there is no " bytes)".
std::optional<std::string> FtpTransferSizeDigits(std::string_view reply);
// Whether text may go on the control connection: no CR, LF or NUL.
bool FtpSafeArgument(std::string_view text);

}  // namespace qm::net
