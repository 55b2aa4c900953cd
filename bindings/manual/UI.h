#pragma once
// Bindings of the UI package that the generator cannot express, included by its generated
// unit (bindings/pkg/UI.pkg): the element constructors, the hand-over of script-owned
// elements to a tree and back, the atlas data read from a script table, and the helpers
// the package's rows name (tolua_outside), which compose the UI's natives.
//
// Lifetime of elements seen from scripts. Elements are the engine's: their main-side
// teardown (their own Release, an ancestor's, DeleteChildren, a Delete action firing, a
// recipe rebuild) kills every handle of theirs, so a script gets a dead-handle error or a
// rejected call, never freed memory. An element made by `new` belongs to the engine from
// the start. One made by `new_local` or ".call" is the script's: when its handle is
// collected the element is released through its own Release (never a memory release).
// AddChild hands such an element to its parent's tree (a shown element never vanishes at
// a collection); RemoveChild hands it back to the script. Elements free themselves on the
// render thread (`delete`), so the constructors use the ordinary allocation.
//
// Threads: main thread only, like the elements and the script host.
#include <lua.hpp>

#include "bindings/LuaUIPointer.h"
#include "bindings/frame/LuaBindingSupport.h"
#include "core/math/Vector.h"
#include "engine/script/LuaUnicodeString.h"
#include "engine/script/LuaWrapper.h"
#include "ui/elements/GameStringPartitioner.h"
#include "ui/elements/UICreditsHelper.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIPicture.h"
#include "ui/elements/UIBlur.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITemplateView.h"
#include "ui/elements/UIText.h"
#include "ui/elements/UITextBase.h"
#include "ui/elements/UITextBox.h"
#include "ui/elements/UIUniTextInput.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/video/UIVideo.h"
#include "ui/widgets/UIList.h"

class Entity;
class Game;
class InGameUIEntity;

// ---- Script ownership of elements ----

// Marks the element as the script's (its collection releases it).
void LuaUIAdoptElement(UIElement* element);
// Whether the element is the script's now (made by new_local and not in a tree).
bool LuaUIIsScriptOwned(const UIElement* element);
// Number of elements the script owns or has handed to a tree (for tests).
uint32_t LuaUIAdoptedCount();
// The collector of every element class: a script-owned element is released at the host's
// next collection step (never inside the collection); nothing else is touched.
int LuaUIElementCollect(lua_State* L);

// `new`, `new_local` and ".call": the element under the script class it reports when that
// class is registered (new), or under `type`, owned by the script (the other two).
int LuaUINewElement(lua_State* L, UIElement* element, const char* type, bool local);
// AddChild and RemoveChild with the ownership hand-over; SetAtlasData reading position 5.
int LuaUIAddChild(lua_State* L);
int LuaUIRemoveChild(lua_State* L);
int LuaUISetAtlasData(lua_State* L);
// The memory guard's report, with RemoveChild's hand-back of a script-made element.
int LuaUIMemoryGuardReportElement(lua_State* L);
// GetPhysicalScreenResolution through the class table, with a dot and no arguments, or on a
// screen: the static form answers the first two.
int LuaUIPhysicalScreenResolution(lua_State* L);

// The natives that keep an element shown (a text input's cursor, the game's screens, an
// in-game UI entity): a script-owned element given to one of them is the engine's from
// then on, as with AddChild, so it does not vanish when the script's handle is collected.
void LuaUIHandOver(UIElement* element);
void TextInputSetCursorElement(UIUniTextInput* self, UIElement* element);
void GameSetActiveUIScreen(Game* self, UIScreen* screen);
void GameSetPreFSEUIScreen(Game* self, UIScreen* screen);
void GameSetLoadingUIScreen(Game* self, UIScreen* screen);
void InGameUISetHandedUIElement(InGameUIEntity* self, UIElement* element);

// ---- Helpers the package's rows name ----

StringReplacementContainer ReplacementContainerInstance();
const char* UIElementGetName(UIElement* self);
void UIElementBlockFocus(UIElement* self);
void UIElementUnblockFocus(UIElement* self);
UIElement* UIElementFindElementByName(UIElement* self, const char* name);
void UIElementSetExtraParam(UIElement* self, float x, float y, float z, float w);
// A zero-time delete action with exactly these flags (the default action flags are not
// added).
void UIElementDeleteAction(UIElement* self, uint32_t flags, uint32_t channel);

