// The chain's two lookup textures (render thread): the tone curve (1024 x 1) and the
// colour lookup (64 x 1), A8R8G8B8, one level, dynamic, in the default pool. They are
// refilled from the scene parameters in force when the lighting changed or a texture was
// just made (after a device creation or reset), with a discarding lock.
//
// The tone curve is read through a gamma mapping: texel i shows entry
// trunc((i / (N / 4))^(1 / 2.2) x N / 4), so the dark end gets more texels. The colour
// lookup maps texel i to entry i; its entries are converted by HDRColor::ToVector (the
// composite reads the texture with sRGB conversion). A channel is clamped to 0..1 (NaN
// as 0) and truncated to a byte.
#include <cstring>

#include "render/DeviceObjectHandle.h"
#include "render/PostProcessMath.h"
#include "render/scene/SceneParametersWrapper.h"
#include "render/shaders/PostProcessChain.h"

using namespace gfx;

static_assert(PostProcessChain::kToneCurveTexels == kToneCurveEntries, "one texel per tone-curve entry");
static_assert(PostProcessChain::kColorLookupTexels == kColorLookupEntries, "one texel per colour-lookup entry");

namespace {

// Locks level 0 of the holder's texture with a discard and writes n packed texels from
// the entry function; nothing is written when the lock is refused.
template <class Entry>
void Fill(DeviceObjectHandle* holder, uint32_t n, bool gammaMapped, Entry entry) {
    Texture* texture = holder ? holder->Texture2D() : nullptr;
    if (!texture) return;
    LockedRect locked{};
    if (Failed(texture->LockRect(0, &locked, nullptr, LOCK_DISCARD)) || !locked.bits) return;
    uint32_t* texels = static_cast<uint32_t*>(locked.bits);
    for (uint32_t i = 0; i < n; ++i) texels[i] = PackLookupTexel(entry(LookupIndex(i, n, gammaMapped)));
    texture->UnlockRect(0);
}

}  // namespace

void PostProcessChain::FillLookupTextures(const SceneParameterBlock& p) {
    Fill(toneCurve, kToneCurveTexels, true, [&](uint32_t k) { return p.toneMappingCurve[k]; });
    toneCurveDirty = false;
    Fill(colorLookup, kColorLookupTexels, false, [&](uint32_t k) { return p.colorLookupCurve[k].ToVector(); });
    colorLookupDirty = false;
}
