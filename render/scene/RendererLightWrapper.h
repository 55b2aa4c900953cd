#pragma once
// RendererLightWrapper: the render-side proxy of a light entity. It embeds the
// RendererLight that the lighting pass and the ambient cube read from the active list;
// the main thread changes it only through command-47 records, decoded in stream order on
// the render thread:
//
//   op 0 PostTransform                matrix                               SetTransform
//   op 1 PostPointLight               colour, intensity, inner, outer,     SetupPointLight
//                                     texture, mask rotation, mask scale
//   op 2 PostSpotLight                as op 1 with cone angle and falloff  SetupSpotLight
//                                     before the texture
//   op 3 PostTubeLight                colour, intensity, inner, outer,     SetupTubeLight
//                                     length, texture, mask rotation,
//                                     mask scale
//   op 4 PostDirectionalAmbientLight  three colours, intensity, wrap       SetupDirectionalAmbientLight
//                                     around, kind byte, texture, mask
//                                     rotation, mask scale, exclusion bits
//
// Ops above 4 are ignored. Texture handles travel at native size; a
// posted texture handle must stay alive until the record has run (the light then holds
// its own reference). Release (main thread) destroys the wrapper on the render thread,
// which unlinks the light and drops its texture.
//
// Threads: the Post calls and Release on the main thread; light() on the render thread.
#include <cstdint>

#include "render/VornexRendererObject.h"
#include "render/scene/RendererLight.h"

class CommandRingBuffer;

class RendererLightWrapper : public VornexRendererObject {
public:
    RendererLightWrapper() = default;

    void PostTransform(const Matrix& m);
    void PostPointLight(const Vector& color, float intensity, float inner, float outer, DeviceObjectHandle* texture,
                        const Vector& maskRotation, const Vector& maskScale);
    void PostSpotLight(const Vector& color, float intensity, float inner, float outer, float coneAngle,
                       float coneFalloff, DeviceObjectHandle* texture, const Vector& maskRotation,
                       const Vector& maskScale);
    void PostTubeLight(const Vector& color, float intensity, float inner, float outer, float length,
                       DeviceObjectHandle* texture, const Vector& maskRotation, const Vector& maskScale);
    // The light entity passes "Color", "Secondary color" and "Side color" (linear),
    // "Specualar multiplier", "Two sided mode", "Wrap around factor", the mask and its
    // block-rendering mask; the light travels along its transform's z axis. The record
    // carries the wrap-around factor before the mode's byte.
    void PostDirectionalAmbientLight(const Vector& firstColor, const Vector& secondColor, const Vector& sideColor,
                                     float intensity, uint32_t twoSidedMode, float wrapAround,
                                     DeviceObjectHandle* texture, const Vector& maskRotation, const Vector& maskScale,
                                     uint32_t exclusionBits);

    // Render thread.
    RendererLight& Light() { return light; }
    const RendererLight& Light() const { return light; }
    static void Execute(uint32_t op, CommandRingBuffer& r);

private:
    template <class... T>
    void Post(uint32_t op, const T&... data);

    RendererLight light;
};