// The picture rows: the avatar image first, then the native's index; the texture with
// sampler mode 7; the tile with unit scale and no offset.
void PictureSetSteamTexture(UIPicture* self, int32_t imageHandle, uint32_t index);
void PictureSetTexture(UIPicture* self, const char* name, uint32_t index);
void PictureSetTextureTile(UIPicture* self, int32_t column, int32_t row, int32_t columns, int32_t rows);
void PictureSetTextureTileVec(UIPicture* self, const Vector& tile);
void PictureSetShader(UIPicture* self, const char* name, const char* options, int32_t channel, bool flushAfter);
void PictureSetPixelShaderParam(UIPicture* self, float x, float y, float z, float w);

void TextBaseSetUnicodeText(UITextBase* self, const LuaUnicodeString& text);
void TextBaseSetFont(UITextBase* self, const char* name, uint32_t size, bool pixelPerfect);
void TextBaseSetShadowPosition(UITextBase* self, float x, float y, float z);
void TextBaseSetShadowColor(UITextBase* self, float r, float g, float b, float a);
void TextBaseSetLinearShadowColor(UITextBase* self, float r, float g, float b, float a);
void TextGetTextSize(UIText* self, const char* text, Vector& size);
void TextGetLocalizedTextSize(UIText* self, const char* stringId, Vector& size);

Vector ScreenPhysicalResolution(UIScreen* self);
Vector PhysicalScreenResolution();
// The hit id; flag and number receive the hit's flag bits (as a boolean) and depth, and
// keep what the script passed when nothing is hit.
uint32_t ScreenGetElementAt(UIScreen* self, const Vector& position, bool& flag, float& number);
void ScreenEnableEntityTracking(UIScreen* self, UIElement* element, Entity* entity, uint32_t flags);

GameStringPartitioner* GameStringPartitionerInstance();
UICreditsHelper* CreditsHelperInstance();
void CreditsHelperTransferText(UICreditsHelper* self, UITextBase* element, Vector* size);

// The atlas kinds scripts name.
constexpr uint32_t PICTUREATLAS_POSITION3 = UIPictureAtlas::kCellPositions;
constexpr uint32_t PICTUREATLAS_MAPPING2 = UIPictureAtlas::kCellSizes;
constexpr uint32_t PICTUREATLAS_SHADERPARAM4 = UIPictureAtlas::kCellColours;
constexpr uint32_t PICTUREATLAS_COLOR4 = UIPictureAtlas::kCellRectangles;
static_assert(PICTUREATLAS_POSITION3 == 0 && PICTUREATLAS_MAPPING2 == 1 && PICTUREATLAS_SHADERPARAM4 == 2 &&
              PICTUREATLAS_COLOR4 == 3);

// ---- The generated functions these replace ----

#define TOLUA_DISABLE_tolua_UI_UIElement_AddChild00
#define tolua_UI_UIElement_AddChild00 LuaUIAddChild
#define TOLUA_DISABLE_tolua_UI_UIElement_RemoveChild00
#define tolua_UI_UIElement_RemoveChild00 LuaUIRemoveChild
#define TOLUA_DISABLE_tolua_UI_UIPictureAtlas_SetAtlasData00
#define tolua_UI_UIPictureAtlas_SetAtlasData00 LuaUISetAtlasData
// One binding under two names.
#define TOLUA_DISABLE_tolua_UI_UIElement_UIMemoryGuardReportElement00
#define tolua_UI_UIElement_UIMemoryGuardReportElement00 LuaUIMemoryGuardReportElement
#define TOLUA_DISABLE_tolua_UI_UIScreen_GetPhysicalScreenResolution01
#define tolua_UI_UIScreen_GetPhysicalScreenResolution01 LuaUIPhysicalScreenResolution
#define TOLUA_DISABLE_tolua_UI_UIText_GetLocallizedTextSize00
#define tolua_UI_UIText_GetLocallizedTextSize00 tolua_UI_UIText_GetLocalizedTextSize00

namespace ui_manual {

inline uint32_t Unsigned(lua_State* L, int index, lua_Number fallback) {
    return ScriptNumber(lua_isnumber(L, index) ? lua_tonumber(L, index) : fallback);
}
inline const char* Text(lua_State* L, int index, const char* fallback) {
    return lua_isnone(L, index) ? fallback : lua_tostring(L, index);
}

}  // namespace ui_manual

