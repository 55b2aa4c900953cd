#include "ui/localisation/GameString.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/SortedSearch.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"

const char* const kSpeakerNames[kSpeakerCount + 1] = {
    "none",      "Speaker01", "Speaker02", "Speaker03", "Speaker04", "Speaker05", "Speaker06", "Speaker07",
    "Speaker08", "Speaker09", "Speaker10", "Speaker11", "Speaker12", "Speaker13", "Speaker14", "Speaker15",
    "Speaker16", "Speaker17", "Speaker18", "Speaker19", "Speaker20", "Speaker21", "Speaker22", "Speaker23",
    nullptr};

namespace {

RTTIClass* gGameStringClass = nullptr;
RTTIClass* gGameStringGroupClass = nullptr;

constexpr uint32_t kIdFlags = 2;
constexpr uint32_t kTextFlags = 0x2100;
constexpr uint32_t kNoteFlags = 256;

void StoreCopy(char*& member, const char* text) { RTTIValueStore<char*>::Assign(member, const_cast<char*>(text)); }
void StoreCopy(char16_t*& member, const char16_t* text) {
    RTTIValueStore<char16_t*>::Assign(member, const_cast<char16_t*>(text));
}

// Unsigned byte order of `length` bytes against a NUL-terminated name; a shorter text
// orders first after the common prefix.
int CompareName(const char* name, size_t length, const NameString& id) {
    const char* other = id.CStr();
    const size_t otherLength = std::strlen(other);
    const int c = std::memcmp(name, other, length < otherLength ? length : otherLength);
    if (c) return c;
    return length < otherLength ? -1 : (length > otherLength ? 1 : 0);
}

// qsort order by Id: a null or empty Id first, then unsigned bytes (strcmp).
template <class T>
int CompareById(const void* a, const void* b) {
    const NameString& x = (*static_cast<T* const*>(a))->GetId();
    const NameString& y = (*static_cast<T* const*>(b))->GetId();
    if (x.IsEmpty() || y.IsEmpty()) return x.IsEmpty() ? (y.IsEmpty() ? 0 : -1) : 1;
    return std::strcmp(x.CStr(), y.CStr());
}

template <class T>
T* FindSorted(const Dynarray<T*>& sorted, const char* name, size_t length) {
    if (!name || length == 0) return nullptr;
    const SortedSearchResult r =
        FindSortedEqual(sorted.Count(), [&](uint32_t i) { return CompareName(name, length, sorted[i]->GetId()); });
    return r.found ? sorted[r.index] : nullptr;
}

}  // namespace

// ---- GameString ----

GameString::GameString(const GameString& other) : RTTIPolyBaseClass(other) { *this = other; }

GameString::GameString(GameString&& other) noexcept : RTTIPolyBaseClass() { TakeOver(other); }

GameString& GameString::operator=(const GameString& other) {
    if (this == &other) return *this;
    id = other.id;
    speaker = other.speaker;
    for (uint32_t i = 0; i < kGameStringLanguageCount; ++i) StoreCopy(texts[i], other.texts[i]);
    StoreCopy(notes, other.notes);
    StoreCopy(situationDescription, other.situationDescription);
    StoreCopy(notesForActors, other.notesForActors);
    return *this;
}

GameString& GameString::operator=(GameString&& other) noexcept {
    if (this != &other) {
        FreeAll();
        TakeOver(other);
    }
    return *this;
}

GameString::~GameString() { FreeAll(); }

void GameString::FreeAll() {
    for (char16_t*& t : texts) RTTIFreeString(t);
    RTTIFreeString(notes);
    RTTIFreeString(situationDescription);
    RTTIFreeString(notesForActors);
}

void GameString::TakeOver(GameString& other) {
    id = std::move(other.id);
    speaker = other.speaker;
    for (uint32_t i = 0; i < kGameStringLanguageCount; ++i) texts[i] = std::exchange(other.texts[i], nullptr);
    notes = std::exchange(other.notes, nullptr);
    situationDescription = std::exchange(other.situationDescription, nullptr);
    notesForActors = std::exchange(other.notesForActors, nullptr);
}

