#pragma once
// The fixed table of tags the link scanner looks for, in the order that settles ties.
#include <cstddef>

namespace qm::analysis {

// What a link found through a row is.
enum LinkKind : int {
    kLinkComment = 0,   // skipped text
    kLinkEmbedded = 1,  // image, sound, background, object code
    kLinkPage = 2,      // hyperlink, frame, style sheet, refresh target
    kLinkApplet = 3,
    kLinkBase = 4,
    kLinkScript = 5,
    kLinkParam = 6,
    kLinkOption = 7,
    kLinkStyle = 8,  // a style sheet inside a page: <style> blocks and style="" values
};

struct TagRow {
    const char* tag;     // lower case, with its "<"
    bool block;          // covers a stretch up to an end marker
    const char* first;   // link attribute, or the end marker of a block row
    const char* second;  // second attribute, or alternative marker; "" when none
    int kind;
    int levelStep;  // 1: a link through this row uses up one link level
};

// The classic rows 0 to 20, then the rows for today's pages: style blocks, any other tag
// (for its style="" value and today's embedded-resource attributes), and rows that no tag
// text selects, through which links found in style sheets and today's attributes are made.
constexpr std::size_t kTagRowCount = 25;
extern const TagRow kTagTable[kTagRowCount];

// Rows the other scanners borrow.
constexpr int kRowApplet = 1;
constexpr int kRowAnchor = 2;
constexpr int kRowComment = 3;
constexpr int kRowScript = 4;
constexpr int kRowInputHandler = 5;
constexpr int kRowFrame = 7;
constexpr int kRowIFrame = 10;
constexpr int kRowLink = 11;
constexpr int kRowBase = 17;
constexpr int kRowStyleBlock = 21;
constexpr int kRowAnyTag = 22;         // "<" and a letter where no other row matches
constexpr int kRowResource = 23;       // url() and @import, <link rel=icon|preload|manifest...>
constexpr int kRowEmbeddedExtra = 24;  // srcset, poster, object data, video/audio/source/track

}  // namespace qm::analysis
