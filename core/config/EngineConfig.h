#pragma once
// EngineConfig : CoreConfig — input, display, sound, network and language settings,
// the renderer settings, control sets, key binds and the console history.
//
// Properties in registration order (type, flags, default):
//   "Repository path" char* (34) null; "Mouse sensitivity" float 1.0; "Invert mouse"
//   bool false; "Input mode" u32 1; "Full screen mode" bool true; "Renderer config"
//   embedded RendererConfigContainer; "Music volume", "SFX volume", "Voice volume"
//   float -1.0 (negative: take the project's default); "Port" u32 9876;
//   "EnableCloud" bool true; "Text language" u32 enumeration 12 "Default"; "Voice
//   language" u32 enumeration 1 "English"; "Subtitle mode" u8 (2) 0; "Render
//   triggers", "Render pathfinder debug" bool false; "Active configuration
//   profiles" char* null; "Try to load templates and textures from Mobile subdir"
//   bool false; "UserGUID established" bool false; "UserGUID" SimpleGUID through
//   getter and setter, zero; "GamePad Control", "Mouse Control", "Keyboard Control",
//   "DIPad Control" arrays of ControlEntry; "Control established" u32 0; "Console
//   show commands" bool false; "Key binds" array of KeyBindDef sorted by key code;
//   "Console history" embedded StringHistoryContainer (maximum 32); "In game
//   profilers", "Editor profilers" 76-bit vectors, all clear.
//
// Threads: main thread.
#include <cstdint>

#include "core/config/ConfigRecords.h"
#include "core/config/CoreConfig.h"
#include "core/config/RendererConfigContainer.h"
#include "core/rtti/SimpleGUID.h"

// Control sets, by number.
enum : uint32_t {
    kControlSetGamePad = 0,
    kControlSetMouse = 1,
    kControlSetKeyboard = 2,
    kControlSetDIPad = 3,
    kControlSetCount = 4,
};
// Largest action index a control set grows to; a bigger index (from a script) is
// refused instead of growing the set without bound.
constexpr uint32_t kMaxControlActions = 4096;
constexpr uint32_t kProfilerBits = 76;
constexpr uint32_t kProfilerWords = (kProfilerBits + 31) / 32;

class EngineConfig : public CoreConfig {
public:
    EngineConfig() = default;
    ~EngineConfig() override;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Keeps "Key binds" sorted after a load (a hand-edited file may not be).
    void OnLoaded(uint32_t options) override;

    // Hands "Renderer config" to the renderer (RendererConfigServices; nothing while none
    // is installed).
    void FillRendererParams() { rendererConfig.OnPropertyChanged(nullptr); }

    // Virtual operations after those of RTTIPolyBaseClass, in this order.
    virtual bool GetUseContainerFiles() const { return false; }
    // A standalone build reads "Templates/TemplateInfo.Bin" instead of scanning the
    // template folders.
    virtual bool IsStandaloneBuild() const { return false; }
    // A third flag whose meaning is not documented; true in both classes.
    virtual bool GetThirdFlag() const { return true; }
    virtual void ConfigHook() {}

    // Key binds stay sorted by key code. An existing bind of the code is replaced by a
    // copy of the command, or removed when the command is null; otherwise a copy is
    // inserted at its sorted place (a null command adds nothing).
    void BindKey(uint32_t keyCode, const char* command);
    // The command bound to the code, or null.
    const char* GetKeyBindCommand(uint32_t keyCode) const;
    void RemoveAllKeyBinds();

    // Control sets 0..3: setting an action grows the set with zero entries up to the
    // action index. Unknown sets and action indices of kMaxControlActions or more are
    // ignored (a warning is logged).
    void SetPrimaryControl(uint32_t set, uint32_t action, uint32_t code);
    void SetSecondaryControl(uint32_t set, uint32_t action, uint32_t code);
    // 0 and 0 beyond the set (or for an unknown set).
    void GetControl(uint32_t set, uint32_t action, uint32_t* primary, uint32_t* secondary) const;
    void RemoveAllControls(uint32_t set);

    SimpleGUID GetUserGUID() const { return userGUID; }
    void SetUserGUID(const SimpleGUID& guid) { userGUID = guid; }

    char* repositoryPath = nullptr;
    float mouseSensitivity = 1.0f;
    bool invertMouse = false;
    uint32_t inputMode = 1;
    bool fullScreenMode = true;
    RendererConfigContainer rendererConfig;
    float musicVolume = -1.0f;
    float sfxVolume = -1.0f;
    float voiceVolume = -1.0f;
    uint32_t port = 9876;
    bool enableCloud = true;
    uint32_t textLanguage = 12;
    uint32_t voiceLanguage = 1;
    uint8_t subtitleMode = 0;
    bool renderTriggers = false;
    bool renderPathfinderDebug = false;
    char* activeConfigurationProfiles = nullptr;
    bool loadFromMobileSubdir = false;
    bool userGUIDEstablished = false;
    SimpleGUID userGUID;
    Dynarray<ControlEntry> controlSets[kControlSetCount];
    uint32_t controlEstablished = 0;
    bool consoleShowCommands = false;
    DynarraySafe<KeyBindDef> keyBinds;
    StringHistoryContainer consoleHistory;
    uint32_t inGameProfilers[kProfilerWords] = {};
    uint32_t editorProfilers[kProfilerWords] = {};
    // Set by scripts (the configuration helper's EnableConsole); not a property, so
    // never saved.
    bool consoleEnabled = false;

private:
    ControlEntry* ControlSlot(uint32_t set, uint32_t action);
};
