#pragma once
// The shaders the ambient cube refresh draws with: the "LightCubeGeneration" pair, without
// options for lights without a mask texture and with option "MASK" for lights with one.
// The shader manager's start-up installs the lookup; without one, or for a missing pair,
// the refresh leaves the light out.
//
// Threads: installed on the main thread before the renderer starts; called on the render
// thread.
namespace gfx {
class VertexShader;
class PixelShader;
}  // namespace gfx

struct LightCubeShaderPair {
    gfx::VertexShader* vertex = nullptr;
    gfx::PixelShader* pixel = nullptr;
    bool Valid() const { return vertex && pixel; }
};

using LightCubeShaderLookup = LightCubeShaderPair (*)(bool mask);
extern LightCubeShaderLookup gLightCubeShaderLookup;
