#pragma once
// The localised strings' records: GameString, one string id with a text per language,
// its speaker and three notes for translators and actors, and GameStringGroup, a named
// node of the editing tree that holds sub-groups and strings.
//
// Their registered properties are a file format ("L01n.bin" stores GameStrings):
//   GameString: "Id" NameString (2); "Speaker" u32 enumeration over kSpeakerNames (128);
//     the eleven languages' texts as wide strings, "Polish" .. "Korean" (0x2100); the
//     separator "Misc"; "Situation description", "Notes for actors", "Notes" 8-bit
//     strings (256).
//   GameStringGroup: "Id" NameString (2); "Groups" and "Strings", arrays of owned
//     embedded object pointers.
//
// Threads: main thread (the store belongs to the StringManager).
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

// Languages 0..10 (the configuration's language table); 11 in a lookup asks for the
// current text language.
constexpr uint32_t kGameStringLanguageCount = 11;
// The speaker table: 0 "none", 1..23 "Speaker01" .. "Speaker23". Files store the index.
constexpr uint32_t kSpeakerCount = 24;
extern const char* const kSpeakerNames[kSpeakerCount + 1];  // null-terminated

class GameString : public RTTIPolyBaseClass {
public:
    GameString() = default;
    // A copy holds its own copies of every text; a move takes them over.
    GameString(const GameString& other);
    GameString(GameString&& other) noexcept;
    GameString& operator=(const GameString& other);
    GameString& operator=(GameString&& other) noexcept;
    ~GameString() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    const NameString& GetId() const { return id; }
    void SetId(const NameString& name) { id = name; }
    uint32_t GetSpeaker() const { return speaker; }
    void SetSpeaker(uint32_t index) { speaker = index; }
    // The speaker table's name of the speaker ("none" for an index beyond the table).
    const char* GetSpeakerName() const;

    // The text of a language 0..10: null when empty (or for any other language).
    const char16_t* GetText(uint32_t language) const;
    // Stores a copy; null or empty stores null. Other languages are ignored.
    void SetText(uint32_t language, const char16_t* text);

    const char* GetNotes() const { return notes; }
    const char* GetSituationDescription() const { return situationDescription; }
    const char* GetNotesForActors() const { return notesForActors; }
    // Store copies; null or empty stores null.
    void SetNotes(const char* text);
    void SetSituationDescription(const char* text);
    void SetNotesForActors(const char* text);

private:
    void FreeAll();
    void TakeOver(GameString& other);

    NameString id;
    uint32_t speaker = 0;
    char16_t* texts[kGameStringLanguageCount] = {};
    char* notes = nullptr;
    char* situationDescription = nullptr;
    char* notesForActors = nullptr;
};

class GameStringGroup : public RTTIPolyBaseClass {
public:
    GameStringGroup() = default;
    GameStringGroup(const GameStringGroup&) = delete;
    GameStringGroup& operator=(const GameStringGroup&) = delete;
    // Deletes its sub-groups and strings.
    ~GameStringGroup() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    // After a read from a property list the group sorts itself with generation 0.
    void OnLoaded(uint32_t options) override;

    const NameString& GetId() const { return id; }
    void SetId(const NameString& name) { id = name; }

    // Take ownership; appended in insertion order. The sorted copies follow at the next
    // UpdateSorted with another generation.
    void AddGroup(GameStringGroup* group);
    void AddString(GameString* string);
    // Deletes every sub-group and string.
    void Clear();

    uint32_t GetGroupCount() const { return groups.Count(); }
    GameStringGroup* GetGroup(uint32_t i) const { return groups.GetAt(i); }
    uint32_t GetStringCount() const { return strings.Count(); }
    GameString* GetString(uint32_t i) const { return strings.GetAt(i); }

    // Refills and sorts the sorted copies (by Id, unsigned bytes, a null or empty Id
    // first) when the group's generation differs from the given one.
    void UpdateSorted(uint32_t generation);
    // Binary searches of the sorted copies (bring them up to date first) for the exact,
    // case-sensitive name of `length` bytes; null when absent or empty.
    GameStringGroup* FindSortedGroup(const char* name, size_t length) const;
    GameString* FindSortedString(const char* name, size_t length) const;

    // Sets bit c of the 65,536-bit set for every UTF-16 unit c of the language's texts,
    // sub-groups first, then the group's own strings.
    void CollectUsedCharacters(uint32_t language, uint32_t* bitSet) const;

private:
    NameString id;
    Dynarray<GameStringGroup*> groups;  // owned, insertion order
    Dynarray<GameString*> strings;      // owned, insertion order
    Dynarray<GameStringGroup*> sortedGroups;
    Dynarray<GameString*> sortedStrings;
    uint32_t sortGeneration = 0xFFFFFFFFu;
};
