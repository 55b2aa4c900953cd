#include "ui/localisation/StringReplacementContainer.h"

#include <atomic>
#include <cstdio>

StringReplacementContainer* gDefaultReplacementContainer = nullptr;

struct StringReplacementContainer::Body {
    std::atomic<uint32_t> references{1};
    DynarraySafe<StringReplacementEntry> entries;  // insertion order
};

StringReplacementContainer::StringReplacementContainer(const StringReplacementContainer& other)
    : TagReplacementSource(other) {
    *this = other;
}

StringReplacementContainer& StringReplacementContainer::operator=(const StringReplacementContainer& other) {
    if (this == &other || (body && body == other.body)) return *this;
    // Sharing an empty handle's body makes it first, so both handles end up on one body.
    Body* shared = const_cast<StringReplacementContainer&>(other).Acquire();
    if (!shared) return *this;
    shared->references.fetch_add(1);
    Drop();
    body = shared;
    return *this;
}

StringReplacementContainer::~StringReplacementContainer() { Drop(); }

StringReplacementContainer* StringReplacementContainer::Instance() { return new StringReplacementContainer(); }

StringReplacementContainer::Body* StringReplacementContainer::Acquire() {
    if (!body) body = new Body();
    return body;
}

void StringReplacementContainer::Drop() {
    if (body && body->references.fetch_sub(1) == 1) delete body;
    body = nullptr;
}

void StringReplacementContainer::Clear() {
    if (body) body->entries.Release();
}

void StringReplacementContainer::Add(const char* tag, const char* text) {
    if (!text) return;
    StringReplacementEntry e;
    e.tag = tag;
    e.text = text;
    Acquire()->entries.Add(e);
}

void StringReplacementContainer::Add(const char* tag, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    Add(tag, text);
}

void StringReplacementContainer::AddLocalized(const char* tag, const char* text) { Add(tag, text); }

uint32_t StringReplacementContainer::GetEntryCount() const { return body ? body->entries.Count() : 0; }

const StringReplacementEntry* StringReplacementContainer::GetEntry(uint32_t index) const {
    return body && index < body->entries.Count() ? &body->entries[index] : nullptr;
}

uint32_t StringReplacementContainer::GetReferenceCount() const { return body ? body->references.load() : 0; }
