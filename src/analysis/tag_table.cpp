#include "analysis/tag_table.h"

namespace qm::analysis {

const TagRow kTagTable[kTagRowCount] = {
    {"<im", false, "src", "lowsrc", kLinkEmbedded, 1},
    {"<applet", false, "codebase", "code", kLinkApplet, 1},
    {"<a", false, "href", "", kLinkPage, 1},
    {"<!--", true, "->", "-!>", kLinkComment, 1},
    {"<script", true, "/script>", "", kLinkScript, 1},
    {"<input", true, ">", "onclick", kLinkScript, 1},
    {"<body", false, "background", "", kLinkEmbedded, 1},
    {"<frame", false, "src", "", kLinkPage, 0},
    {"<bgsound", false, "src", "", kLinkEmbedded, 1},
    {"<embed", false, "src", "", kLinkEmbedded, 1},
    {"<iframe", false, "src", "", kLinkPage, 0},
    {"<link", false, "href", "", kLinkPage, 0},
    {"<input", false, "src", "", kLinkEmbedded, 1},
    {"<object", false, "codebase", "", kLinkEmbedded, 1},
    {"<table", false, "background", "", kLinkEmbedded, 1},
    {"<td", false, "background", "", kLinkEmbedded, 1},
    {"<th", false, "background", "", kLinkEmbedded, 1},
    {"<base", false, "href", "", kLinkBase, 1},
    {"<param", false, "value", "", kLinkParam, 1},
    {"<option", false, "value", "", kLinkOption, 1},
    {"<meta", false, "url", "", kLinkPage, 1},
    {"<style", true, "</style", "", kLinkStyle, 0},
    {"<", false, "style", "", kLinkStyle, 0},
    {"", false, "", "", kLinkEmbedded, 0},
    {"", false, "", "", kLinkEmbedded, 1},
};

}  // namespace qm::analysis