const RTTIClass* GameString::RegisterClass(const char* nameOverride) {
    if (gGameStringClass) return gGameStringClass;
    using G = GameString;
    RTTIClass* c = CreateRegisteredClass(gGameStringClass, nameOverride ? nameOverride : "GameString", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(G, id), kIdFlags);
    AddDirect<uint32_t>(c, "Speaker", RTTI_OFFSETOF(G, speaker), kPropertyFlagEnum, kSpeakerNames);
    for (uint32_t i = 0; i < kGameStringLanguageCount; ++i)
        AddDirect<char16_t*>(c, kLanguageNames[i], RTTI_OFFSETOF(G, texts) + i * sizeof(char16_t*), kTextFlags);
    c->AddProperty(new RTTIPropertySeparator("Misc"));
    AddDirect<char*>(c, "Situation description", RTTI_OFFSETOF(G, situationDescription), kNoteFlags);
    AddDirect<char*>(c, "Notes for actors", RTTI_OFFSETOF(G, notesForActors), kNoteFlags);
    AddDirect<char*>(c, "Notes", RTTI_OFFSETOF(G, notes), kNoteFlags);
    return c;
}

const char* GameString::GetSpeakerName() const { return kSpeakerNames[speaker < kSpeakerCount ? speaker : 0]; }

const char16_t* GameString::GetText(uint32_t language) const {
    return language < kGameStringLanguageCount ? texts[language] : nullptr;
}

void GameString::SetText(uint32_t language, const char16_t* text) {
    if (language < kGameStringLanguageCount) StoreCopy(texts[language], text);
}

void GameString::SetNotes(const char* text) { StoreCopy(notes, text); }
void GameString::SetSituationDescription(const char* text) { StoreCopy(situationDescription, text); }
void GameString::SetNotesForActors(const char* text) { StoreCopy(notesForActors, text); }

// ---- GameStringGroup ----

GameStringGroup::~GameStringGroup() { Clear(); }

const RTTIClass* GameStringGroup::RegisterClass(const char* nameOverride) {
    if (gGameStringGroupClass) return gGameStringGroupClass;
    GameString::RegisterClass();
    using G = GameStringGroup;
    RTTIClass* c =
        CreateRegisteredClass(gGameStringGroupClass, nameOverride ? nameOverride : "GameStringGroup", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(G, id), kIdFlags);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<GameStringGroup*>>(
        "Groups", RTTI_OFFSETOF(G, groups)));
    c->AddProperty(
        new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<GameString*>>("Strings", RTTI_OFFSETOF(G, strings)));
    return c;
}

void GameStringGroup::OnLoaded(uint32_t) {
    sortGeneration = 0xFFFFFFFFu;
    UpdateSorted(0);
}

void GameStringGroup::AddGroup(GameStringGroup* group) {
    if (group) groups.Add(group);
}

void GameStringGroup::AddString(GameString* string) {
    if (string) strings.Add(string);
}

void GameStringGroup::Clear() {
    for (uint32_t i = 0; i < groups.Count(); ++i) delete groups[i];
    for (uint32_t i = 0; i < strings.Count(); ++i) delete strings[i];
    groups.Release();
    strings.Release();
    sortedGroups.Release();
    sortedStrings.Release();
    sortGeneration = 0xFFFFFFFFu;
}

void GameStringGroup::UpdateSorted(uint32_t generation) {
    if (sortGeneration == generation) return;
    // The arrays may hold null elements read from a file; the sorted copies skip them.
    sortedGroups.Resize(0);
    sortedStrings.Resize(0);
    for (uint32_t i = 0; i < groups.Count(); ++i)
        if (groups[i]) sortedGroups.Add(groups[i]);
    for (uint32_t i = 0; i < strings.Count(); ++i)
        if (strings[i]) sortedStrings.Add(strings[i]);
    if (sortedGroups.Count() > 1)
        std::qsort(sortedGroups.data, sortedGroups.Count(), sizeof(GameStringGroup*), &CompareById<GameStringGroup>);
    if (sortedStrings.Count() > 1)
        std::qsort(sortedStrings.data, sortedStrings.Count(), sizeof(GameString*), &CompareById<GameString>);
    sortGeneration = generation;
}

GameStringGroup* GameStringGroup::FindSortedGroup(const char* name, size_t length) const {
    return FindSorted(sortedGroups, name, length);
}

GameString* GameStringGroup::FindSortedString(const char* name, size_t length) const {
    return FindSorted(sortedStrings, name, length);
}

void GameStringGroup::CollectUsedCharacters(uint32_t language, uint32_t* bitSet) const {
    if (!bitSet || language >= kGameStringLanguageCount) return;
    for (uint32_t i = 0; i < groups.Count(); ++i)
        if (groups[i]) groups[i]->CollectUsedCharacters(language, bitSet);
    for (uint32_t i = 0; i < strings.Count(); ++i) {
        if (!strings[i]) continue;
        for (const char16_t* p = strings[i]->GetText(language); p && *p; ++p) bitSet[*p >> 5] |= 1u << (*p & 31);
    }
}
