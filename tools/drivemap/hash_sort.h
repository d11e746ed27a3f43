// A stable sort of items by a 64-bit hash. One pass spreads the items over about one bucket per
// two to four items by the hash's top bits, and each bucket is then sorted on its own: for hashes spread
// evenly that is a few items a bucket, put in order by insertion. A bucket that many items share
// (names chosen to collide) is sorted with std::stable_sort, so no input takes quadratic time.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace drivemap {

// The number of buckets SortByHash spreads n items over: the power of two between n / 4 and n / 2.
inline size_t HashSortBuckets(size_t n) {
    size_t buckets = 2;
    while (buckets < (size_t{1} << 24) && buckets * 4 < n) buckets *= 2;
    return buckets;
}

// A hash's bucket among cBuckets (a power of two, at least 2) is hash >> HashSortShift(cBuckets).
inline int HashSortShift(size_t cBuckets) { return 64 - std::countr_zero(cBuckets); }

// Sorts `items` by hashOf(item), equal hashes in their order; `scratch` is the sort's own. After
// it counts[b] is where bucket b ends in `items`, so a lookup searches one bucket (counts is
// left empty for more than 2^32 items, which are sorted as one).
template <typename T, typename HashOf>
void SortByHash(std::vector<T> &items, std::vector<T> &scratch, std::vector<uint32_t> &counts, HashOf hashOf) {
    const size_t n = items.size();
    const auto less = [&](const T &a, const T &b) { return hashOf(a) < hashOf(b); };
    if (n > UINT32_MAX) {
        counts.clear();
        std::stable_sort(items.begin(), items.end(), less);
        return;
    }
    const size_t cBuckets = HashSortBuckets(n);
    const int shift = HashSortShift(cBuckets);
    counts.assign(cBuckets, 0);
    for (const T &item : items) ++counts[hashOf(item) >> shift];
    uint32_t start = 0;
    for (uint32_t &count : counts) start += std::exchange(count, start);
    // counts[b] is where bucket b starts, and after the pass where it ends.
    scratch.resize(n);
    for (const T &item : items) scratch[counts[hashOf(item) >> shift]++] = item;
    constexpr size_t kInsertionLimit = 32;
    T *first = scratch.data();
    for (const uint32_t end : counts) {
        T *const last = scratch.data() + end;
        if (static_cast<size_t>(last - first) > kInsertionLimit) {
            std::stable_sort(first, last, less);
        } else {
            for (T *i = first + 1; i < last; ++i) {
                if (!less(*i, i[-1])) continue;
                const T moving = *i;
                T *j = i;
                for (; j > first && less(moving, j[-1]); --j) *j = j[-1];
                *j = moving;
            }
        }
        first = last;
    }
    items.swap(scratch);
}

}  // namespace drivemap
