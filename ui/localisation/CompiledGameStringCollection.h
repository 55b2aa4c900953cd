#pragma once
// The compiled string store read from "L01n.bin": every string path NUL-terminated and
// laid end to end ("Paths"), one entry per string sorted by path in unsigned byte order
// ("Entries": "StringIndex" and "PathStartOffset", 32-bit ints), and the strings
// themselves in any order ("Strings", embedded GameStrings).
//
// A file is trusted only after Validate: the reader of the property list checks counts
// against the input, and Validate checks what the lookup relies on (indices and offsets
// in range, every path terminated inside "Paths", entries sorted).
//
// Threads: main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "ui/localisation/GameString.h"

struct CompiledGameStringCollectionEntry {
    int32_t stringIndex = 0;      // into Strings
    int32_t pathStartOffset = 0;  // into Paths

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
};

class CompiledGameStringCollection : public RTTIPolyBaseClass {
public:
    CompiledGameStringCollection() = default;
    CompiledGameStringCollection(const CompiledGameStringCollection&) = delete;
    CompiledGameStringCollection& operator=(const CompiledGameStringCollection&) = delete;
    ~CompiledGameStringCollection() override = default;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // True when every StringIndex is in range, every PathStartOffset lies in [0, N) of
    // the N bytes of Paths with a NUL before their end, and the entries are sorted by
    // path (unsigned bytes, ascending).
    bool Validate();

    // The lower bound of id among the entries' paths in unsigned byte order; the string
    // when that path equals id exactly, else null. Null when Paths is empty. Only for a
    // validated collection.
    GameString* Find(const char* id) const;

    uint32_t GetEntryCount() const { return entries.Count(); }
    // The full path of an entry of a validated collection; null beyond the count.
    const char* GetEntryPath(uint32_t entry) const { return entry < entries.Count() ? PathOf(entry) : nullptr; }
    uint32_t GetStringCount() const { return strings.Count(); }
    uint32_t GetPathBytes() const { return paths.Count(); }

private:
    const char* PathOf(uint32_t entry) const { return paths.data + entries[entry].pathStartOffset; }

    Dynarray<char> paths;
    Dynarray<CompiledGameStringCollectionEntry> entries;
    DynarraySafe<GameString> strings;
    // Validate found no path twice: a lookup may stop at the first equal path it probes.
    bool distinctPaths = false;
};
