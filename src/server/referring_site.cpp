#include "server/referring_site.h"

#include "server/host_check.h"
#include "server/request_head.h"
#include "server/responses.h"
#include "store/string_list.h"

namespace qm::server {

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string ReferringSite(std::string_view request, int port, const ServedSettings& settings) {
    const std::vector<std::string_view> referers = HeaderValues(request, "referer:");
    if (referers.empty()) return {};
    std::string_view referer = referers.front();
    static constexpr std::string_view kScheme = "http://";
    if (store::CompareNoCase(referer.substr(0, kScheme.size()), kScheme) != 0) return {};
    referer.remove_prefix(kScheme.size());
    const std::size_t pathAt = referer.find('/');
    if (pathAt == std::string_view::npos) return {};
    // The page must have come from this server, under a name of its own.
    if (!NamesThisServer(referer.substr(0, pathAt), port)) return {};
    std::string_view path = referer.substr(pathAt);
    path = path.substr(0, path.find_first_of("?#"));
    const std::string& prefix = settings.urlPrefix;
    if (!prefix.empty() && Lower(std::string(path.substr(0, prefix.size()))) == Lower(prefix))
        path.remove_prefix(prefix.size());
    else
        path.remove_prefix(1);

    // The segments that name the site: the folder's caption, when it is one, and the host.
    auto segmentEnd = [&path](std::size_t from) {
        for (std::size_t i = from; i < path.size(); ++i)
            if (IsSep(path[i])) return i;
        return std::string_view::npos;
    };
    const std::size_t first = segmentEnd(0);
    if (first == std::string_view::npos || first == 0) return {};
    const std::string caption = Lower(DecodePercent(std::string(path.substr(0, first)), 0));
    bool isFolder = false;
    for (const auto& folder : settings.folders)
        if (folder.lowerCaption == caption) isFolder = true;
    if (!isFolder) return std::string(path.substr(0, first));
    const std::size_t second = segmentEnd(first + 1);
    if (second == std::string_view::npos || second == first + 1) return {};
    return std::string(path.substr(0, second));
}

}  // namespace qm::server
