// The localisation store. A lookup resolves a '/'-separated string id either in the
// compiled collection of "L01n.bin" (one binary search by full path, in unsigned byte
// order) or, when none is loaded, group by group in the editing tree, whose groups keep
// sorted copies of their children refreshed whenever the tree generation moves on. The
// text language comes from the project configuration, the platform's game language
// and, per lookup, the configuration's "Text language".
#include "ui/localisation/StringManager.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidFile.h"
#include "platform/online/Online.h"
#include "ui/localisation/CompiledGameStringCollection.h"

StringManager* gStringManager = nullptr;

namespace {

RTTIClass* gStringManagerClass = nullptr;

// Case-insensitive ASCII equality (the platform's language names are ASCII).
bool SameNameIgnoringCase(const char* a, const char* b) { return CompareNoCase(a, b) == 0; }

}  // namespace

StringManager::StringManager() { SelectLanguage(); }

StringManager::~StringManager() {
    delete compiled;
    compiled = nullptr;
}

const RTTIClass* StringManager::RegisterClass(const char* nameOverride) {
    if (gStringManagerClass) return gStringManagerClass;
    const RTTIClass* group = GameStringGroup::RegisterClass();
    using S = StringManager;
    RTTIClass* c =
        CreateRegisteredClass(gStringManagerClass, nameOverride ? nameOverride : "StringManager", kRTTIRootBaseName);
    c->AddProperty(new RTTIEmbeddedObjectProperty<GameStringGroup>("RootGroup", RTTI_OFFSETOF(S, rootGroup), group));
    return c;
}

void StringManager::SelectLanguage() {
    const uint32_t mask = gProjectConfig ? gProjectConfig->languageMask : 0xFFFFFFFFu;
    const uint32_t preferred = gProjectConfig ? gProjectConfig->defaultLanguage : kLanguageDefault;
    // A configured language wins. The value is unsigned: 11 and above mean none chosen.
    chosenLanguage = preferred;
    if (preferred < kLanguageNone) return;
    chosenLanguage = kLanguageEnglish;
    if (!(mask & (1u << kLanguageEnglish))) {
        for (uint32_t i = 0; i < kLanguageCount; ++i) {
            if (mask & (1u << i)) {
                chosenLanguage = i;
                break;
            }
        }
    }
    online::OnlineApps* apps = SteamApps();
    const char* platformName = apps ? apps->GetCurrentGameLanguage() : nullptr;
    if (!platformName) return;
    for (uint32_t i = 0; i < kLanguageCount; ++i) {
        if ((mask & (1u << i)) && SameNameIgnoringCase(platformName, kLanguageNames[i])) {
            chosenLanguage = i;
            break;
        }
    }
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Steam language: %s (%d)", platformName,
               static_cast<int>(chosenLanguage));
}

uint32_t StringManager::GetCurrentLanguage() const {
    if (gGameConfig && gGameConfig->textLanguage < kLanguageNone) return gGameConfig->textLanguage;
    return chosenLanguage;
}

const char16_t* StringManager::GetString(const char* id, uint32_t language, const char** speakerOut, bool fallback,
                                         bool warnIfMissing) {
    if (language == kCurrentTextLanguage) language = GetCurrentLanguage();
    if (language >= kLanguageNone || !id) return nullptr;
    const char16_t* text = nullptr;
    const char* speaker = nullptr;
    if (const GameString* s = FindGameString(id)) {
        text = s->GetText(language);
        if (!text && fallback) {
            text = s->GetText(kLanguageEnglish);
            if (!text) text = s->GetText(0);
        }
        speaker = s->GetSpeakerName();
    } else if (warnIfMissing) {
        gLog.Error(LogCategory::Engine, "Unable to find string: %s", id);
    }
    if (speakerOut) *speakerOut = speaker;
    return text;
}

GameString* StringManager::FindGameString(const char* id) {
    if (!id) return nullptr;
    if (compiled) return compiled->Find(id);
    return FindInTree(id);
}

GameString* StringManager::FindInTree(const char* id) {
    GameStringGroup* group = &rootGroup;
    const char* rest = id;
    for (const char* slash = std::strchr(rest, '/'); slash; slash = std::strchr(rest, '/')) {
        group->UpdateSorted(treeGeneration);
        group = group->FindSortedGroup(rest, static_cast<size_t>(slash - rest));
        if (!group) return nullptr;
        rest = slash + 1;
    }
    group->UpdateSorted(treeGeneration);
    return group->FindSortedString(rest, std::strlen(rest));
}

bool StringManager::LoadCompiledStrings() {
    return LoadCompiledStrings(kCompiledStringsName, kCompiledStringsExtension);
}

bool StringManager::LoadCompiledStrings(const char* fileName) {
    if (!fileName) return false;
    char name[fs::kMaxPath];
    std::snprintf(name, sizeof name, "%s", fileName);
    char* dot = std::strrchr(name, '.');
    if (dot) *dot = 0;
    return LoadCompiledStrings(name, dot ? dot + 1 : "");
}

bool StringManager::LoadCompiledStrings(const char* name, const char* extension) {
    FileReader reader(name, extension, kCompiledStringsDirectory);
    if (!reader.IsOpen()) return false;
    delete compiled;
    compiled = new CompiledGameStringCollection();
    char path[fs::kMaxPath];
    FileSystem::ComposePath(path, sizeof path, name, extension, kCompiledStringsDirectory);
    // A read that fails has logged its line; a file that reads but would send a lookup
    // out of bounds gets one of its own. Either way lookups see no collection.
    bool ok = SolidDeserializeFromFileReader(*compiled, reader, 0, path);
    if (ok && !compiled->Validate()) {
        gLog.Error(LogCategory::Engine,
                   "StringManager::LoadCompiledStrings - %s is damaged: its entries do not match its paths and strings",
                   path);
        ok = false;
    }
    if (!ok) {
        delete compiled;
        compiled = nullptr;
    }
    return ok;
}

bool StringManager::LoadStringsXML() {
    rootGroup.Clear();
    ++treeGeneration;
    delete compiled;
    compiled = nullptr;
    gLog.Print(LogSeverity::ScriptConsole, LogCategory::Engine, "Loading localization strings");
    ++treeGeneration;
    return false;
}

void StringManager::CollectUsedCharacters(uint32_t language, uint32_t* bitSet) const {
    rootGroup.CollectUsedCharacters(language, bitSet);
}
