#pragma once
// StringManager: the localisation store. Every text shown to the player is looked up by
// a string id, a path of group names and the string's own id separated by '/'
// ("Menu/Title"), and resolves to the text of the chosen language, falling back to
// English and then Polish.
//
// Two sources: the compiled, sorted collection of "L01n.bin" in "Common" (what the game
// ships and reads; a binary search by full path), and the tree of string groups under
// the root group (the editing form; searched group by group when no compiled collection
// is loaded). The manager also chooses the text language from the project
// configuration and the platform's game language.
//
// One object, gStringManager, made by the engine's start-up (through its service
// entry) and deleted at shutdown. Threads: main thread; the returned texts belong to
// the store and live until the next load or the manager's end.
#include <cstdint>

#include "core/rtti/RTTIClass.h"
#include "ui/localisation/GameString.h"

class CompiledGameStringCollection;

// A lookup's language: 0..10, or this for the current text language.
constexpr uint32_t kCurrentTextLanguage = 11;

class StringManager : public RTTIPolyBaseClass {
public:
    // Empty root group, generation 0, no compiled collection, language English; then
    // SelectLanguage.
    StringManager();
    StringManager(const StringManager&) = delete;
    StringManager& operator=(const StringManager&) = delete;
    // Deletes the compiled collection and the whole tree.
    ~StringManager() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Chooses the language from the project configuration: "Default language" below 11
    // wins; otherwise English when the "Language mask" has it, else the lowest language
    // of the mask, and then the platform's game language when the mask has it (names
    // compared ignoring case), logged as "Steam language: %s (%d)".
    void SelectLanguage();
    // The configuration's "Text language" when below 11, else the chosen language.
    uint32_t GetCurrentLanguage() const;
    uint32_t GetChosenLanguage() const { return chosenLanguage; }

    // The text of id in the language (kCurrentTextLanguage for the current one); null
    // when the language is 12 or more, the id is null, the string is missing or its text
    // empty. With fallback an empty text falls back to English, then Polish. speakerOut,
    // when given, receives the speaker's name (null for a missing string) unless the
    // language or id was refused. A missing string logs "Unable to find string: %s" when
    // warnIfMissing is set.
    const char16_t* GetString(const char* id, uint32_t language, const char** speakerOut, bool fallback,
                              bool warnIfMissing);
    // The string without a language choice: the compiled collection when loaded, else
    // the group tree. Null when absent.
    GameString* FindGameString(const char* id);

    // Reads "L01n.bin" from "Common". When it cannot be opened nothing changes (false).
    // Otherwise the present collection is replaced; a file that does not read or does
    // not validate is dropped with one error line (false) and lookups see no collection.
    bool LoadCompiledStrings();
    // The same for another file of "Common" ("name.extension", as the engine names it).
    bool LoadCompiledStrings(const char* fileName);
    // The editing source is not read in this build: empties the store, logs "Loading
    // localization strings" and returns false.
    bool LoadStringsXML();

    // Sets bit c (word c >> 5, bit c & 31) of a 65,536-bit set for every UTF-16 unit c in
    // the texts of the language in the group tree (never the compiled collection).
    void CollectUsedCharacters(uint32_t language, uint32_t* bitSet) const;

    // The editing tree. Call BumpTreeGeneration after changing it so lookups re-sort.
    GameStringGroup& GetRootGroup() { return rootGroup; }
    void BumpTreeGeneration() { ++treeGeneration; }
    const CompiledGameStringCollection* GetCompiledCollection() const { return compiled; }

private:
    bool LoadCompiledStrings(const char* name, const char* extension);
    GameString* FindInTree(const char* id);

    GameStringGroup rootGroup;
    uint32_t treeGeneration = 0;
    CompiledGameStringCollection* compiled = nullptr;
    uint32_t chosenLanguage = 1;
};

// The compiled strings' file in mount "Common".
constexpr const char* kCompiledStringsName = "L01n";
constexpr const char* kCompiledStringsExtension = "bin";
constexpr const char* kCompiledStringsDirectory = "Common";

extern StringManager* gStringManager;
