#include "core/config/EngineConfig.h"

#include <algorithm>

#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/config/ConfigEnums.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"

namespace {

RTTIClass* gEngineConfigClass = nullptr;

const char* const kControlSetNames[kControlSetCount] = {"GamePad Control", "Mouse Control", "Keyboard Control",
                                                        "DIPad Control"};

// Index of the first bind whose code is not below keyCode.
uint32_t LowerBound(const DynarraySafe<KeyBindDef>& binds, uint32_t keyCode) {
    return static_cast<uint32_t>(std::lower_bound(binds.begin(), binds.end(), keyCode,
                                                  [](const KeyBindDef& b, uint32_t code) { return b.keyCode < code; }) -
                                 binds.begin());
}

}  // namespace

EngineConfig::~EngineConfig() {
    RTTIFreeString(repositoryPath);
    RTTIFreeString(activeConfigurationProfiles);
}

const RTTIClass* EngineConfig::RegisterClass(const char* nameOverride) {
    if (gEngineConfigClass) return gEngineConfigClass;
    CoreConfig::RegisterClass();
    const RTTIClass* keyBind = KeyBindDef::RegisterClass();
    const RTTIClass* control = ControlEntry::RegisterClass();
    StringHistoryContainer::RegisterClass();
    RendererConfigContainer::RegisterClass();

    using E = EngineConfig;
    RTTIClass* c = CreateRegisteredClass(gEngineConfigClass, nameOverride ? nameOverride : "EngineConfig", "CoreConfig");
    AddDirect<char*>(c, "Repository path", RTTI_OFFSETOF(E, repositoryPath), 34);
    AddDirect<float>(c, "Mouse sensitivity", RTTI_OFFSETOF(E, mouseSensitivity));
    AddDirect<bool>(c, "Invert mouse", RTTI_OFFSETOF(E, invertMouse));
    AddDirect<uint32_t>(c, "Input mode", RTTI_OFFSETOF(E, inputMode));
    AddDirect<bool>(c, "Full screen mode", RTTI_OFFSETOF(E, fullScreenMode));
    c->AddProperty(
        new RTTIEmbeddedObjectProperty<RendererConfigContainer>("Renderer config", RTTI_OFFSETOF(E, rendererConfig)));
    AddDirect<float>(c, "Music volume", RTTI_OFFSETOF(E, musicVolume));
    AddDirect<float>(c, "SFX volume", RTTI_OFFSETOF(E, sfxVolume));
    AddDirect<float>(c, "Voice volume", RTTI_OFFSETOF(E, voiceVolume));
    AddDirect<uint32_t>(c, "Port", RTTI_OFFSETOF(E, port));
    AddDirect<bool>(c, "EnableCloud", RTTI_OFFSETOF(E, enableCloud));
    AddDirect<uint32_t>(c, "Text language", RTTI_OFFSETOF(E, textLanguage), kPropertyFlagEnum, kLanguageNames);
    AddDirect<uint32_t>(c, "Voice language", RTTI_OFFSETOF(E, voiceLanguage), kPropertyFlagEnum, kLanguageNames);
    AddDirect<uint8_t>(c, "Subtitle mode", RTTI_OFFSETOF(E, subtitleMode), 2);
    AddDirect<bool>(c, "Render triggers", RTTI_OFFSETOF(E, renderTriggers));
    AddDirect<bool>(c, "Render pathfinder debug", RTTI_OFFSETOF(E, renderPathfinderDebug));
    AddDirect<char*>(c, "Active configuration profiles", RTTI_OFFSETOF(E, activeConfigurationProfiles));
    AddDirect<bool>(c, "Try to load templates and textures from Mobile subdir", RTTI_OFFSETOF(E, loadFromMobileSubdir));
    AddDirect<bool>(c, "UserGUID established", RTTI_OFFSETOF(E, userGUIDEstablished));
    c->AddProperty(new RTTISGProperty<SimpleGUID, E>("UserGUID", &E::GetUserGUID, &E::SetUserGUID));
    for (uint32_t set = 0; set < kControlSetCount; ++set)
        c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<Dynarray<ControlEntry>>(
            kControlSetNames[set], RTTI_OFFSETOF(E, controlSets) + set * sizeof(Dynarray<ControlEntry>), control));
    AddDirect<uint32_t>(c, "Control established", RTTI_OFFSETOF(E, controlEstablished));
    AddDirect<bool>(c, "Console show commands", RTTI_OFFSETOF(E, consoleShowCommands));
    c->AddProperty(
        new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<KeyBindDef>>("Key binds", RTTI_OFFSETOF(E, keyBinds), keyBind));
    c->AddProperty(
        new RTTIEmbeddedObjectProperty<StringHistoryContainer>("Console history", RTTI_OFFSETOF(E, consoleHistory)));
    c->AddProperty(new RTTIStaticBitVectorProperty<kProfilerBits>("In game profilers", RTTI_OFFSETOF(E, inGameProfilers)));
    c->AddProperty(new RTTIStaticBitVectorProperty<kProfilerBits>("Editor profilers", RTTI_OFFSETOF(E, editorProfilers)));
    return c;
}

void EngineConfig::OnLoaded(uint32_t options) {
    std::stable_sort(keyBinds.begin(), keyBinds.end(),
                     [](const KeyBindDef& a, const KeyBindDef& b) { return a.keyCode < b.keyCode; });
}

void EngineConfig::BindKey(uint32_t keyCode, const char* command) {
    const uint32_t i = LowerBound(keyBinds, keyCode);
    const bool bound = i < keyBinds.Count() && keyBinds[i].keyCode == keyCode;
    if (bound) {
        if (command) {
            KeyBindDef replacement(keyCode, command);
            keyBinds[i] = std::move(replacement);
        } else {
            keyBinds.Remove(i);
        }
    } else if (command) {
        keyBinds.Insert(KeyBindDef(keyCode, command), i);
    }
}

const char* EngineConfig::GetKeyBindCommand(uint32_t keyCode) const {
    const uint32_t i = LowerBound(keyBinds, keyCode);
    return i < keyBinds.Count() && keyBinds[i].keyCode == keyCode ? keyBinds[i].command : nullptr;
}

void EngineConfig::RemoveAllKeyBinds() { keyBinds.Release(); }

ControlEntry* EngineConfig::ControlSlot(uint32_t set, uint32_t action) {
    if (set >= kControlSetCount || action >= kMaxControlActions) {
        gLog.Warning(LogCategory::Engine, "EngineConfig - control set %u action %u out of range", set, action);
        return nullptr;
    }
    Dynarray<ControlEntry>& entries = controlSets[set];
    if (action >= entries.Count() && !entries.Resize(action + 1)) return nullptr;
    return &entries[action];
}

void EngineConfig::SetPrimaryControl(uint32_t set, uint32_t action, uint32_t code) {
    if (ControlEntry* e = ControlSlot(set, action)) e->primary = code;
}

void EngineConfig::SetSecondaryControl(uint32_t set, uint32_t action, uint32_t code) {
    if (ControlEntry* e = ControlSlot(set, action)) e->secondary = code;
}

void EngineConfig::GetControl(uint32_t set, uint32_t action, uint32_t* primary, uint32_t* secondary) const {
    ControlEntry e;
    if (set < kControlSetCount && action < controlSets[set].Count()) e = controlSets[set][action];
    if (primary) *primary = e.primary;
    if (secondary) *secondary = e.secondary;
}

void EngineConfig::RemoveAllControls(uint32_t set) {
    if (set < kControlSetCount) controlSets[set].Release();
}
