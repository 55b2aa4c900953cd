#include "core/config/ConfigRecords.h"

#include <cstring>
#include <string>
#include <utility>

#include "core/StaticInit.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/DirectProperty.h"

namespace {
RTTIClass* gKeyBindDefClass = nullptr;
RTTIClass* gControlEntryClass = nullptr;
RTTIClass* gFontReplacementClass = nullptr;
RTTIClass* gStringHistoryClass = nullptr;

void AssignString(char*& member, const char* text) { RTTIValueStore<char*>::Assign(member, const_cast<char*>(text)); }
}  // namespace

// ---------------------------------------------------------------------------------
// KeyBindDef

KeyBindDef::KeyBindDef(uint32_t code, const char* text) : keyCode(code) { AssignString(command, text); }
KeyBindDef::KeyBindDef(const KeyBindDef& o) : keyCode(o.keyCode) { AssignString(command, o.command); }
KeyBindDef::KeyBindDef(KeyBindDef&& o) noexcept : keyCode(o.keyCode), command(o.command) { o.command = nullptr; }
KeyBindDef& KeyBindDef::operator=(const KeyBindDef& o) {
    keyCode = o.keyCode;
    AssignString(command, o.command);
    return *this;
}
KeyBindDef& KeyBindDef::operator=(KeyBindDef&& o) noexcept {
    keyCode = o.keyCode;
    std::swap(command, o.command);
    return *this;
}
KeyBindDef::~KeyBindDef() { RTTIFreeString(command); }

const RTTIClass* KeyBindDef::RegisterClass(const char* nameOverride) {
    if (gKeyBindDefClass) return gKeyBindDefClass;
    RTTIClass* c = CreateRegisteredClass(gKeyBindDefClass, nameOverride ? nameOverride : "KeyBindDef", kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "Key code", RTTI_OFFSETOF(KeyBindDef, keyCode));
    AddDirect<char*>(c, "Command string", RTTI_OFFSETOF(KeyBindDef, command));
    return c;
}

// ---------------------------------------------------------------------------------
// ControlEntry

const RTTIClass* ControlEntry::RegisterClass(const char* nameOverride) {
    if (gControlEntryClass) return gControlEntryClass;
    RTTIClass* c =
        CreateRegisteredClass(gControlEntryClass, nameOverride ? nameOverride : "ControlEntry", kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "Primary", RTTI_OFFSETOF(ControlEntry, primary));
    AddDirect<uint32_t>(c, "Secondary", RTTI_OFFSETOF(ControlEntry, secondary));
    return c;
}

// ---------------------------------------------------------------------------------
// FontReplacement

char* FontReplacement::GetLanguageName() const {
    // The property codecs only read through the pointer.
    return const_cast<char*>(LanguageNameFromIndex(language));
}

void FontReplacement::SetLanguageName(char* const& name) { language = LanguageIndexFromName(name); }

void FontReplacement::SetOriginal(const NameString& name) {
    // ASCII lower case, as the C library's in the C locale.
    std::string lower = name.CStr();
    for (char& ch : lower)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    original = lower.c_str();
}

const RTTIClass* FontReplacement::RegisterClass(const char* nameOverride) {
    if (gFontReplacementClass) return gFontReplacementClass;
    using F = FontReplacement;
    RTTIClass* c =
        CreateRegisteredClass(gFontReplacementClass, nameOverride ? nameOverride : "FontReplacement", kRTTIRootBaseName);
    c->AddProperty(new RTTISGProperty<char*, F, char*, char* const&>("Language", &F::GetLanguageName, &F::SetLanguageName));
    c->AddProperty(new RTTISGProperty<NameString, F>("Original", &F::GetOriginal, &F::SetOriginal));
    AddDirect<NameString>(c, "Replacement", RTTI_OFFSETOF(F, replacement));
    AddDirect<float>(c, "Scale", RTTI_OFFSETOF(F, scale));
    AddDirect<uint32_t>(c, "Granularity", RTTI_OFFSETOF(F, granularity));
    AddDirect<uint32_t>(c, "MaxSize", RTTI_OFFSETOF(F, maxSize));
    return c;
}

// ---------------------------------------------------------------------------------
// StringHistoryContainer

StringHistoryContainer::~StringHistoryContainer() { Clear(); }

void StringHistoryContainer::Clear() {
    for (char*& s : history) RTTIFreeString(s);
    history.Release();
}

const char* StringHistoryContainer::At(uint32_t i) const {
    return i < history.Count() && history[i] ? history[i] : "";
}

void StringHistoryContainer::AddUnique(const char* text) {
    if (!text) return;
    for (uint32_t i = 0; i < history.Count(); ++i) {
        if (std::strcmp(history[i] ? history[i] : "", text) != 0) continue;
        char* found = history[i];
        history.Remove(i);
        history.Insert(found, 0);
        return;
    }
    char* copy = nullptr;
    AssignString(copy, text);
    if (!history.Insert(copy, 0)) {
        RTTIFreeString(copy);
        return;
    }
    while (history.Count() > maximumSize) {
        RTTIFreeString(history[history.Count() - 1]);
        history.Remove(history.Count() - 1);
    }
}

const RTTIClass* StringHistoryContainer::RegisterClass(const char* nameOverride) {
    if (gStringHistoryClass) return gStringHistoryClass;
    using S = StringHistoryContainer;
    RTTIClass* c = CreateRegisteredClass(gStringHistoryClass, nameOverride ? nameOverride : "StringHistoryContainer",
                                         kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayProperty<Dynarray<char*>>("History", RTTI_OFFSETOF(S, history)));
    AddDirect<uint32_t>(c, "Maximum size", RTTI_OFFSETOF(S, maximumSize));
    return c;
}
