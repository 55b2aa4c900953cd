#pragma once
// Small records of the configuration classes: key binds, control entries, font
// replacements and the console's line history. Each registers an RTTIClass with
// base "RTTIPropertiesBase"; the property tables below are a file format (saved
// "config.bin" and shipped "Project.ConfigBin").
//
// Threads: owned by their configuration object; main thread.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

// "Key code" u32, "Command string" char*. Owns its command text (engine allocator).
struct KeyBindDef {
    uint32_t keyCode = 0;
    char* command = nullptr;

    KeyBindDef() = default;
    KeyBindDef(uint32_t code, const char* text);
    KeyBindDef(const KeyBindDef& o);
    KeyBindDef(KeyBindDef&& o) noexcept;
    KeyBindDef& operator=(const KeyBindDef& o);
    KeyBindDef& operator=(KeyBindDef&& o) noexcept;
    ~KeyBindDef();

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
};

// "Primary" u32, "Secondary" u32: the input codes of one action.
struct ControlEntry {
    uint32_t primary = 0;
    uint32_t secondary = 0;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
};

// "Language" (string; the language index stored by name), "Original" NameString
// (lower-cased when set), "Replacement" NameString, "Scale" float, "Granularity"
// u32, "MaxSize" u32.
struct FontReplacement {
    uint32_t language = 0;  // 0..10, or kLanguageNone
    NameString original;
    NameString replacement;
    float scale = 1.0f;
    uint32_t granularity = 1;
    uint32_t maxSize = 0;

    // The language's name; "" for an index of 11 or more.
    char* GetLanguageName() const;
    // One of the eleven names (case-insensitive) gives its index; anything else 11.
    void SetLanguageName(char* const& name);
    NameString GetOriginal() const { return original; }
    void SetOriginal(const NameString& name);

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
};

// "History" array of char* (newest first), "Maximum size" u32.
class StringHistoryContainer : public RTTIPolyBaseClass {
public:
    StringHistoryContainer() = default;
    StringHistoryContainer(const StringHistoryContainer&) = delete;
    StringHistoryContainer& operator=(const StringHistoryContainer&) = delete;
    ~StringHistoryContainer() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Null is ignored. An equal text (case-sensitive) already present moves to the
    // front; otherwise a copy (null for "") goes to the front and the oldest entries
    // are dropped while the count exceeds the maximum.
    void AddUnique(const char* text);
    void Clear();
    uint32_t Count() const { return history.Count(); }
    // Entry i (0 = newest): the stored pointer (null for an empty line), or null for an
    // index beyond the count.
    const char* GetAt(uint32_t i) const { return history.GetAt(i); }
    // Entry i (0 = newest); "" for a null entry or an index beyond the count.
    const char* At(uint32_t i) const;

    Dynarray<char*> history;
    uint32_t maximumSize = 32;
};
