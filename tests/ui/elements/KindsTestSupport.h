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
#include "ui/elements/UIViewState.h"

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
        InstallUIServices();
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
        InstallUIServices();
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

// Runs a writer of tests/support (recipes.py, proplist.py) on json, into root/templates/<file>.
inline bool RunTemplateWriter(const std::string& root, const char* tool, const char* command, const std::string& file,
                              const std::string& json) {
    std::string quoted;
    for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return rendertest::Shell(std::string("python3 " PROJECT_SOURCE_ROOT "/tests/support/") + tool + " " + command +
                             " " + root + "/templates/" + file + " '" + quoted + "'");
}

// Under root/templates: the recipe template UI/<name> (recipe json) and a plain template
// UI/Plain, with the template info that names both.
inline bool WriteRecipeTemplates(const std::string& root, const std::string& name, const std::string& guid,
                                 const std::string& recipe, const std::string& plainGuid) {
    return RunTemplateWriter(root, "recipes.py", "binarytemplate", "UI/" + name + ".BinaryTemplate",
                             R"({"guid": ")" + guid + R"(", "recipe": )" + recipe + "}") &&
           RunTemplateWriter(root, "proplist.py", "binarytemplate", "UI/Plain.BinaryTemplate",
                             R"({"guid": ")" + plainGuid + R"(", "type": 0})") &&
           RunTemplateWriter(root, "proplist.py", "templateinfo", "TemplateInfo.Bin",
                             R"({"stubs": [{"file": ")" + name + R"(", "guid": ")" + guid +
                                 R"(", "type": 10}, {"file": "Plain", "guid": ")" + plainGuid +
                                 R"(", "type": 0}], "root": {"name": "templates", "folders": [{"name": "UI", "guids": [")" +
                                 guid + R"(", ")" + plainGuid + R"("]}]}})");
}

// The screen drawn into a fresh side x side target as a frame draws the tree (camera, viewport,
// UI view transform); before and after run on the render thread around the tree's draw.
// Pixels 0xRRGGBB.
inline std::vector<uint32_t> DrawScreenPixels(rendertest::RendererFixture& f, UIScreen* screen, uint32_t side,
                                              const std::string& name, bool save,
                                              const std::function<void()>& before = {},
                                              const std::function<void()>& after = {}) {
    gVornexRenderer.FlushCommands(true);
    Matrix view, projection, ortho;
    float w = 0, h = 0, sx = 1, sy = 1;
    screen->ComputeCamera(side, side, &view, &projection, &ortho, &w, &h, &sx, &sy);
    return shadertest::OffscreenPixels(f, side, name, save, [&] {
        gVornexRenderer.ApplyViewport(0, 0, side, side, 0.0f, 1.0f);
        gVornexRenderer.SetCameraState(view, projection, Matrix::IDENTITY, 0);
        SetUIViewTransform(0, 0, w, h, sx, sy, Vector(0.5f, 0.5f, 0, 0));
        if (before) before();
        screen->RenderTree();
        if (after) after();
    });
}

}  // namespace kindstest
