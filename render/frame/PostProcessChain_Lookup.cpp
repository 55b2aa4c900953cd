// The chain's lookup textures (render thread): the tone curve (1024 x 1), the colour
// lookup (64 x 1) and the two folded into one (1024 x 1, what the composite reads),
// A8R8G8B8, one level, dynamic, in the default pool. They are refilled from the scene
// parameters in force when the lighting changed or a texture was just made (after a
// device creation or reset), with a discarding lock; the fold is made from the packed
// texels of the other two, so it changes exactly when either of them does.
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

// Locks level 0 of the holder's texture with a discard and copies n texels into it;
// nothing is written when the lock is refused.
void Fill(DeviceObjectHandle* holder, const uint32_t* texels, uint32_t n) {
    Texture* texture = holder ? holder->Texture2D() : nullptr;
    if (!texture) return;
    LockedRect locked{};
    if (Failed(texture->LockRect(0, &locked, nullptr, LOCK_DISCARD)) || !locked.bits) return;
    std::memcpy(locked.bits, texels, n * sizeof(uint32_t));
    texture->UnlockRect(0);
}

}  // namespace

void PostProcessChain::FillLookupTextures(const SceneParameterBlock& p) {
    uint32_t tone[kToneCurveTexels], lookup[kColorLookupTexels], fold[kToneCurveTexels];
    for (uint32_t i = 0; i < kToneCurveTexels; ++i)
        tone[i] = PackLookupTexel(p.toneMappingCurve[LookupIndex(i, kToneCurveTexels, true)]);
    for (uint32_t i = 0; i < kColorLookupTexels; ++i) lookup[i] = PackLookupTexel(p.colorLookupCurve[i].ToVector());
    FoldToneCurveAndLookup(tone, kToneCurveTexels, lookup, kColorLookupTexels, fold, kToneCurveTexels);
    Fill(toneCurve, tone, kToneCurveTexels);
    Fill(colorLookup, lookup, kColorLookupTexels);
    Fill(toneLookup, fold, kToneCurveTexels);
    toneCurveDirty = colorLookupDirty = false;
}
