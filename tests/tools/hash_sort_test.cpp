// drivemap's sort of a sync's records by path hash: the order and stability of std::stable_sort,
// whatever the spread of the hashes, and the bucket ends its lookups use.
#include "hash_sort.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

using Item = std::pair<uint64_t, size_t>;  // hash, place in the input

void ExpectSortedLikeStableSort(std::vector<Item> items) {
    std::vector<Item> expected = items;
    std::stable_sort(expected.begin(), expected.end(), [](const Item &a, const Item &b) { return a.first < b.first; });
    std::vector<Item> scratch;
    std::vector<uint32_t> counts;
    drivemap::SortByHash(items, scratch, counts, [](const Item &item) { return item.first; });
    EXPECT_EQ(items, expected);
    // A lookup searches only its hash's bucket: counts[b] is where bucket b ends.
    ASSERT_EQ(counts.size(), drivemap::HashSortBuckets(items.size()));
    const int shift = drivemap::HashSortShift(counts.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const size_t bucket = items[i].first >> shift;
        EXPECT_LT(i, counts[bucket]);
        EXPECT_GE(i, bucket > 0 ? counts[bucket - 1] : 0u);
    }
}

TEST(SortByHash, OrdersAndKeepsEqualHashesInTheirOrder) {
    std::mt19937_64 random(7);
    for (const size_t n : {0, 1, 2, 5, 1000, 100000}) {
        std::vector<Item> items;
        // Every hash twice or more, as paths a map holds twice.
        for (size_t i = 0; i < n; ++i) items.emplace_back(i % 3 == 2 ? items[i / 2].first : random(), i);
        ExpectSortedLikeStableSort(items);
    }
}

TEST(SortByHash, HashesSharingTheirTopBitsFillOneBucket) {
    // Chosen to collide: buckets of many items take the sort for long runs, small ones insertion.
    std::mt19937_64 random(11);
    std::vector<Item> items;
    for (size_t i = 0; i < 50000; ++i)
        items.emplace_back(i % 1000 == 0 ? random() : (uint64_t{0xABCD} << 48) | (random() & 0xFFF), i);
    ExpectSortedLikeStableSort(items);
}

}  // namespace
