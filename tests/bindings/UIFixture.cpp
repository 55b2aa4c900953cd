#include "UIFixture.h"

#include <lua.hpp>

#include <cstdint>
#include <filesystem>
#include <new>
#include <string>

#include "bindings/frame/LuaBindingSupport.h"
#include "bindings/manual/UI.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/SafePointer.h"
#include "engine/script/LuaHandleGuards.h"
#include "engine/script/LuaWrapper.h"
#include "engine/services/GameServices.h"
#include "game/Game.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIOpStream.h"
#include "ui/localisation/StringManager.h"

namespace {

// The root of the fresh elements; a script may release it (or an ancestor) itself.
SafePointer<UIElement> gRoot;
uint32_t gTeardowns = 0;
uint32_t gFrees = 0;
uint32_t gOps = 0;

// Counts its teardowns and frees. One block is reused while free, so a new element can be
// made where a freed one was.
class RecordingElement : public UIElement {
public:
    static void* operator new(size_t size) {
        if (!slotUsed && size <= sizeof slot) {
            slotUsed = true;
            return slot;
        }
        return ::operator new(size);
    }
    static void operator delete(void* block) {
        if (block == slot) {
            slotUsed = false;
            return;
        }
        ::operator delete(block);
    }
    void OnBeforeDelete() override {
        ++gTeardowns;
        UIElement::OnBeforeDelete();
    }

protected:
    ~RecordingElement() override { ++gFrees; }

private:
    alignas(64) static inline unsigned char slot[2048];
    static inline bool slotUsed = false;
};

// The strings of tests/bindings/ui_data.py, written by the build.
const std::filesystem::path kDataFolder = std::filesystem::path(PROJECT_BINARY_ROOT) / "tests/bindings/ui_data";
bool gOwnStringManager = false;  // made here: the engine's start-up, which makes it, did not run

// Mounts the data (once) and loads its strings into the string manager.
void LoadStrings() {
    static const bool mounted = std::filesystem::exists(kDataFolder / "Common/L01n.bin") &&
                                gFileSystem.MountDirectory("common", (kDataFolder / "Common").c_str());
    if (!mounted) return;
    if (!gStringManager) {
        gStringManager = new StringManager();
        gOwnStringManager = true;
    }
    gStringManager->LoadCompiledStrings();
}

// The Game's screen slots as the running program reaches them (the Game is built but not
// started here): a screen's teardown empties the slots naming it. Everything else answers
// as with no game running, as before.
class ScreenSlots : public GameServices {
public:
    UIScreen* GetScreen(GameScreenSlot slot) const override { return gGame ? gGame->GetScreen(slot) : nullptr; }
    void SetScreen(GameScreenSlot slot, UIScreen* screen) override {
        if (gGame) gGame->SetScreen(slot, screen);
    }
};
ScreenSlots gScreenSlots;

UIElement* Element(lua_State* L, int index) {
    auto* e = static_cast<UIElement*>(LuaBindingReader{"UIElement"}(L, index, nullptr));
    gLuaBindingDeadArgument = false;
    return e;
}

UIElement* Root() {
    if (!gRoot.Get()) gRoot = new UIElement();
    return gRoot.Get();
}

// Fixture.<class>(): a fresh element of the class in the fixture's tree.
template <class T>
int Fresh(lua_State* L) {
    T* e = new T();
    Root()->AddChild(e);
    gLua.PushObject(e);
    return 1;
}

int FreshText(lua_State* L) {
    UIText* e = new UIText("text", "text", 10, true);
    Root()->AddChild(e);
    gLua.PushObject(e);
    return 1;
}

int FreshTextBox(lua_State* L) {
    UITextBox* e = new UITextBox("text", "text", 10, true);
    Root()->AddChild(e);
    gLua.PushObject(e);
    return 1;
}

int FreshTextInput(lua_State* L) {
    UIUniTextInput* e = new UIUniTextInput(nullptr, "text", 10, true, 255);
    Root()->AddChild(e);
    gLua.PushObject(e);
    return 1;
}

int FreshVideo(lua_State* L) {
    UIVideo* e = new UIVideo();
    e->SetLuaClass("UIVideo");
    Root()->AddChild(e);
    gLua.PushObject(e);
    return 1;
}

int Recording(lua_State* L) {
    auto* e = new RecordingElement();
    return LuaUINewElement(L, e, "UIElement", lua_toboolean(L, 1) != 0);
}

int Teardowns(lua_State* L) {
    lua_pushnumber(L, gTeardowns);
    return 1;
}

int Frees(lua_State* L) {
    lua_pushnumber(L, gFrees);
    return 1;
}

int Address(lua_State* L) {
    UIElement* e = Element(L, 1);
    if (!e) return 0;
    lua_pushnumber(L, lua_Number(reinterpret_cast<uintptr_t>(e)));
    return 1;
}

int Fire(lua_State* L) {
    if (UIElement* e = Element(L, 1)) e->TickActions();
    UIElement::ProcessPendingDeletion();
    UIElement::FinishPendingDeletion();
    return 0;
}

int Flags(lua_State* L) {
    UIElement* e = Element(L, 1);
    if (!e) return 0;
    lua_pushnumber(L, e->Render().flags);
    return 1;
}

int PushVector(lua_State* L, const Vector& v) {
    lua_pushnumber(L, v.x);
    lua_pushnumber(L, v.y);
    lua_pushnumber(L, v.z);
    lua_pushnumber(L, v.w);
    return 4;
}

int Position(lua_State* L) {
    UIElement* e = Element(L, 1);
    return e ? PushVector(L, e->Render().position) : 0;
}

int Color(lua_State* L) {
    UIElement* e = Element(L, 1);
    return e ? PushVector(L, e->Render().color) : 0;
}

int Actions(lua_State* L) {
    UIElement* e = Element(L, 1);
    const uint32_t channel = uint32_t(lua_tonumber(L, 2));
    if (!e || channel >= kUIActionChannels) return 0;
    uint32_t count = 0;
    for (UIAction* a = e->Render().actionHeads[channel]; a; a = a->next) ++count;
    lua_pushnumber(L, count);
    if (UIAction* head = e->Render().actionHeads[channel]) {
        lua_pushnumber(L, head->flags);
        return 2;
    }
    return 1;
}

int RecordOps(lua_State*) {
    gOps = 0;
    SetUIOpObserver([](void*, uint32_t, const UIElement*, uint32_t, bool) { ++gOps; }, nullptr);
    return 0;
}

int OpsPosted(lua_State* L) {
    SetUIOpObserver(nullptr, nullptr);
    lua_pushnumber(L, gOps);
    return 1;
}

int FontSize(lua_State* L) {
    auto* t = static_cast<UITextBase*>(LuaBindingReader{"UITextBase"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!t) return 0;
    lua_pushnumber(L, t->GetFontSize());
    return 1;
}

int FadeTime(lua_State* L) {
    auto* p = static_cast<GameStringPartitioner*>(LuaBindingReader{"GameStringPartitioner"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!p) return 0;
    lua_pushnumber(L, p->GetTextFadeTime());
    return 1;
}

int Entry(lua_State* L) {
    auto* c = static_cast<StringReplacementContainer*>(LuaBindingReader{"StringReplacementContainer"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    const uint32_t i = uint32_t(lua_tonumber(L, 2));
    if (!c || i >= c->GetEntryCount()) return 0;
    lua_pushstring(L, c->GetEntry(i)->tag.CStr());
    lua_pushstring(L, c->GetEntry(i)->text.CStr());
    return 2;
}

int TextLength(lua_State* L) {
    auto* t = static_cast<UIText*>(LuaBindingReader{"UIText"}(L, 1, nullptr));
    gLuaBindingDeadArgument = false;
    if (!t) return 0;
    const char16_t* text = t->Text();
    lua_pushnumber(L, text ? std::char_traits<char16_t>::length(text) : 0);
    return 1;
}

int RegisterClass(lua_State* L) {
    if (lua_isstring(L, 1) && lua_isstring(L, 2)) gLua.RegisterClass(lua_tostring(L, 1), lua_tostring(L, 2));
    return 0;
}

// What the host's collection step does after collecting, outside every script call.
int CollectionStep(lua_State*) {
    RunLuaDeferredWork();
    return 0;
}

int Owned(lua_State* L) {
    lua_pushboolean(L, LuaUIIsScriptOwned(Element(L, 1)));
    return 1;
}

}  // namespace

void OpenUIFixture(lua_State* L) {
    if (!GetGameServices().GetGameTimer()) SetGameServices(&gScreenSlots);  // no running game
    LoadStrings();
    static const luaL_Reg kFresh[] = {{"UIElement", &Fresh<UIElement>},
                                      {"UIPicture", &Fresh<UIPicture>},
                                      {"UIList", &Fresh<UIList>},
                                      {"UIPictureAtlas", &Fresh<UIPictureAtlas>},
                                      {"UIBlur", &Fresh<UIBlur>},
                                      {"UIVideo", &FreshVideo},
                                      {"UITextBase", &FreshText},
                                      {"UIText", &FreshText},
                                      {"UITextBox", &FreshTextBox},
                                      {"UIUniTextInput", &FreshTextInput},
                                      {"UITemplateView", &Fresh<UITemplateView>},
                                      {"UIRoundedRect", &Fresh<UIRoundedRect>},
                                      {"UIScreen", &Fresh<UIScreen>},
                                      {nullptr, nullptr}};
    luaL_register(L, "Fixture", kFresh);
    lua_pop(L, 1);
    static const luaL_Reg kNatives[] = {{"Recording", &Recording}, {"Teardowns", &Teardowns},
                                        {"Frees", &Frees},         {"Address", &Address},
                                        {"Fire", &Fire},           {"Flags", &Flags},
                                        {"Position", &Position},   {"Color", &Color},
                                        {"Actions", &Actions},     {"RecordOps", &RecordOps},
                                        {"OpsPosted", &OpsPosted}, {"FontSize", &FontSize},
                                        {"FadeTime", &FadeTime},   {"RegisterClass", &RegisterClass},
                                        {"Owned", &Owned},         {"Entry", &Entry},
                                        {"TextLength", &TextLength}, {"CollectionStep", &CollectionStep},
                                        {nullptr, nullptr}};
    luaL_register(L, "UIFixture", kNatives);
    lua_pop(L, 1);
}

void CloseUIFixture() {
    SetUIOpObserver(nullptr, nullptr);
    // A script may have left the memory guard on: what it holds goes with it.
    DisableUIMemoryGuard();
    if (UIElement* root = gRoot.Get()) root->Release();
    if (&GetGameServices() == &gScreenSlots) SetGameServices(nullptr);
    if (gOwnStringManager) {
        delete gStringManager;
        gStringManager = nullptr;
        gOwnStringManager = false;
    }
    UIElement::FinishPendingDeletion();
}
