// The sorted list behind site maps: the same items, order and answers whatever order the items
// come in and however reads and additions are interleaved.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "store/string_list.h"

namespace qm {
namespace {

TEST(SortedStringList, AdditionsInAnyOrderGiveTheSortedListWithoutDuplicates) {
    for (bool keepCase : {false, true}) {
        SCOPED_TRACE(keepCase ? "case variants kept" : "case variants equal");
        // The reference: an ordered set with the list's own order.
        auto less = [keepCase](const std::string& a, const std::string& b) {
            const int c = store::CompareNoCase(a, b);
            if (c != 0 || !keepCase) return c < 0;
            return a < b;
        };
        std::set<std::string, decltype(less)> reference(less);
        store::SortedStringList list(keepCase);
        std::mt19937 random(7);
        for (int i = 0; i < 20000; ++i) {
            std::string item =
                "host/dir" + std::to_string(random() % 50) + "/Page" + std::to_string(random() % 3000) + ".html";
            if (random() % 4 == 0) std::transform(item.begin(), item.end(), item.begin(), ::toupper);
            const bool added = reference.insert(item).second;
            ASSERT_EQ(list.Add(item), added) << item;
            ASSERT_TRUE(list.Contains(item));
            if (i % 3001 == 0) {
                // A read in the middle folds in what was added so far.
                ASSERT_EQ(list.Items().size(), reference.size());
                EXPECT_TRUE(std::equal(list.Items().begin(), list.Items().end(), reference.begin()));
            }
            if (i % 997 == 0) {
                const std::string gone = *reference.begin();
                reference.erase(reference.begin());
                EXPECT_TRUE(list.Remove(gone));
                EXPECT_FALSE(list.Contains(gone));
            }
        }
        EXPECT_EQ(list.Count(), reference.size());
        const store::SortedStringList copy = list;
        ASSERT_EQ(copy.Items().size(), reference.size());
        EXPECT_TRUE(std::equal(copy.Items().begin(), copy.Items().end(), reference.begin()));
        EXPECT_FALSE(list.Contains("host/none.html"));

        // The text round trip keeps the order and drops nothing.
        store::SortedStringList read(keepCase);
        read.SetText(list.Text());
        EXPECT_EQ(read.Items(), list.Items());
        EXPECT_FALSE(read.Add(*reference.rbegin()));
    }
}

}  // namespace
}  // namespace qm
