// The NameString pool: entries {u32 count, u32 length, characters, NUL} of length + 9
// bytes, kept in an array sorted by strcmp, guarded by one CriticalSection.
#include "core/text/NameString.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/Memory.h"
#include "core/Sync.h"

namespace {

struct Entry {
    uint32_t count;
    uint32_t length;
    char chars[1];
};

constexpr size_t kEntryHeader = offsetof(Entry, chars);
static_assert(kEntryHeader == 8, "entry header is two words");

Entry* EntryOf(const char* chars) { return reinterpret_cast<Entry*>(const_cast<char*>(chars) - kEntryHeader); }

struct Pool {
    CriticalSection lock;
    std::vector<Entry*> entries;  // sorted by strcmp of chars
    uint64_t total = 0;
};

// Created on first use and never destroyed, so names held by objects that die at
// process exit can still release their entries.
Pool& GetPool() {
    static Pool* pool = new Pool;
    return *pool;
}

// Compares a counted text (no NUL inside) with an entry's text in strcmp order.
int CompareCounted(const char* text, size_t length, const Entry* e) {
    const size_t n = std::min<size_t>(length, e->length);
    const int c = std::memcmp(text, e->chars, n);
    if (c != 0) return c;
    return length < e->length ? -1 : (length > e->length ? 1 : 0);
}

const char* Intern(const char* text, size_t length) {
    Pool& pool = GetPool();
    CriticalSectionGuard guard(&pool.lock);
    // Upper bound: first entry greater than the text.
    auto it = std::upper_bound(pool.entries.begin(), pool.entries.end(), 0,
                               [&](int, const Entry* e) { return CompareCounted(text, length, e) < 0; });
    if (it != pool.entries.begin()) {
        Entry* before = *(it - 1);
        if (CompareCounted(text, length, before) == 0) {
            ++before->count;
            return before->chars;
        }
    }
    auto* e = static_cast<Entry*>(EngineAlloc(length + 9));
    e->count = 1;
    e->length = static_cast<uint32_t>(length);
    std::memcpy(e->chars, text, length);
    e->chars[length] = 0;
    pool.entries.insert(it, e);
    pool.total += length + 9;
    return e->chars;
}

void AddRef(const char* chars) {
    if (!chars) return;
    Pool& pool = GetPool();
    CriticalSectionGuard guard(&pool.lock);
    ++EntryOf(chars)->count;
}

void Release(const char* chars) {
    if (!chars) return;
    Pool& pool = GetPool();
    CriticalSectionGuard guard(&pool.lock);
    Entry* e = EntryOf(chars);
    if (--e->count != 0) return;
    auto it = std::lower_bound(pool.entries.begin(), pool.entries.end(), e, [](const Entry* a, const Entry* b) {
        return std::strcmp(a->chars, b->chars) < 0;
    });
    while (it != pool.entries.end() && *it != e) ++it;
    if (it != pool.entries.end()) pool.entries.erase(it);
    pool.total -= e->length + 9;
    EngineFree(e);
}

const char* InternText(const char* text, size_t length) {
    if (!text) return nullptr;
    length = strnlen(text, length);
    return length ? Intern(text, length) : nullptr;
}

}  // namespace

NameString::NameString(const char* t) : text(t ? InternText(t, std::strlen(t)) : nullptr) {}
NameString::NameString(const char* t, size_t length) : text(InternText(t, length)) {}
NameString::NameString(const NameString& other) : text(other.text) { AddRef(text); }
NameString::~NameString() { Release(text); }

// The new text is interned before the old entry is released: t may point into that
// entry (a name assigned its own text), which the release could free.
NameString& NameString::operator=(const char* t) {
    const char* fresh = t ? InternText(t, std::strlen(t)) : nullptr;
    Release(text);
    text = fresh;
    return *this;
}

NameString& NameString::operator=(const NameString& other) {
    if (text == other.text) return *this;
    Release(text);
    text = other.text;
    AddRef(text);
    return *this;
}

NameString& NameString::operator=(NameString&& other) noexcept {
    if (this != &other) {
        Release(text);
        text = other.text;
        other.text = nullptr;
    }
    return *this;
}

void NameString::Set(const char* t, size_t length) {
    const char* fresh = InternText(t, length);
    Release(text);
    text = fresh;
}

void NameString::Clear() {
    Release(text);
    text = nullptr;
}

uint32_t NameString::Length() const { return text ? EntryOf(text)->length : 0; }

uint32_t NameString::RefCount() const {
    if (!text) return 0;
    CriticalSectionGuard guard(&GetPool().lock);
    return EntryOf(text)->count;
}

uint32_t NameString::Write(uint8_t* destination, uint32_t options) const {
    const uint32_t length = Length();
    if (destination) {
        StoreU32(destination, length, options);
        if (length) std::memcpy(destination + 4, text, length);
    }
    return 4 + length;
}

bool NameString::Read(BoundedReader& in) {
    uint32_t length = 0;
    if (!in.ReadU32(length)) return false;
    if (length == 0) {
        Clear();
        return true;
    }
    if (!in.CheckCount(length, 1)) return false;
    const char* chars = reinterpret_cast<const char*>(in.Position());
    Set(chars, length);
    return in.Read(nullptr, length);
}

uint32_t NameString::PoolEntryCount() {
    CriticalSectionGuard guard(&GetPool().lock);
    return static_cast<uint32_t>(GetPool().entries.size());
}

uint64_t NameString::PoolTotalBytes() {
    CriticalSectionGuard guard(&GetPool().lock);
    return GetPool().total;
}

NameString* NewNameStringArray(int32_t n) {
    if (n < 1) return nullptr;
    void* block = EngineAlloc(16 + sizeof(NameString) * static_cast<size_t>(n));
    if (!block) return nullptr;
    *static_cast<int32_t*>(block) = n;
    auto* names = reinterpret_cast<NameString*>(static_cast<uint8_t*>(block) + 16);
    for (int32_t i = 0; i < n; ++i) new (&names[i]) NameString();
    return names;
}

void DeleteNameStringArray(NameString* names) {
    if (!names) return;
    void* block = reinterpret_cast<uint8_t*>(names) - 16;
    const int32_t n = *static_cast<int32_t*>(block);
    for (int32_t i = 0; i < n; ++i) names[i].~NameString();
    EngineFree(block);
}

void ClearNameStringRange(NameString* names, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) names[i].Clear();
}
