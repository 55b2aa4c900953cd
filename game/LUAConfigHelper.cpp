// The scripts' configuration helper. See LUAConfigHelper.h.
//
// The renderer keeps its own copy of the renderer configuration (filled by the
// configuration's RendererConfigServices), and a device reset builds its present parameters from
// that copy. Every function here that resets the device or asks for a reset first hands
// the configuration over, so the changed setting is the one the reset applies.
#include "game/LUAConfigHelper.h"

#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/fs/FileSystem.h"
#include "core/text/TextConversion.h"
#include "engine/VornexEngine.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/input/InputManager.h"
#include "engine/input/KeyboardDevice.h"
#include "engine/script/LuaUnicodeString.h"
#include "net/online/VornexAnalytics.h"
#include "render/VornexRenderer.h"
#include "sound/SoundEngine.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringManager.h"

LUAConfigHelper* gConfigHelper = nullptr;

const float kScreenScalePresets[kScreenScalePresetCount] = {0.5f, 0.6f, 0.75f, 0.9f, 1.0f};

namespace {

// The localised names of the mouse codes 0x10000..0x10005.
const char* const kMouseButtonStringIds[kMouseButtonCount] = {
    "System/MouseButtons/Left",
    "System/MouseButtons/Right",
    "System/MouseButtons/Middle",
    "System/MouseButtons/LeftDoubleClick",
    "System/MouseButtons/RightDoubleClick",
    "System/MouseButtons/MiddleDoubleClick",
};

// Keyboard codes GetFirstPressedKey looks at, below this.
constexpr uint32_t kFirstPressedKeyEnd = 237;

// The XInput codes GetFirstPressedXControllerButton looks at, in its order: the button
// masks, then the two triggers.
const uint32_t kXControllerButtonOrder[] = {
    0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040, 0x0080,
    0x0100, 0x0200, 0x1000, 0x2000, 0x4000, 0x8000, kXControllerLeftTrigger, kXControllerRightTrigger,
};

constexpr uint32_t kDeviceGamePad = kControlSetGamePad;
constexpr uint32_t kDeviceDIPad = kControlSetDIPad;

// Clamps to [low, high]; NaN (a script's 0/0) becomes low.
float ClampSetting(float value, float low, float high) {
    if (!(value >= low)) return low;
    return value > high ? high : value;
}

RendererConfigContainer* RendererConfig() { return gGameConfig ? &gGameConfig->rendererConfig : nullptr; }

// Hands the configuration to the renderer's copy (see the file comment).
void HandSettingsToRenderer() {
    if (gGameConfig) gGameConfig->FillRendererParams();
}

// The renderer reset of ToggleShadows and ApplySeriousGFXSettings: no window, the size
// kept, the configuration applied.
void ResetRendererWithSettings() {
    HandSettingsToRenderer();
    gVornexRenderer.Reset(0, 0, 0, true, true);
}

void RequestDeviceResetWithSettings() {
    HandSettingsToRenderer();
    gVornexRenderer.RequestDeviceReset();
}

InputManager* GameInput() { return gGame ? gGame->GetInputManager() : nullptr; }

void RefreshVolumes() {
    if (gSoundEngine) gSoundEngine->ApplyVolumeSettings();
}

// The text of a string id in the current text language; null without a string table.
const char16_t* LocalisedText(const char* id) {
    return id && gStringManager ? gStringManager->GetString(id, kCurrentTextLanguage, nullptr, true, true) : nullptr;
}

// UTF-16 units of `text` whose UTF-8 form fits `limit` bytes without splitting a
// character; *bytes receives that form's size. An unpaired surrogate becomes U+FFFD
// (3 bytes), as the conversion writes it.
uint32_t UnitsFittingUTF8(const char16_t* text, uint32_t limit, uint32_t* bytes) {
    uint32_t units = 0, used = 0;
    while (text[units]) {
        const char16_t c = text[units];
        uint32_t step = 1, size = 3;
        if (c < 0x80) {
            size = 1;
        } else if (c < 0x800) {
            size = 2;
        } else if (c >= 0xD800 && c <= 0xDBFF && text[units + 1] >= 0xDC00 && text[units + 1] <= 0xDFFF) {
            size = 4;
            step = 2;
        }
        if (used + size > limit) break;
        used += size;
        units += step;
    }
    *bytes = used;
    return units;
}

// Whether the test holds for the action's secondary code, else its primary code.
template <class Test>
bool AnyBoundCode(uint32_t action, uint32_t device, Test test) {
    const InputManager* input = GameInput();
    if (!input || !gGameConfig) return false;
    uint32_t primary = 0, secondary = 0;
    gGameConfig->GetControl(device, action, &primary, &secondary);
    return test(*input, secondary) || test(*input, primary);
}

void AppendUTF16(LuaUnicodeString* text, const char16_t* characters) {
    for (; *characters; ++characters) text->AppendChar(*characters);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Project, saving and files

const char* LUAConfigHelper::GetDistroTag() const {
    return gProjectConfig && gProjectConfig->distributionTag ? gProjectConfig->distributionTag : "";
}

void LUAConfigHelper::SaveConfig() {
    if (gGame && gGame->GetDelegate()) gGame->GetDelegate()->SaveConfig();
    gVornexEngine.SaveConfig();
}

bool LUAConfigHelper::CheckIfFileExists(const char* name, const char* extension, const char* mount) const {
    return name && gFileSystem.FileExists(name, extension, mount);
}

bool LUAConfigHelper::IsHDMode() const { return gGameConfig && gGameConfig->GetThirdFlag(); }

// ---------------------------------------------------------------------------------------
// Graphics

void LUAConfigHelper::ToggleShadows() {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->enableShadowMap = !c->enableShadowMap;
    ResetRendererWithSettings();
}

void LUAConfigHelper::ToggleVSync() {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->vSync = !c->vSync;
    RequestDeviceResetWithSettings();
}

void LUAConfigHelper::AdjustScreenModeTableToDisplayMode() {
    resolutionList = gGameConfig && gGameConfig->fullScreenMode ? 1 : 0;
}

uint32_t LUAConfigHelper::GetScreenModeCount() const {
    return resolutionList ? gVornexRenderer.DisplayModes().Count() : kScreenScalePresetCount;
}

const char* LUAConfigHelper::GetScreenModeDesc(int32_t index) {
    screenModeText[0] = 0;
    if (resolutionList) {
        const DisplayModeList& modes = gVornexRenderer.DisplayModes();
        if (index < 0 || static_cast<uint32_t>(index) >= modes.Count()) return screenModeText;
        std::snprintf(screenModeText, sizeof screenModeText, "%dx%d", static_cast<int>(modes[index].width),
                      static_cast<int>(modes[index].height));
        return screenModeText;
    }
    const uint32_t i = index >= 0 && index < int32_t(kScreenScalePresetCount) ? index : kScreenScalePresetCount - 1;
    // Single precision, so 0.9 gives 90.
    const float percent = kScreenScalePresets[i] * 100.0f;
    std::snprintf(screenModeText, sizeof screenModeText, "%u%%", static_cast<uint32_t>(percent));
    return screenModeText;
}

int32_t LUAConfigHelper::GetScreenMode() const {
    const float scale = GetScreenResolutionScale();
    if (resolutionList) {
        const uint32_t width = static_cast<uint32_t>(static_cast<float>(gVornexRenderer.ScreenWidth()) * scale);
        const uint32_t height = static_cast<uint32_t>(static_cast<float>(gVornexRenderer.ScreenHeight()) * scale);
        bool found = false;
        const uint32_t at = gVornexRenderer.DisplayModes().Find(width, height, &found);
        return found ? static_cast<int32_t>(at) : -1;
    }
    int32_t nearest = kScreenScalePresetCount - 1;
    float nearestDistance = 3.4e38f;
    for (uint32_t i = 0; i < kScreenScalePresetCount; ++i) {
        const float preset = kScreenScalePresets[i];
        const float d = preset > scale ? preset - scale : scale - preset;
        if (d < nearestDistance) nearestDistance = d, nearest = static_cast<int32_t>(i);
    }
    return nearest;
}

void LUAConfigHelper::SetScreenMode(int32_t index) {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    if (resolutionList) {
        const DisplayModeList& modes = gVornexRenderer.DisplayModes();
        if (index < 0 || static_cast<uint32_t>(index) >= modes.Count()) return;
        const uint32_t clientWidth = gVornexRenderer.ScreenWidth();
        const float ratio =
            clientWidth ? static_cast<float>(modes[index].width) / static_cast<float>(clientWidth) : 1.0f;
        c->semiResolutionScreenScale = ratio < 1.0f ? ratio : 1.0f;
    } else {
        const uint32_t i =
            index >= 0 && index < int32_t(kScreenScalePresetCount) ? index : kScreenScalePresetCount - 1;
        c->semiResolutionScreenScale = kScreenScalePresets[i];
    }
    RequestDeviceResetWithSettings();
}

float LUAConfigHelper::GetScreenResolutionScale() const {
    const RendererConfigContainer* c = RendererConfig();
    return c ? c->semiResolutionScreenScale : 1.0f;
}

void LUAConfigHelper::SetScreenResolutionScale(float scale) {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->semiResolutionScreenScale = ClampSetting(scale, kMinScreenResolutionScale, kMaxScreenResolutionScale);
    RequestDeviceResetWithSettings();
}

uint32_t LUAConfigHelper::GetGFXQualityLevel() const {
    const RendererConfigContainer* c = RendererConfig();
    return c ? c->gfxQualityLevel : 0;
}

void LUAConfigHelper::SetGFXQualityLevel(uint32_t level) {
    if (RendererConfigContainer* c = RendererConfig())
        c->gfxQualityLevel = level > kMaxGFXQualityLevel ? kMaxGFXQualityLevel : level;
}

float LUAConfigHelper::GetBrightness() const {
    const RendererConfigContainer* c = RendererConfig();
    return c ? c->brightness : 0.0f;
}

void LUAConfigHelper::SetBrightness(float value) {
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Brightness set to %f", static_cast<double>(value));
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->brightness = ClampSetting(value, 0.0f, 1.0f);
    gVornexRenderer.SetBrightness(c->brightness);
}

float LUAConfigHelper::GetScreenScaleX() const {
    const RendererConfigContainer* c = RendererConfig();
    return c ? c->screenScaleX : 0.0f;
}

float LUAConfigHelper::GetScreenScaleY() const {
    const RendererConfigContainer* c = RendererConfig();
    return c ? c->screenScaleY : 0.0f;
}

void LUAConfigHelper::SetScreenScaleX(float value) {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->screenScaleX = ClampSetting(value, 0.0f, 1.0f);
    gVornexRenderer.SetScreenScaleX(c->screenScaleX);
}

void LUAConfigHelper::SetScreenScaleY(float value) {
    RendererConfigContainer* c = RendererConfig();
    if (!c) return;
    c->screenScaleY = ClampSetting(value, 0.0f, 1.0f);
    gVornexRenderer.SetScreenScaleY(c->screenScaleY);
}

void LUAConfigHelper::SetZoom(float value) {
    SetScreenScaleX(value);
    SetScreenScaleY(value);
}

bool LUAConfigHelper::GetFullScreen() const { return gGameConfig && gGameConfig->fullScreenMode; }

void LUAConfigHelper::SetFullScreen(bool fullScreen) {
    if (gGameConfig) gGameConfig->fullScreenMode = fullScreen;
}

void LUAConfigHelper::ApplySeriousGFXSettings() {
    if (!gGameConfig) return;
    ResetRendererWithSettings();
    gVornexRenderer.RequestDeviceReset();
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.RebuildSettingResources();
    if (!gGame) return;
    gGame->RequestFullScreen(gGameConfig->fullScreenMode);
    gGame->RequestScreenResoultionChange(gVornexRenderer.ScreenWidth(), gVornexRenderer.ScreenHeight());
}

// ---------------------------------------------------------------------------------------
// Sound, network, language

float LUAConfigHelper::GetMusicVolume() const { return gGameConfig ? gGameConfig->musicVolume : 0.0f; }
float LUAConfigHelper::GetSFXVolume() const { return gGameConfig ? gGameConfig->sfxVolume : 0.0f; }
float LUAConfigHelper::GetVoiceVolume() const { return gGameConfig ? gGameConfig->voiceVolume : 0.0f; }

void LUAConfigHelper::SetMusicVolume(float volume) {
    if (!gGameConfig) return;
    gGameConfig->musicVolume = volume;
    RefreshVolumes();
}

void LUAConfigHelper::SetSFXVolume(float volume) {
    if (!gGameConfig) return;
    gGameConfig->sfxVolume = volume;
    RefreshVolumes();
}

void LUAConfigHelper::SetVoiceVolume(float volume) {
    if (!gGameConfig) return;
    gGameConfig->voiceVolume = volume;
    RefreshVolumes();
}

void LUAConfigHelper::SetVolumes(float music, float sfx, float voice) {
    if (!gGameConfig) return;
    gGameConfig->musicVolume = music;
    gGameConfig->sfxVolume = sfx;
    gGameConfig->voiceVolume = voice;
    RefreshVolumes();
}

uint32_t LUAConfigHelper::GetNetworkPort() const { return gGameConfig ? gGameConfig->port : 0; }

void LUAConfigHelper::SetNetworkPort(uint32_t port) {
    if (gGameConfig) gGameConfig->port = port;
}

uint32_t LUAConfigHelper::GetLanguage() const { return gGameConfig ? gGameConfig->textLanguage : kLanguageDefault; }

void LUAConfigHelper::SetLanguage(uint32_t index) {
    if (!gGameConfig) return;
    gGameConfig->textLanguage = index;
    UITextBase::ReloadAllFonts();
}

uint32_t LUAConfigHelper::GetSubtitles() const { return gGameConfig ? gGameConfig->subtitleMode : 0; }

void LUAConfigHelper::SetSubtitles(uint32_t mode) {
    if (gGameConfig) gGameConfig->subtitleMode = static_cast<uint8_t>(mode);
}

bool LUAConfigHelper::ShouldDisplaySubtitles() const {
    switch (GetSubtitles()) {
    case 0: {
        uint32_t language = GetLanguage();
        if (language >= kLanguageNone)
            language = gStringManager ? gStringManager->GetCurrentLanguage() : kLanguageEnglish;
        return language != kLanguageEnglish;
    }
    case 2:
        return false;
    default:
        return true;
    }
}

const char* LUAConfigHelper::GetLanguageNameIfAvailable(uint32_t index) const {
    if (index == kLanguageDefault) return kLanguageNames[kLanguageDefault];
    if (index >= kLanguageNone) return nullptr;
    const uint32_t mask = gProjectConfig ? gProjectConfig->languageMask : 0xFFFFFFFFu;
    return mask & (1u << index) ? kLanguageNames[index] : nullptr;
}

// ---------------------------------------------------------------------------------------
// Input

void LUAConfigHelper::AppendKeyName(LuaUnicodeString* text, uint32_t keyCode, bool upperCase) const {
    if (!text) return;
    if (keyCode >= kMouseButtonLeft && keyCode < kMouseButtonLeft + kMouseButtonCount) {
        const char* id = kMouseButtonStringIds[keyCode - kMouseButtonLeft];
        const char16_t* name = LocalisedText(id);
        if (name) AppendUTF16(text, name);
        return;
    }
    const InputManager* input = GameInput();
    if (!input || !input->Keyboard()) return;
    char name[kMaxKeyNameCharacters + 1];
    if (!input->Keyboard()->GetKeyName(keyCode, name, sizeof name)) return;
    name[kMaxKeyNameCharacters] = 0;
    char16_t wide[kMaxKeyNameCharacters + 1];
    if (!MultiByteToWide(wide, kMaxKeyNameCharacters + 1, name, -1, kCodePageANSI)) return;
    if (upperCase) ToUpperUTF16(wide, false);
    AppendUTF16(text, wide);
}

uint32_t LUAConfigHelper::GetInputMode() const { return gGameConfig ? gGameConfig->inputMode : 0; }

void LUAConfigHelper::SetInputMode(uint32_t mode) {
    if (gGameConfig) gGameConfig->inputMode = mode > kMaxInputMode ? kMaxInputMode : mode;
}

uint32_t LUAConfigHelper::GetFirstPressedKey() const {
    const InputManager* input = GameInput();
    if (!input) return 0;
    for (uint32_t key = 0; key < kFirstPressedKeyEnd; ++key)
        if (input->IsKeyPressedForTheFirstTime(key)) return key;
    for (uint32_t key = kMouseButtonLeft; key < kMouseButtonLeft + kMouseButtonCount; ++key)
        if (input->IsKeyPressedForTheFirstTime(key)) return key;
    return 0;
}

uint32_t LUAConfigHelper::GetFirstPressedXControllerButton(uint32_t controller) const {
    const InputManager* input = GameInput();
    if (!input) return 0;
    for (uint32_t code : kXControllerButtonOrder)
        if (input->IsXControllerKeyPressedForTheFirstTime(code, controller)) return code;
    return 0;
}

uint32_t LUAConfigHelper::GetFirstPressedDIControllerButton(uint32_t) const {
    const InputManager* input = GameInput();
    if (!input) return 0;
    for (uint32_t button = 1; button <= kDIControllerButtons; ++button)
        if (input->IsDIControllerKeyPressedForTheFirstTime(button)) return button;
    return 0;
}

void LUAConfigHelper::RemoveAllControls(uint32_t device) {
    if (gGameConfig) gGameConfig->RemoveAllControls(device);
}

uint32_t LUAConfigHelper::GetControlDefinitionEstablishedMagic() const {
    return gGameConfig ? gGameConfig->controlEstablished : 0;
}

void LUAConfigHelper::SetControlDefinitionEstablishedMagic(uint32_t magic) {
    if (gGameConfig) gGameConfig->controlEstablished = magic;
}

void LUAConfigHelper::SetPrimaryControl(uint32_t action, uint32_t device, uint32_t code) {
    if (gGameConfig) gGameConfig->SetPrimaryControl(device, action, code);
}

void LUAConfigHelper::SetSecondaryControl(uint32_t action, uint32_t device, uint32_t code) {
    if (gGameConfig) gGameConfig->SetSecondaryControl(device, action, code);
}

uint32_t LUAConfigHelper::GetControl(uint32_t action, uint32_t device, bool secondary) const {
    if (!gGameConfig) return 0;
    uint32_t primaryCode = 0, secondaryCode = 0;
    gGameConfig->GetControl(device, action, &primaryCode, &secondaryCode);
    return secondary ? secondaryCode : primaryCode;
}

bool LUAConfigHelper::IsKeyOrButtonPressed(uint32_t action, uint32_t device, uint32_t controller) const {
    return AnyBoundCode(action, device, [&](const InputManager& input, uint32_t code) {
        return device == kDeviceGamePad ? input.IsXControllerKeyPressed(code, controller)
               : device == kDeviceDIPad ? input.IsDIControllerKeyPressed(code)
                                        : input.IsKeyPressed(code);
    });
}

bool LUAConfigHelper::IsKeyOrButtonPressedForTheFirstTime(uint32_t action, uint32_t device,
                                                          uint32_t controller) const {
    return AnyBoundCode(action, device, [&](const InputManager& input, uint32_t code) {
        return device == kDeviceGamePad ? input.IsXControllerKeyPressedForTheFirstTime(code, controller)
               : device == kDeviceDIPad ? input.IsDIControllerKeyPressedForTheFirstTime(code)
                                        : input.IsKeyPressedForTheFirstTime(code);
    });
}

bool LUAConfigHelper::IsKeyOrButtonReleasedForTheFirstTime(uint32_t action, uint32_t device, uint32_t) const {
    if (device == kDeviceGamePad || device == kDeviceDIPad) return false;
    return AnyBoundCode(action, device, [](const InputManager& input, uint32_t code) {
        return input.IsKeyReleasedForTheFirstTime(code);
    });
}

// ---------------------------------------------------------------------------------------
// Console, profiles, analytics, user

void LUAConfigHelper::EnableConsole(bool enable) {
    if (gGameConfig) gGameConfig->consoleEnabled = enable;
}

const char* LUAConfigHelper::GetActiveConfigurationProfiles() const {
    return gGameConfig && gGameConfig->activeConfigurationProfiles ? gGameConfig->activeConfigurationProfiles : "";
}

void LUAConfigHelper::AnalyticsBegin(const char* name) {
    gVornexAnalytics.Begin(name);
}

void LUAConfigHelper::AnalyticsEnd() {
    gVornexAnalytics.End(true);
}

void LUAConfigHelper::AnalyticsAddInt(const char* key, int32_t value) {
    gVornexAnalytics.AddInt(key, value);
}

void LUAConfigHelper::AnalyticsAddFloat(const char* key, float value) {
    gVornexAnalytics.AddFloat(key, value);
}

void LUAConfigHelper::AnalyticsAddString(const char* key, const char* value) {
    gVornexAnalytics.AddString(key, value);
}

bool LUAConfigHelper::GetUserGUIDEstablished() const { return gGameConfig && gGameConfig->userGUIDEstablished; }

void LUAConfigHelper::SetUserGUIDEstablished(bool established) {
    if (gGameConfig) gGameConfig->userGUIDEstablished = established;
}

SimpleGUID LUAConfigHelper::GetUserGUID() const { return gGameConfig ? gGameConfig->GetUserGUID() : SimpleGUID(); }

void LUAConfigHelper::SetUserGUID(const SimpleGUID& guid) {
    if (gGameConfig) gGameConfig->SetUserGUID(guid);
}

// ---------------------------------------------------------------------------------------
// Text

const char* LUAConfigHelper::ToAsciiUnsafe(const LuaUnicodeString* text) {
    if (!text) return nullptr;
    const char16_t* characters = text->GetUnicharPtr();
    uint32_t bytes = 0;
    const uint32_t units = UnitsFittingUTF8(characters, kAsciiBufferBytes - 1, &bytes);
    if (!units || !WideToMultiByte(asciiText, kAsciiBufferBytes - 1, characters, static_cast<int32_t>(units),
                                   kCodePageANSI))
        bytes = 0;
    asciiText[bytes] = 0;
    return asciiText;
}

LuaUnicodeString* LUAConfigHelper::GetLocalizedString(const char* id) const {
    return new LuaUnicodeString(LocalisedText(id));
}
