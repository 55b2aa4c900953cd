// The post-processing chain: its design, device objects and shader release. The run and
// the passes read the scene parameters, so they sit with the frame code above the scene
// state (frame/PostProcessChain_Run.cpp, _Passes.cpp, _Lookup.cpp); the UI blur copy and
// the ambient occlusion passes are beside this file.
//
// A run, on the render thread, with the back buffer and the depth surface bound by the
// task: the bound target, its viewport and flags are saved; the camera inverse is taken
// from the camera in force (before the outline reconstruction sets its own camera);
// with bit 0 the outlines are rebuilt and the lookup textures refilled when the scene
// parameters changed; the glow goes into the top-left quarter of A (blurred twice) and
// the local-contrast luminance to its right. The composite then writes the bound target,
// or B when an optional pass follows or the render size differs from the back buffer's.
// The optional passes ping-pong between B and A; at the back buffer's width the last one
// writes the saved target directly. The chain records which light buffer ends with the
// image, for the upscale of task 23.
//
// Parameter values come from the scene-parameter set in force (RendererScene); before
// the sets exist or after they are gone a run draws nothing and only rebinds the output.
#include "render/shaders/PostProcessChain.h"

#include "render/DeviceObjectHandle.h"
#include "render/VornexRenderer.h"

using namespace gfx;

PostProcessChain::~PostProcessChain() {
    // The device objects are gone with the device by now; the holders only.
    if (toneCurve) toneCurve->Unref();
    if (colorLookup) colorLookup->Unref();
    ReleaseUIBlurCopy(true);
}

void PostProcessChain::CreateDeviceObjects() {
    outlines.CreateDeviceObjects();
    VornexRenderer& r = gVornexRenderer;
    if (!r.Device()) return;
    if (!toneCurve) toneCurve = new DeviceObjectHandle;
    if (!colorLookup) colorLookup = new DeviceObjectHandle;
    toneCurve->CreateTexture(kToneCurveTexels, 1, 1, USAGE_DYNAMIC, FMT_A8R8G8B8, POOL_DEFAULT);
    colorLookup->CreateTexture(kColorLookupTexels, 1, 1, USAGE_DYNAMIC, FMT_A8R8G8B8, POOL_DEFAULT);
    toneCurveDirty = colorLookupDirty = true;
}

void PostProcessChain::ReleaseDeviceObjects() {
    outlines.ReleaseDeviceObjects();
    if (toneCurve) toneCurve->ReleaseInterface();
    if (colorLookup) colorLookup->ReleaseInterface();
    ReleaseUIBlurCopy(false);
}

void PostProcessChain::ReleaseShaders() {
    VornexRenderer& r = gVornexRenderer;
    if (!r.IsRendererRunning()) {
        ReleaseShadersNow();
        return;
    }
    RenderCallFunction call = [](uint32_t, CommandRingBuffer& ring) {
        PostProcessChain* chain = nullptr;
        if (ring.ReadValue(chain) && chain) chain->ReleaseShadersNow();
    };
    PostProcessChain* self = this;
    if (!r.BeginCommand(TASK_CALL, sizeof call + sizeof(uintptr_t) + sizeof self)) return;
    r.Ring().WriteValue(call);
    r.Ring().WriteValue(uintptr_t(0));
    r.Ring().WriteValue(self);
    r.FlushCommands(true);
}

void PostProcessChain::ReleaseShadersNow() {
    for (ShaderPair& p : compositeShaders) p.Release();
    for (ShaderPair& p : passShaders) p.Release();
}
