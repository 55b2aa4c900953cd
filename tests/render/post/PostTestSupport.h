#pragma once
// Shared pieces of the post-processing tests: the reference script, a renderer fixture
// with the chain's shaders and the scene parameter sets, and the frame that runs task 22
// and the upscale.
#include <functional>
#include <string>
#include <vector>

#include "../RenderTestSupport.h"
#include "../shaders/ShaderTestSupport.h"
#include "platform/gfx/GfxRecorder.h"
#include "render/DeviceObjectHandle.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

namespace posttest {

using namespace gfx;
using rendertest::RunOnRenderThread;

// The output of post_reference.py (Debian's interpreter, which has numpy).
inline std::string Reference(const std::string& arguments) {
    return rendertest::ShellOutput("/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/render/post/post_reference.py " +
                                   arguments);
}

inline PostProcessChain& Chain() { return gVornexRenderer.PostProcess(); }

// Edits the parameter set in force on the render thread.
inline void Edit(const std::function<void(SceneParameterBlock&)>& f) {
    RunOnRenderThread([&] { f(gRendererScene->GetCurrentParameters()->Values()); });
}

// FXAA, zoom blur, RGB shift (an amount of 0.5 at any time) and local contrast on.
inline void EveryOptionalPass() {
    Edit([](SceneParameterBlock& p) {
        p.rest.fxaaEnabled = true;
        p.rest.zoomBlurStrength = 0.5f;
        p.rest.imageLocalContrast = 1.2f;
        for (float& v : p.rgbShiftScaleCurve) v = 0.5f;
    });
}

inline uint32_t Serial(const DeviceObjectHandle* h) { return h && h->Texture() ? SerialOf(h->Texture()) : 0; }
inline uint32_t Serial(Surface* s) { return s ? SerialOf(s) : 0; }
inline uint32_t PixelSerial(const ShaderPair& p) { return p.IsValid() ? SerialOf(p.pixelObject->DeviceShader()) : 0; }

// The renderer on a recording device with the chain's shaders and the scene parameter
// sets; Configure sets quality, outlines and the render scale.
template <class Base = shadertest::ShaderFixture>
struct PostFixtureOf : Base {
    void SetUp() override {
        Base::SetUp();
        if (::testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(this->created);
        if (!gShaderManager->IsLoaded()) {
            ASSERT_TRUE(gShaderManager->LoadDefinitions());
        }
        gShaderManager->InitPostProcessShaders(Chain());
        gRendererScene->PostInit();
        // The chain outlives a test: each starts with nothing outlined and the default outline.
        RunOnRenderThread([] {
            Chain().Outlines().Clear();
            Chain().SetOutlineParams(OutlineParams(), false);
        });
        view.LoadLookAtLH(Vector(0, 50, -80, 1), Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, 16.0f / 9.0f, 1.0f, 500.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    void TearDown() override {
        if (this->created) {
            gRendererScene->PostShutdown();
            gVornexRenderer.FlushCommands(true);
            Chain().ReleaseShaders();
        }
        Base::TearDown();
    }
    // One frame: the output bound, task 22 with the mode bits, then task 23 (before the
    // frame ends when `between` is given, it runs on the render thread after task 22).
    std::vector<DrawRecord> Frame(uint32_t modeBits, const std::function<void()>& between = nullptr) {
        gVornexRenderer.FlushCommands(true);
        this->recorder->ClearDrawRecords();
        this->BeginFrame();
        // Every frame sets its camera (the outline reconstruction leaves its own).
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
        // The scene passes leave the render-size viewport.
        gVornexRenderer.SetViewport(0, 0, gVornexRenderer.RenderWidth(), gVornexRenderer.RenderHeight(), 0.0f, 1.0f);
        gVornexRenderer.SetPostProcessTargetMode(modeBits);
        if (between) RunOnRenderThread(between);
        gVornexRenderer.PostUpscale();
        this->EndFrame();
        return this->recorder->DrawRecords();
    }
    Matrix view, projection;
};
using PostFixture = PostFixtureOf<>;

}  // namespace posttest
