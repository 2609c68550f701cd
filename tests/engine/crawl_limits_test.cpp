// The crawl-trap rules on their own: which paths repeat themselves, the count of query
// strings under one path (per Project, bounded), and the steps beyond the last level.
#include <gtest/gtest.h>

#include "engine/crawl_limits.h"
#include "store/project.h"

namespace qm {
namespace {

TEST(CrawlLimits, PathsThatRepeatASegmentOrAGroupMoreThanThreeTimes) {
    EXPECT_TRUE(engine::RepeatsPathSegments("http://h/a/b/a/b/a/b/a/b/"));
    EXPECT_TRUE(engine::RepeatsPathSegments("http://h/x/a/a/a/a"));
    EXPECT_TRUE(engine::RepeatsPathSegments("https://h:8080/top/a/b/c/a/b/c/a/b/c/a/b/c/page.htm"));
    EXPECT_TRUE(engine::RepeatsPathSegments("http://h/A/a/a/A/"));           // letter case does not hide it
    EXPECT_FALSE(engine::RepeatsPathSegments("http://h/a/b/a/b/a/b/"));      // three times is allowed
    EXPECT_FALSE(engine::RepeatsPathSegments("http://h/a/x/a/y/a/z/a/w/"));  // not in a row
    EXPECT_FALSE(engine::RepeatsPathSegments("http://h/a//a//a/"));
    EXPECT_FALSE(engine::RepeatsPathSegments("http://h/page.htm?a/a/a/a/a"));  // the query is not the path
    EXPECT_FALSE(engine::RepeatsPathSegments("http://a/a/a/a"));               // the host is not a segment
    EXPECT_FALSE(engine::RepeatsPathSegments("http://h"));
    EXPECT_FALSE(engine::RepeatsPathSegments(""));
    // Very long paths are judged by their first segments, in linear time per group length.
    std::string longPath = "http://h";
    for (int i = 0; i < 5000; ++i) longPath += "/s" + std::to_string(i);
    EXPECT_FALSE(engine::RepeatsPathSegments(longPath));
    std::string early = "http://h";
    for (int i = 0; i < 200; ++i) early += "/s" + std::to_string(i);
    EXPECT_TRUE(engine::RepeatsPathSegments(early + "/z/z/z/z/s1/s2"));
}

TEST(CrawlLimits, QueryStringsAreCountedPerProjectAndPath) {
    store::Project one, two;
    engine::CrawlTraps traps;
    using V = engine::CrawlTraps::Verdict;
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(traps.Check(one, "http://h/list?p=" + std::to_string(i)), V::Take) << i;
    EXPECT_EQ(traps.Check(one, "http://h/list?p=1000"), V::TooManyQueries);
    EXPECT_EQ(traps.Check(one, "http://H/LIST?p=1001"), V::TooManyQueries);
    EXPECT_EQ(traps.Check(one, "http://h/other?p=1"), V::Take);
    EXPECT_EQ(traps.Check(one, "http://h/list"), V::Take);         // no query: not counted
    EXPECT_EQ(traps.Check(two, "http://h/list?p=1000"), V::Take);  // another Project's own count
    EXPECT_EQ(traps.Check(one, "http://h/q/q/q/q?x"), V::RepeatingPath);
    EXPECT_TRUE(traps.FirstHit(one, V::TooManyQueries));
    EXPECT_FALSE(traps.FirstHit(one, V::TooManyQueries));
    EXPECT_TRUE(traps.FirstHit(one, V::RepeatingPath));
    EXPECT_TRUE(traps.FirstHit(two, V::TooManyQueries));
    traps.Clear();
    EXPECT_EQ(traps.CountedPaths(), 0u);
    EXPECT_TRUE(traps.FirstHit(one, V::TooManyQueries));
    EXPECT_EQ(traps.Check(one, "http://h/list?p=1000"), V::Take);

    // Endless distinct paths: the counts stop growing at their bound.
    for (std::size_t i = 0; i < engine::CrawlTraps::kMaxCountedPaths + 10; ++i)
        traps.Check(one, "http://h/p" + std::to_string(i) + "?x");
    EXPECT_EQ(traps.CountedPaths(), engine::CrawlTraps::kMaxCountedPaths);
    EXPECT_EQ(engine::CrawlTrapMessage(V::TooManyQueries, "http://h/list?p=9"),
              "Crawl trap: more than 1000 query strings under http://h/list, no more of them are followed");
}

TEST(CrawlLimits, StepsBeyondTheLastLevel) {
    // Frames three steps on; what the deepest frame shows (sheets, their imports, pictures) further.
    EXPECT_TRUE(engine::FollowsBeyondLevel(2, true));
    EXPECT_FALSE(engine::FollowsBeyondLevel(3, true));
    EXPECT_TRUE(engine::FollowsBeyondLevel(3, false));
    EXPECT_TRUE(engine::FollowsBeyondLevel(7, false));
    EXPECT_FALSE(engine::FollowsBeyondLevel(8, false));
}

}  // namespace
}  // namespace qm