// The constructors: the arguments follow the class table; a missing string is null, a
// missing number its default.
#define UI_ELEMENT_CONSTRUCTORS(Class, ...)                                                                 \
    inline int tolua_UI_##Class##_new00(lua_State* L) { return LuaUINewElement(L, new Class(__VA_ARGS__), #Class, false); } \
    inline int tolua_UI_##Class##_new00_local(lua_State* L) {                                                \
        return LuaUINewElement(L, new Class(__VA_ARGS__), #Class, true);                                     \
    }

#define TOLUA_DISABLE_tolua_UI_UIElement_new00
#define TOLUA_DISABLE_tolua_UI_UIElement_new00_local
UI_ELEMENT_CONSTRUCTORS(UIElement)
#define TOLUA_DISABLE_tolua_UI_UIPicture_new00
#define TOLUA_DISABLE_tolua_UI_UIPicture_new00_local
UI_ELEMENT_CONSTRUCTORS(UIPicture)
#define TOLUA_DISABLE_tolua_UI_UIList_new00
#define TOLUA_DISABLE_tolua_UI_UIList_new00_local
UI_ELEMENT_CONSTRUCTORS(UIList)
#define TOLUA_DISABLE_tolua_UI_UIPictureAtlas_new00
#define TOLUA_DISABLE_tolua_UI_UIPictureAtlas_new00_local
UI_ELEMENT_CONSTRUCTORS(UIPictureAtlas)
#define TOLUA_DISABLE_tolua_UI_UIBlur_new00
#define TOLUA_DISABLE_tolua_UI_UIBlur_new00_local
UI_ELEMENT_CONSTRUCTORS(UIBlur)
#define TOLUA_DISABLE_tolua_UI_UIScreen_new00
#define TOLUA_DISABLE_tolua_UI_UIScreen_new00_local
UI_ELEMENT_CONSTRUCTORS(UIScreen)
#define TOLUA_DISABLE_tolua_UI_UITemplateView_new00
#define TOLUA_DISABLE_tolua_UI_UITemplateView_new00_local
UI_ELEMENT_CONSTRUCTORS(UITemplateView, ui_manual::Text(L, 2, nullptr))
#define TOLUA_DISABLE_tolua_UI_UIText_new00
#define TOLUA_DISABLE_tolua_UI_UIText_new00_local
UI_ELEMENT_CONSTRUCTORS(UIText, ui_manual::Text(L, 2, nullptr), ui_manual::Text(L, 3, nullptr),
                        ui_manual::Unsigned(L, 4, 10), true)
#define TOLUA_DISABLE_tolua_UI_UITextBox_new00
#define TOLUA_DISABLE_tolua_UI_UITextBox_new00_local
UI_ELEMENT_CONSTRUCTORS(UITextBox, ui_manual::Text(L, 2, nullptr), ui_manual::Text(L, 3, nullptr),
                        ui_manual::Unsigned(L, 4, 10), true)
#define TOLUA_DISABLE_tolua_UI_UIUniTextInput_new00
#define TOLUA_DISABLE_tolua_UI_UIUniTextInput_new00_local
UI_ELEMENT_CONSTRUCTORS(UIUniTextInput, nullptr, ui_manual::Text(L, 2, nullptr), ui_manual::Unsigned(L, 3, 10),
                        lua_isnone(L, 4) ? true : lua_toboolean(L, 4) != 0, ui_manual::Unsigned(L, 5, 255))
#define TOLUA_DISABLE_tolua_UI_UIRoundedRect_new00
#define TOLUA_DISABLE_tolua_UI_UIRoundedRect_new00_local
UI_ELEMENT_CONSTRUCTORS(UIRoundedRect, uint8_t(lua_isnone(L, 2) ? true : lua_toboolean(L, 2) != 0),
                        ui_manual::Text(L, 3, ""))

// UIVideo: the landed video element (no kind of its own to native code), under the
// script class "UIVideo" in all three forms.
#define TOLUA_DISABLE_tolua_UI_UIVideo_new00
#define TOLUA_DISABLE_tolua_UI_UIVideo_new00_local
inline int tolua_UI_UIVideo_new00(lua_State* L) {
    UIVideo* video = new UIVideo();
    video->SetLuaClass("UIVideo");
    return LuaUINewElement(L, video, "UIVideo", false);
}
inline int tolua_UI_UIVideo_new00_local(lua_State* L) {
    UIVideo* video = new UIVideo();
    video->SetLuaClass("UIVideo");
    return LuaUINewElement(L, video, "UIVideo", true);
}
