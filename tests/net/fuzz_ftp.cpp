// Fuzz target: the FTP control-connection reply reader and the listing-to-HTML converter,
// fed the same bytes in pieces whose sizes the input chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/ftp_listing.h"
#include "net/ftp_reply.h"
#include "net/ftp_step.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = 1 + data[0] % 97;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t n = size - 1;

    qm::net::FtpReplyReader reader;
    for (std::size_t at = 0; at < n; at += step) {
        std::size_t len = n - at < step ? n - at : step;
        if (!reader.Feed(text + at, len)) break;
        while (auto reply = reader.Next()) {
            if (reply->digit < 0 || reply->digit > 9 || reply->text.empty()) std::abort();
            qm::net::FtpSizeDigits(reply->text);
            qm::net::FtpTransferSizeDigits(reply->text);
            qm::net::FtpConversation::PassivePort(reply->text);
            const int port = qm::net::FtpConversation::ExtendedPassivePort(reply->text);
            if (port < 0 || port > 65535) std::abort();
        }
    }

    qm::net::FtpListingConverter listing;
    listing.Reset();
    std::string page;
    for (std::size_t at = 0; at < n; at += step) {
        std::size_t len = n - at < step ? n - at : step;
        listing.Convert(std::string_view(text + at, len), page);
        if (listing.Carry() > qm::net::FtpListingConverter::kMaxLineBytes) std::abort();
    }
    listing.Finish(page);
    // Whatever the listing, the page's only tags are the ones the converter writes.
    for (std::size_t p = page.find('<'); p != std::string::npos; p = page.find('<', p + 1)) {
        std::string_view tag(page.data() + p, page.size() - p);
        if (tag.rfind("<HTML>", 0) != 0 && tag.rfind("<PRE>", 0) != 0 && tag.rfind("<a href=\"", 0) != 0 &&
            tag.rfind("</a>", 0) != 0)
            std::abort();
    }
    return 0;
}
