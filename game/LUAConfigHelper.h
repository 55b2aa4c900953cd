#pragma once
// LUAConfigHelper (global gConfigHelper, script class "LUAConfigHelper"): the scripts' view
// of the settings. Every function reads or writes the game configuration (gGameConfig:
// EngineConfig and its "Renderer config"), the project configuration, the renderer, the
// Game's input manager or a service of the subsystems above the engine, within the
// limits noted below. A missing configuration, Game or service gives the least
// behaviour: getters answer 0, false or "", setters change nothing.
//
// Screen modes come from one of two lists: the display's resolutions (in full screen)
// or the five render-scale presets 0.5, 0.6, 0.75, 0.9 and 1.0 (in a window).
// AdjustScreenModeTableToDisplayMode picks the list from "Full screen mode".
//
// Control sets (the `device` arguments): 0 game pad, 1 mouse, 2 keyboard, 3 DirectInput
// pad. A binding holds a primary and a secondary input code per action.
//
// Texts returned as `const char*` live in buffers of the helper, valid until the next
// call of the same function.
//
// Threads: main thread (the scripts' thread).
#include <cstdint>

#include "core/rtti/SimpleGUID.h"

class LuaUnicodeString;

// The render-scale presets of the windowed screen-mode list.
constexpr uint32_t kScreenScalePresetCount = 5;
extern const float kScreenScalePresets[kScreenScalePresetCount];

// Limits of the setters.
constexpr float kMinScreenResolutionScale = 0.1f;
constexpr float kMaxScreenResolutionScale = 1.0f;
constexpr uint32_t kMaxGFXQualityLevel = 4;  // "Very high"
constexpr uint32_t kMaxInputMode = 4;        // touch
// Key names longer than this many characters are cut.
constexpr uint32_t kMaxKeyNameCharacters = 256;
// Bytes of the text ToAsciiUnsafe hands back, its terminator included.
constexpr uint32_t kAsciiBufferBytes = 512;
constexpr uint32_t kScreenModeTextBytes = 64;

class LUAConfigHelper {
public:
    LUAConfigHelper() = default;
    LUAConfigHelper(const LUAConfigHelper&) = delete;
    LUAConfigHelper& operator=(const LUAConfigHelper&) = delete;

    // ---- Project, saving and files ----
    // This build's program magic ("": it carries none) and the platform's name ("PC").
    const char* GetProgramMagic() const { return ""; }
    const char* GetPlatformString() const { return "PC"; }
    // The project's distribution tag ("" when it has none).
    const char* GetDistroTag() const;
    // The game delegate's SaveConfig, then the engine's.
    void SaveConfig();
    bool CheckIfFileExists(const char* name, const char* extension, const char* mount) const;
    bool IsHDMode() const;

    // ---- Graphics ----
    // Flip "Enable shadow map" and reset the renderer with the configuration.
    void ToggleShadows();
    // Flip "VSync" and ask the renderer for a device reset.
    void ToggleVSync();
    // The screen-mode list follows "Full screen mode": resolutions when set, presets
    // otherwise.
    void AdjustScreenModeTableToDisplayMode();
    bool IsResolutionList() const { return resolutionList != 0; }
    uint32_t GetScreenModeCount() const;
    // Resolutions: "%dx%d" of the mode, "" outside the list. Presets: "50%" ... "100%",
    // an index outside 0..4 naming the last.
    const char* GetScreenModeDesc(int32_t index);
    // Resolutions: the mode whose size is the client size times the resolution scale,
    // -1 when none is. Presets: the one nearest to the scale (the first of equally near
    // ones).
    int32_t GetScreenMode() const;
    // Resolutions: scale = min(1, mode width / client width); an index outside the list
    // changes nothing. Presets: the preset (outside 0..4 the last). Then a device reset.
    void SetScreenMode(int32_t index);
    float GetScreenResolutionScale() const;
    void SetScreenResolutionScale(float scale);  // 0.1..1.0, then a device reset
    uint32_t GetGFXQualityLevel() const;
    void SetGFXQualityLevel(uint32_t level);  // 5 and up become 4
    float GetBrightness() const;
    void SetBrightness(float value);  // 0..1, posted to the renderer
    float GetScreenScaleX() const;    // also the script's GetZoom
    float GetScreenScaleY() const;
    void SetScreenScaleX(float value);  // 0..1, posted to the renderer
    void SetScreenScaleY(float value);
    void SetZoom(float value);  // both scales
    bool GetFullScreen() const;
    // Takes effect through ApplySeriousGFXSettings.
    void SetFullScreen(bool fullScreen);
    // Resets the renderer with the settings, rebuilds the render resources that depend
    // on them, then asks the Game for the full-screen state of the configuration and
    // the renderer's current size.
    void ApplySeriousGFXSettings();

