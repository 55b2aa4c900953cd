#pragma once
// Growable arrays: {count, capacity, storage}. Growth doubles the capacity, starting
// at 2. Storage comes from the engine allocator (16-byte aligned), so arrays of Vector
// and Matrix keep their alignment.
//
//  - Dynarray<T>: plain (trivially copyable) elements, moved with memcpy by the
//    element-size-generic storage routine in Dynarray.cpp.
//  - DynarraySafe<T>: elements that must be constructed and destroyed (strings, safe
//    pointers, named records); moved element by element.
//
// Removal keeps the order of the rest. Not thread-safe: an array belongs to its owner.
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "core/PathLimit.h"

constexpr uint32_t kDynarrayNone = 0xFFFFFFFFu;

// Element-size-generic storage: a block of capacity x elementSize bytes holding the
// first count elements of the old block, which is freed. Null (old block untouched)
// when the size overflows or memory runs out.
void* DynarrayReallocate(void* data, uint32_t count, uint32_t capacity, uint32_t elementSize);
void* DynarrayAllocate(uint64_t bytes);
void DynarrayFree(void* data);
// The capacity after doubling from the current one (2 when 0) until it holds needed.
uint32_t DynarrayGrownCapacity(uint32_t capacity, uint32_t needed);

// The fields and element access shared by both array kinds.
template <class T>
struct DynarrayStorage {
    uint32_t count = 0;
    uint32_t capacity = 0;
    T* data = nullptr;

    uint32_t Count() const { return count; }
    T& operator[](uint32_t i) { return data[i]; }
    const T& operator[](uint32_t i) const { return data[i]; }
    T* begin() { return data; }
    T* end() { return data + count; }
    const T* begin() const { return data; }
    const T* end() const { return data + count; }
};

template <class T>
class Dynarray : public DynarrayStorage<T> {
    static_assert(std::is_trivially_copyable_v<T>, "use DynarraySafe for elements with constructors");

public:
    using DynarrayStorage<T>::count;
    using DynarrayStorage<T>::capacity;
    using DynarrayStorage<T>::data;

    Dynarray() = default;
    ~Dynarray() { DynarrayFree(data); }
    Dynarray(const Dynarray& o) { *this = o; }
    Dynarray(Dynarray&& o) noexcept { Swap(o); }
    Dynarray& operator=(const Dynarray& o) {
        if (this != &o && Reserve(o.count)) {
            count = o.count;
            for (uint32_t i = 0; i < count; ++i) data[i] = o.data[i];
        }
        return *this;
    }
    Dynarray& operator=(Dynarray&& o) noexcept {
        Swap(o);
        return *this;
    }
    void Swap(Dynarray& o) noexcept {
        std::swap(count, o.count);
        std::swap(capacity, o.capacity);
        std::swap(data, o.data);
    }

    // The element, or a zero value (null for pointers) at or beyond the count.
    T GetAt(uint32_t i) const { return i < count ? data[i] : T{}; }

    // Capacity for at least n elements, by the doubling rule. False when memory ran out.
    bool Reserve(uint32_t n) {
        if (n <= capacity) return true;
        uint32_t grown = DynarrayGrownCapacity(capacity, n);
        void* p = DynarrayReallocate(data, count, grown, sizeof(T));
        if (!p) return false;
        data = static_cast<T*>(p);
        capacity = grown;
        return true;
    }
    // Returns the new element's index, or kDynarrayNone when memory ran out.
    uint32_t Add(const T& v) {
        if (count == capacity) {
            T copy = v;  // v may live in this array
            if (!Reserve(count + 1)) return kDynarrayNone;
            data[count] = copy;
        } else {
            data[count] = v;
        }
        return count++;
    }
    // Inserts before index (appends when index >= count), shifting the tail.
    bool Insert(const T& v, uint32_t index) {
        if (index >= count) return Add(v) != kDynarrayNone;
        T copy = v;  // v may live in this array
        if (count == capacity && !Reserve(count + 1)) return false;
        for (uint32_t i = count; i > index; --i) data[i] = data[i - 1];
        data[index] = copy;
        ++count;
        return true;
    }
    // Appends n zero elements; returns the index of the first (kDynarrayNone on failure).
    uint32_t AddZeroed(uint32_t n) {
        uint32_t first = count;
        if (!Resize(count + n)) return kDynarrayNone;
        return first;
    }
    // Sets the count; new elements are zero.
    bool Resize(uint32_t n) {
        if (n > count) {
            if (!Reserve(n)) return false;
            for (uint32_t i = count; i < n; ++i) data[i] = T{};
        }
        count = n;
        return true;
    }
    void Remove(uint32_t index) {
        if (index >= count) return;
        for (uint32_t i = index + 1; i < count; ++i) data[i - 1] = data[i];
        --count;
    }
    int32_t Find(const T& v) const {
        for (uint32_t i = 0; i < count; ++i)
            if (data[i] == v) return static_cast<int32_t>(i);
        return -1;
    }
    void Clear() { count = 0; }
    void Release() {
        DynarrayFree(data);
        data = nullptr;
        count = capacity = 0;
    }
};

