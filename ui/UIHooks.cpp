// The UI's seams and entries for the libraries below it.
#include <memory>

#include "core/config/ConfigEnums.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/UIServices.h"
#include "render/resources/ResourceFont.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringManager.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"
#include "ui/text/UIFontTable.h"
#include "ui/video/VideoEngine.h"

void InstallUIElementDraws();  // ui/elements/UIScreenServices.cpp
void ClearUIElementDraws();

namespace {

// The engine's UI services: tracked elements and text fields for the input manager, the
// string manager, font table and video engine for the engine's start-up and shutdown.
// Each does nothing (or answers empty) while its object does not exist.
class UILibraryServices final : public UIServices {
public:
    int32_t FindTrackedEntitySlot(UIScreen* screen, UIElement* element) override {
        return element ? screen->FindHitCandidate(element->GetId()) : -1;
    }
    bool HitTestTrackedEntity(UIScreen* screen, int32_t slot, const Vector& position) override {
        return screen->HitTestCandidate(slot, position);
    }
    void SetText(UITextBase* text, const char16_t* characters) override {
        if (text) text->SetTextUnicharPtr(characters);
    }
    void AppendText(UITextBase* text, const char16_t* characters) override {
        if (text) text->AppendText(characters);
    }
    const char16_t* LookupString(const char* id) const override {
        return gStringManager ? gStringManager->GetString(id, kCurrentTextLanguage, nullptr, true, true) : nullptr;
    }

    bool CreateStringManager() override {
        if (!gStringManager) gStringManager = new StringManager();
        return true;
    }
    bool LoadCompiledStrings(const char* fileName) override {
        return gStringManager && gStringManager->LoadCompiledStrings(fileName);
    }
    void DeleteStringManager() override {
        delete gStringManager;
        gStringManager = nullptr;
    }
    bool LoadFontTable() override { return UIFontTable::Load(); }
    void FreeFontTable() override {
        if (gUIFontTable) gUIFontTable->Free();
    }
    void InitVideoEngine() override {
        if (gVideoEngine) gVideoEngine->Init();
    }
    void CloseVideoEngine() override {
        if (gVideoEngine) gVideoEngine->Close();
    }

    StringReplacementContainer* GetDefaultReplacementContainer() const override {
        return gDefaultReplacementContainer;
    }
    VideoEngine* GetVideoEngine() const override { return gVideoEngine; }
};

UILibraryServices gUILibraryServices;

// A change of the project's "Default language" chooses the text language again.
class StringLanguageSelection final : public LanguageSelectionServices {
public:
    void SelectLanguage() override {
        if (gStringManager) gStringManager->SelectLanguage();
    }
};
StringLanguageSelection gStringLanguageSelection;

// Fonts: the binary font files, and the characters the strings use for the font builder
// (text through a font goes with the element draws).
class UIFontFiles final : public FontFileServices {
public:
    bool LoadBinFont(ResourceFont& font) override { return ::LoadBinFont(font); }
    bool SaveBinFont(const ResourceFont& font) override { return ::SaveBinFont(font); }
    // The strings' bits (in 32-bit words) ORed into the 65,536-bit byte set; false without
    // a string table.
    bool CollectUsedCharacters(uint32_t language, uint8_t* bits) override {
        if (!gStringManager) return false;
        std::unique_ptr<uint32_t[]> words(new uint32_t[65536 / 32]());
        gStringManager->CollectUsedCharacters(language, words.get());
        for (uint32_t i = 0; i < 65536 / 8; ++i) bits[i] |= uint8_t(words[i / 4] >> (i % 4 * 8));
        return true;
    }
};
UIFontFiles gUIFontFiles;

}  // namespace

void InstallUIServices() {
    InstallUIElementDraws();
    SetUIServices(&gUILibraryServices);
    SetLanguageSelectionServices(&gStringLanguageSelection);
    SetFontFileServices(&gUIFontFiles);
}

void ClearUIServices() {
    ClearUIElementDraws();
    SetUIServices(nullptr);
    SetLanguageSelectionServices(nullptr);
    SetFontFileServices(nullptr);
}
