#pragma once
// WACZ 1.1.1 packages: a Project's archive files with one combined index, its pages and a
// data package listing every file's SHA-256, in one ZIP file that web-archive players open.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm::archive {

struct WaczPage {
    std::string url, ts, title;  // ts: the WARC date of its response
};

// The pages of archive files: each html address answered 200, its latest answer's date
// and the title of that answer.
std::vector<WaczPage> PagesOf(const std::vector<std::string>& archivePaths);

// Packs archivePaths into target (written under a temporary name, then renamed).
// progress gets each step's text. False with error.
bool WriteWacz(const std::string& target, const std::string& title, const std::vector<std::string>& archivePaths,
               const std::function<void(const std::string&)>& progress, std::string& error);

// The title of an html page: the text of its first <title> element, spaces joined, at
// most 200 bytes; empty without one.
std::string PageTitle(std::string_view html);

}  // namespace qm::archive
