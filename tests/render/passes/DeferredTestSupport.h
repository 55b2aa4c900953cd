#pragma once
// The deferred lighting tests' fixture on the recording device: the shader definitions,
// the post-process shaders and the scene parameters started; lights it owns, one frame of
// the deferred pre-pass and the draws of one shader pair.
#include <functional>
#include <memory>
#include <vector>

#include "../shaders/ShaderTestSupport.h"
#include "PassesTestSupport.h"
#include "render/scene/RendererLight.h"
#include "render/scene/RendererScene.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

namespace passtest {

struct DeferredFixture : shadertest::ShaderFixture {
    void SetUp() override {
        ShaderFixture::SetUp();
        ASSERT_TRUE(created);
        ASSERT_TRUE(gShaderManager->LoadDefinitions());
        gShaderManager->InitPostProcessShaders(gVornexRenderer.PostProcess());
        gRendererScene->PostInit();
        EntityRenderingContextSetup s;
        s.creationFlags = ERC_FLAG_NO_GRID;
        mesh = std::make_unique<SilentMesh>(s);
    }
    void TearDown() override {
        rendertest::RunOnRenderThread([&] { lights.clear(); });
        gRendererScene->PostShutdown();
        gVornexRenderer.FlushCommands(true);
        mesh.reset();
        gVornexRenderer.PostProcess().ReleaseShaders();
        ShaderFixture::TearDown();
    }
    void Camera(const Vector& eye, float aspect) {
        view.LoadLookAtLH(eye, Vector(0, 0, 0, 1), Vector(0, 1, 0, 0));
        projection.LoadPerspectiveFovLH(60.0f, aspect, 1.0f, 500.0f);
        gVornexRenderer.SetCamera(view, projection, Matrix::IDENTITY);
    }
    static void Edit(const std::function<void(SceneParameterBlock&)>& f) {
        rendertest::RunOnRenderThread([&] { f(gRendererScene->GetCurrentParameters()->Values()); });
    }
    // One frame of the deferred pre-pass (a forward-free frame with one deferred mesh that
    // draws nothing: without a deferred mesh there is nothing to light) with the pass
    // flags; the draws it made.
    std::vector<DrawRecord> Frame(uint32_t passFlags) {
        recorder->ClearDrawRecords();
        BeginFrame();
        gVornexRenderer.PostResetFrameGather();
        gVornexRenderer.SubmitRenderTask(mesh.get(), RENDER_FLAG_DEFERRED);
        for (auto& l : lights) gVornexRenderer.PostRegisterLight(l.get());
        gVornexRenderer.PostRenderPassFlags(Vector(0, 0, 0, 1), passFlags, 1);
        EndFrame();
        return Draws();
    }
    // The draws with the pair's pixel shader (none for an invalid pair).
    static std::vector<const DrawRecord*> With(const std::vector<DrawRecord>& draws, const ShaderPair& p) {
        std::vector<const DrawRecord*> out;
        if (!p.IsValid()) return out;
        const uint32_t serial = SerialOf(p.pixelObject->DeviceShader());
        for (const DrawRecord& d : draws)
            if (d.pixelShader.serial == serial) out.push_back(&d);
        return out;
    }
    // A light of the type with the shape's colour and intensity, the range (inner at half
    // of it), the spot angle, and the first system texture when textured.
    RendererLight* AddLight(uint32_t type, const Matrix& placement, RendererLightShape shape, float range, float angle,
                            bool textured) {
        RendererLight* made = nullptr;
        rendertest::RunOnRenderThread([&] {
            lights.push_back(std::make_unique<RendererLight>());
            made = lights.back().get();
            shape.innerRange = range * 0.5f;
            shape.outerRange = range;
            shape.texture = textured ? gShaderManager->SystemTexture(0) : nullptr;
            if (type == LIGHT_TYPE_POINT) made->SetupPointLight(shape);
            if (type == LIGHT_TYPE_SPOT) made->SetupSpotLight(shape, angle, 0.5f);
            if (type == LIGHT_TYPE_TUBE) made->SetupTubeLight(shape, 4.0f);
            if (type == LIGHT_TYPE_DIRECTIONAL_AMBIENT) made->SetupDirectionalAmbientLight(RendererAmbientLightShape{});
            made->SetTransform(placement);
        });
        return made;
    }
    struct SilentMesh : EntityRenderingContext {
        using EntityRenderingContext::EntityRenderingContext;
        void Draw(void*, const Matrix&, const RenderTaskArguments&) override {}
    };

    Matrix view, projection;
    std::vector<std::unique_ptr<RendererLight>> lights;
    std::unique_ptr<SilentMesh> mesh;
};

}  // namespace passtest
