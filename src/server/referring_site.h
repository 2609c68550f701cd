#pragma once
// Scripts of a stored page often ask for addresses from the top of their server ("/api/items"):
// served from "/Sites/host/index.htm", such a request reaches "/api/items", outside the stored
// site. The page's own address, which the browser sends along as the Referer, tells which
// stored site the request belongs to.
#include <string>
#include <string_view>

#include "server/served_settings.h"

namespace qm::server {

// The stored site of the page that made a request: for a Referer naming this server (one of
// its own names, with port) and a page "/Sites/host/dir/page.htm" under the Project tree
// folder "Sites", "Sites/host"; for "/host/page.htm" under the download folder, "host". Empty
// when the request has no such Referer. Only the request head is read.
std::string ReferringSite(std::string_view request, int port, const ServedSettings& settings);

}  // namespace qm::server
