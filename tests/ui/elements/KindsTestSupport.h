#pragma once
// The element kinds' fixture: the shader fixture (renderer on a recording device, scratch
// data folders, the loader, the build's shader data) with the shader definitions loaded,
// the UI's table entries installed and a screen of the client size.
#include <cstdlib>
#include <string>

#include "DrawTestSupport.h"
#include "render/DeviceObjectHandle.h"
#include "render/shaders/ShaderTestSupport.h"
#include "ui/elements/UIPicture.h"
#include "ui/elements/UIScreen.h"

namespace kindstest {

using rendertest::RunOnRenderThread;

inline uint32_t Serial(const DeviceObjectHandle* h) { return h && h->Texture() ? gfx::SerialOf(h->Texture()) : 0; }

template <class Base>
struct KindsFixtureOf : Base {
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(this->created);
        if (!gShaderManager->IsLoaded()) {
            ASSERT_TRUE(gShaderManager->LoadDefinitions());
        }
        gVornexRenderer.WaitForResourceJobs(1);
        InstallUIHooks();
        InstallUIScreenServices();
        SetUISizeOverride(float(this->clientWidth), float(this->clientHeight));
        screen = new UIScreen;
        screen->SetSize(float(this->clientWidth), float(this->clientHeight));
    }
    void TearDown() override {
        if (screen) screen->Release();
        gVornexRenderer.FlushCommands(true);
        UIElement::FinishPendingDeletion();
        gVornexRenderer.FlushCommands(true);
        Base::TearDown();
        InstallUIHooks();
        InstallUIScreenServices();
    }
    // An uncompressed A8R8G8B8 DDS made by ImageMagick under textures/UI/<name>.dds.
    bool MakeTexture(const std::string& name, const std::string& colour, uint32_t w = 4, uint32_t h = 4) {
        const std::string path = this->root + "/textures/UI/" + name + ".dds";
        std::filesystem::create_directories(this->root + "/textures/UI");
        const std::string command = "convert -size " + std::to_string(w) + "x" + std::to_string(h) + " 'xc:" +
                                    colour + "' -alpha on -define dds:compression=none -define dds:mipmaps=0 " + path;
        return rendertest::Shell(command);
    }
    void Frame(const Vector& pointer = Vector(0.5f, 0.5f, 0, 0)) {
        this->BeginFrame();
        screen->Render(uint32_t(this->clientWidth), uint32_t(this->clientHeight), 0, 0, pointer);
        this->EndFrame();
        screen->Update(pointer);
    }
    UIPicture* AddPicture(UIElement* parent, float x, float y, float w, float h) {
        UIPicture* p = new UIPicture;
        p->SetPosition(x, y, 0);
        p->SetSize(w, h);
        parent->AddChild(p);
        return p;
    }
    UIScreen* screen = nullptr;
};

using KindsFixture = KindsFixtureOf<shadertest::ShaderFixture>;

}  // namespace kindstest
