#include "render/shaders/PostProcessChain.h"

void PostProcessChain::PostProcess(uint32_t modeBits) { ++postProcessCount; }

void PostProcessChain::CreateDeviceObjects() { outlines.CreateDeviceObjects(); }

void PostProcessChain::ReleaseDeviceObjects() { outlines.ReleaseDeviceObjects(); }

void PostProcessChain::ReleaseShaders() {
    for (ShaderPair& p : compositeShaders) p.Release();
    for (ShaderPair& p : passShaders) p.Release();
}
