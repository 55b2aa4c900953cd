#pragma once
// UIServices: what the engine needs of the user-interface library, behind one small
// interface: the tracked elements the tap table hit-tests, the text fields the input
// manager writes, the string manager, the font table and the video engine the engine
// starts and stops, and the UI singletons the script host publishes. The UI library
// installs its implementation from its start-up row; until then (and after
// SetUIServices(nullptr)) the base class answers as if there were no UI: nothing is
// tracked or hit, nothing is written, no string manager, font table or video engine, and
// the singletons are null.
//
// Threads: main thread.
#include <cstdint>

class StringReplacementContainer;
class UIElement;
class UIScreen;
class UITextBase;
class VideoEngine;
struct Vector;

class UIServices {
public:
    virtual ~UIServices() = default;

    // ---- Input ----
    // UIScreen::FindTrackedEntitySlot: the slot of an element the screen tracks, negative
    // when it does not.
    virtual int32_t FindTrackedEntitySlot(UIScreen* screen, UIElement* element) { return -1; }
    // UIScreen::HitTestTrackedEntity: whether the position lies inside the tracked element.
    virtual bool HitTestTrackedEntity(UIScreen* screen, int32_t slot, const Vector& position) { return false; }
    // UITextBase::SetTextUnicharPtr (null clears the text) and UITextBase::AppendText.
    virtual void SetText(UITextBase* text, const char16_t* characters) {}
    virtual void AppendText(UITextBase* text, const char16_t* characters) {}
    // The text of a string id in the current language, null when there is none (the
    // default: no text).
    virtual const char16_t* LookupString(const char* id) const { return nullptr; }

    // ---- Engine start-up and shutdown ----
    // Creates the StringManager; false when there is none to create.
    virtual bool CreateStringManager() { return false; }
    // Loads its compiled strings from a file of "Common" (false when unreadable).
    virtual bool LoadCompiledStrings(const char* fileName) { return false; }
    virtual void DeleteStringManager() {}
    // UIFontTable::Load of "Fonts.Config" from "Common", and the release of the UI font
    // definitions.
    virtual bool LoadFontTable() { return false; }
    virtual void FreeFontTable() {}
    // VideoEngine::Init and VideoEngine::Close.
    virtual void InitVideoEngine() {}
    virtual void CloseVideoEngine() {}

    // ---- Singletons published to scripts (gDefaultReplacementContainer, gVideoEngine) ----
    virtual StringReplacementContainer* GetDefaultReplacementContainer() const { return nullptr; }
    virtual VideoEngine* GetVideoEngine() const { return nullptr; }
};

UIServices& GetUIServices();
// Not owned; null restores the default.
void SetUIServices(UIServices* services);
