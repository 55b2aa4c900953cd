#pragma once
// StringReplacementContainer: a shared table of tag -> text pairs. Text elements hold
// one (new elements share the default container, gDefaultReplacementContainer, the
// scripts' global of that name), and every "^tag^" in the text they show is replaced by
// the first entry of that tag (AppendWithTagReplacement, core/text/TagReplacement.h).
//
// A container is a handle to a counted body made on first use: copying a handle shares
// the body, so a change made through any handle is seen by every holder; the last
// handle frees it. Entries stay in insertion order (the array grows by doubling from 2).
//
// Threads: main thread (handles are copied and changed where text is set).
#include <cstdint>

#include "core/text/TagReplacement.h"

class StringReplacementContainer : public TagReplacementSource {
public:
    StringReplacementContainer() = default;
    StringReplacementContainer(const StringReplacementContainer& other);
    StringReplacementContainer& operator=(const StringReplacementContainer& other);
    virtual ~StringReplacementContainer();

    // A new container (the scripts' constructor); the caller deletes it.
    static StringReplacementContainer* Instance();

    // Destroys every entry of the shared body (count and capacity 0).
    void Clear();
    // Appends (tag, text, no wide text); nothing for a null text. An entry already
    // holding the tag is not replaced: the first entry of a tag wins.
    void Add(const char* tag, const char* text);
    // The integer as "%d".
    void Add(const char* tag, int32_t value);
    // The scripts' AddLocalized: the same as Add with a text (stored unchanged).
    void AddLocalized(const char* tag, const char* text);

    uint32_t GetEntryCount() const override;
    const StringReplacementEntry* GetEntry(uint32_t index) const override;
    // Holders of the shared body (0 before the first use).
    uint32_t GetReferenceCount() const;

private:
    struct Body;
    Body* Acquire();  // makes the body on first use
    void Drop();

    Body* body = nullptr;
};

// The default container; made by the UI's start-up rows, emptied when the Game closes.
extern StringReplacementContainer* gDefaultReplacementContainer;