    // ---- Sound, network, language ----
    float GetMusicVolume() const;
    float GetSFXVolume() const;
    float GetVoiceVolume() const;
    // Each setter has the sound engine re-apply the volumes.
    void SetMusicVolume(float volume);
    void SetSFXVolume(float volume);
    void SetVoiceVolume(float volume);
    void SetVolumes(float music, float sfx, float voice);
    uint32_t GetNetworkPort() const;
    void SetNetworkPort(uint32_t port);
    // The text language: 0..10, 11 none, 12 "Default".
    uint32_t GetLanguage() const;
    // Stores the index and reloads the localised resources.
    void SetLanguage(uint32_t index);
    uint32_t GetSubtitles() const;  // 0 default, 1 on, 2 off
    void SetSubtitles(uint32_t mode);
    // Default mode: everywhere but in English (for the indices 11 and 12 the string
    // manager's language decides); on: true; off: false.
    bool ShouldDisplaySubtitles() const;
    // 12 gives "Default"; 0..10 the name when the project offers that language; null
    // otherwise.
    const char* GetLanguageNameIfAvailable(uint32_t index) const;

    // ---- Input ----
    // Mouse codes append their localised names ("System/MouseButtons/..."); other codes
    // the key's name, upper-cased when asked. Nothing for a null text.
    void AppendKeyName(LuaUnicodeString* text, uint32_t keyCode, bool upperCase) const;
    uint32_t GetInputMode() const;
    void SetInputMode(uint32_t mode);  // 5 and up become 4
    // The first key 0..236, then mouse code, that went down this frame; 0 for none.
    uint32_t GetFirstPressedKey() const;
    // The first XInput button mask (then the triggers 0x10001, 0x10002) that went down
    // this frame on that pad (256: any enabled pad); 0 for none.
    uint32_t GetFirstPressedXControllerButton(uint32_t controller) const;
    // The first DirectInput pad button (1..32) that went down this frame; 0 for none.
    uint32_t GetFirstPressedDIControllerButton(uint32_t controller) const;
    void RemoveAllControls(uint32_t device);
    uint32_t GetControlDefinitionEstablishedMagic() const;
    void SetControlDefinitionEstablishedMagic(uint32_t magic);
    void SetPrimaryControl(uint32_t action, uint32_t device, uint32_t code);
    void SetSecondaryControl(uint32_t action, uint32_t device, uint32_t code);
    uint32_t GetControl(uint32_t action, uint32_t device, bool secondary) const;
    // Either bound code of the action held (device 0 on the XInput pad `controller`,
    // device 3 on the DirectInput pad, others on the keyboard and mouse); the secondary
    // code is tested first.
    bool IsKeyOrButtonPressed(uint32_t action, uint32_t device, uint32_t controller) const;
    bool IsKeyOrButtonPressedForTheFirstTime(uint32_t action, uint32_t device, uint32_t controller) const;
    // Keyboard and mouse only; false for the pads (devices 0 and 3).
    bool IsKeyOrButtonReleasedForTheFirstTime(uint32_t action, uint32_t device, uint32_t controller) const;

    // ---- Console, profiles, analytics, user ----
    void EnableConsole(bool enable);
    // "" when none is set.
    const char* GetActiveConfigurationProfiles() const;
    void AnalyticsBegin(const char* name);
    void AnalyticsEnd();
    void AnalyticsAddInt(const char* key, int32_t value);
    void AnalyticsAddFloat(const char* key, float value);
    void AnalyticsAddString(const char* key, const char* value);
    bool GetUserGUIDEstablished() const;
    void SetUserGUIDEstablished(bool established);
    SimpleGUID GetUserGUID() const;
    void SetUserGUID(const SimpleGUID& guid);

    // ---- Text ----
    // The text as UTF-8, cut on a character boundary to fit 511 bytes; null for null.
    const char* ToAsciiUnsafe(const LuaUnicodeString* text);
    // A new string (the caller owns it) with the text of the id in the current
    // language; empty when there is none.
    LuaUnicodeString* GetLocalizedString(const char* id) const;

private:
    uint8_t resolutionList = 0;
    char screenModeText[kScreenModeTextBytes] = {};
    char asciiText[kAsciiBufferBytes] = {};
};

// Made by the engine's start-up table, destroyed at shutdown.
extern LUAConfigHelper* gConfigHelper;