// Removes every element equal to value, keeping the order of the rest; returns the
// count before removal.
template <class T>
uint32_t DynarrayRemoveAllEqual(Dynarray<T>& a, const T& value) {
    uint32_t old = a.count, kept = 0;
    for (uint32_t i = 0; i < old; ++i)
        if (!(a.data[i] == value)) a.data[kept++] = a.data[i];
    a.count = kept;
    return old;
}

template <class T>
bool DynarrayResizePtr(Dynarray<T*>& a, uint32_t n) {
    return a.Resize(n);
}

template <class T>
uint32_t DynarrayAdd16(Dynarray<T>& a, const T& v) {
    static_assert(sizeof(T) == 16);
    return a.Add(v);
}

template <class T>
bool DynarrayReserve16(Dynarray<T>& a, uint32_t n) {
    static_assert(sizeof(T) == 16);
    return a.Reserve(n);
}

// Deletes every non-null element through its (virtual) destructor and frees the
// storage.
template <class T>
void DeleteOwnedPointerArray(Dynarray<T*>& a) {
    for (T* p : a) delete p;
    a.Release();
}

template <class T>
class DynarraySafe : public DynarrayStorage<T> {
public:
    using DynarrayStorage<T>::count;
    using DynarrayStorage<T>::capacity;
    using DynarrayStorage<T>::data;

    DynarraySafe() = default;
    ~DynarraySafe() { Release(); }
    DynarraySafe(const DynarraySafe& o) { *this = o; }
    DynarraySafe& operator=(const DynarraySafe& o) {
        if (this == &o) return *this;
        Clear();
        if (Reserve(o.count))
            for (const T& v : o) Add(v);
        return *this;
    }

    bool Reserve(uint32_t n) {
        if (n <= capacity) return true;
        uint32_t grown = DynarrayGrownCapacity(capacity, n);
        T* p = static_cast<T*>(DynarrayAllocate(uint64_t(grown) * sizeof(T)));
        if (!p) return false;
        for (uint32_t i = 0; i < count; ++i) {
            new (p + i) T(std::move(data[i]));
            data[i].~T();
        }
        DynarrayFree(data);
        data = p;
        capacity = grown;
        return true;
    }
    uint32_t Add(const T& v) {
        if (count == capacity) {
            T copy = v;  // v may live in this array
            if (!Reserve(count + 1)) return kDynarrayNone;
            new (data + count) T(std::move(copy));
        } else {
            new (data + count) T(v);
        }
        return count++;
    }
    bool Insert(const T& v, uint32_t index) {
        if (index >= count) return Add(v) != kDynarrayNone;
        T copy = v;
        if (count == capacity && !Reserve(count + 1)) return false;
        new (data + count) T(std::move(data[count - 1]));
        for (uint32_t i = count - 1; i > index; --i) data[i] = std::move(data[i - 1]);
        data[index] = std::move(copy);
        ++count;
        return true;
    }
    // Sets the count; new elements are value-initialised, removed ones destroyed.
    bool Resize(uint32_t n) {
        if (n > count && !Reserve(n)) return false;
        while (count < n) new (data + count++) T();
        while (count > n) data[--count].~T();
        return true;
    }
    void Remove(uint32_t index) {
        if (index >= count) return;
        for (uint32_t i = index + 1; i < count; ++i) data[i - 1] = std::move(data[i]);
        data[--count].~T();
    }
    void Clear() { Resize(0); }
    void Release() {
        Clear();
        DynarrayFree(data);
        data = nullptr;
        capacity = 0;
    }
};

// A name-sorted array of names, searched case-insensitively (ASCII, as _stricmp).
class SortedNameList : public Dynarray<const char*> {
public:
    // Index of the name, or -1.
    int32_t Find(const char* name) const;
};
// Case-insensitive ASCII comparison with the sign of _stricmp.
int32_t CompareNoCase(const char* a, const char* b);

// Fixed-size path strings.
struct PathString {
    char text[fs::kMaxPath];
};
using PathStringArray = Dynarray<PathString>;
