#pragma once
// RTTIArrayTraits for std::vector members (tools and tests; engine classes use the
// engine's growable arrays, which provide their own specialisation).
#include <vector>

#include "core/rtti/RTTIArrayProperty.h"

template <class E>
struct RTTIArrayTraits<std::vector<E>> {
    using Element = E;
    static uint32_t Count(const std::vector<E>& a) { return static_cast<uint32_t>(a.size()); }
    static void Resize(std::vector<E>& a, uint32_t n) {
        if (n == 0) {
            std::vector<E>().swap(a);
        } else {
            a.resize(n);
        }
    }
    static E& At(std::vector<E>& a, uint32_t i) { return a[i]; }
    static const E& At(const std::vector<E>& a, uint32_t i) { return a[i]; }
};
