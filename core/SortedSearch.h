#pragma once
// FindSortedEqual: a halving search over a sorted range that stops at the first element
// equal to the key it probes.
//
// Where the range holds equal keys, which of them comes back depends on where the
// search probes. Several tables (names compared without case, tables read from data)
// may hold equal keys, and their lookups keep returning the element they always did, so
// each caller names its probe order. Where the answer is a partition point (the first
// element not less than the key, or the first greater), use std::lower_bound or
// std::upper_bound instead.
#include <cstdint>

// Which element of a range of even length n starting at lo is probed: lo + n / 2 (the
// upper of the two middle ones) or lo + (n - 1) / 2 (the lower).
enum class SortedProbe : uint8_t { UpperMiddle, LowerMiddle };

struct SortedSearchResult {
    uint32_t index;  // the equal element found, else where the key would be inserted
    bool found;
};

// compare(i) returns a negative number when the key sorts before element i, a positive
// one when it sorts after, 0 when they are equal.
template <class Compare>
SortedSearchResult FindSortedEqual(uint32_t count, Compare compare, SortedProbe probe = SortedProbe::UpperMiddle) {
    const uint32_t lower = probe == SortedProbe::LowerMiddle ? 1 : 0;
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo - lower) / 2;
        const int c = compare(mid);
        if (c == 0) return {mid, true};
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return {lo, false};
}
