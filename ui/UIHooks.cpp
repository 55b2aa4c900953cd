// The UI's seams and entries for the libraries below it.
#include <memory>

#include "core/config/ConfigEnums.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/EngineServices.h"
#include "engine/services/UIServices.h"
#include "render/resources/ResourceFont.h"
#include "scene/sfx/SFXContext.h"
#include "scene/sfx/SFXEntity.h"
#include "ui/UIStaticInit.h"
#include "ui/elements/UIAction.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIScreen.h"
#include "ui/elements/UITemplateView.h"
#include "ui/elements/UITextBase.h"
#include "ui/localisation/StringManager.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/text/BinFont.h"
#include "ui/text/FontDraw.h"
#include "ui/text/UIFontTable.h"
#include "ui/video/VideoEngine.h"
#include "ui/widgets/UIGameConsoleScreen.h"

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

// The language choice of the localised strings.
void InstallStringServices() {
    // A change of the project's "Default language" chooses the text language again.
    SetLanguageSelectionHook([] {
        if (gStringManager) gStringManager->SelectLanguage();
    });
}

void ClearStringServices() {
    SetLanguageSelectionHook(nullptr);
}
// The font builder's character set: the strings' bits (in 32-bit words) ORed into its
// 65,536-bit byte set; false without a string table.
bool CollectUsedCharacters(uint32_t language, uint8_t* bits) {
    if (!gStringManager) return false;
    std::unique_ptr<uint32_t[]> words(new uint32_t[65536 / 32]());
    gStringManager->CollectUsedCharacters(language, words.get());
    for (uint32_t i = 0; i < 65536 / 8; ++i) bits[i] |= uint8_t(words[i / 4] >> (i % 4 * 8));
    return true;
}

}  // namespace

void InstallUIHooks() {
    InstallUIElementDraws();
    SetUIServices(&gUILibraryServices);
    // The video engine: the render frame's questions and posts. Each does nothing while
    // the engine does not exist.
    EngineServices& e = gEngineServices;
    e.videoIsPlaying = [] { return gVideoEngine && gVideoEngine->IsPlaying(); };
    e.videoIsFullScreen = [] { return gVideoEngine && gVideoEngine->IsFullScreen(); };
    e.videoUpdateFrame = [] {
        if (gVideoEngine) gVideoEngine->UpdateFrame();
    };
    e.videoDrawFrame = [] {
        if (gVideoEngine) gVideoEngine->DrawFrame();
    };
    InstallStringServices();
    // Template views play an effect template through a context of no entity, set up at
    // the identity matrix and restarted at once, as the template's preview is.
    UITemplateEffectSeam& fx = gUITemplateEffects;
    fx.create = [](EntityTemplate* t, uint32_t flags) -> void* {
        auto* effect = dynamic_cast<SFXTemplate*>(t);
        if (!effect) return nullptr;
        EntityRenderingContextSetup setup;
        setup.color = Vector(1.0f, 1.0f, 1.0f, 1.0f);
        auto* c = new SFXContext(setup, nullptr, t, flags);
        c->Setup(effect->definition, Matrix::IDENTITY, false, 1);
        c->Restart(1, 0);
        return c;
    };
    fx.release = [](void* c) { static_cast<SFXContext*>(c)->Release(); };
    fx.breakLoop = [](void* c, const char* loopName) { static_cast<SFXContext*>(c)->BreakLoop(loopName); };
    fx.restart = nullptr;  // the restart went with the context's set-up
    fx.draw = [](void* c, const Matrix& world) {
        static_cast<SFXContext*>(c)->Draw(nullptr, world, RenderTaskArguments{});
    };
    // Fonts: the binary font files (text through a font goes with the element draws).
    ResourceFont::SetHooks({&LoadBinFont, &SaveBinFont, &CollectUsedCharacters});
    fx.breakLoopNow = [](void* c) { static_cast<SFXContext*>(c)->BreakLoopNow(nullptr); };
    // The console screen's draw in the Game's render frame.
    e.consoleScreenRender = [](UIGameConsoleScreen* c, uint32_t width, uint32_t height) {
        if (c) c->Render(width, height, 0, 0, c->CursorPosition());
    };
}

void ClearUIHooks() {
    ClearUIElementDraws();
    SetUIServices(nullptr);
    EngineServices& e = gEngineServices;
    e.videoIsPlaying = e.videoIsFullScreen = nullptr;
    e.videoUpdateFrame = e.videoDrawFrame = nullptr;
    ClearStringServices();
    gUITemplateEffects = UITemplateEffectSeam{};
    ResourceFont::SetHooks({});
    e.consoleScreenRender = nullptr;
}
