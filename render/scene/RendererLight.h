#pragma once
// RendererLight: the render thread's description of one light, and the list of active
// lights with its change counter. The deferred lighting pass and the ambient cube
// refresh walk the list; the light wrapper's command-47 ops (RendererLightWrapper) and
// the effect light contexts fill the records through the set-up operations below.
//
// The change counter advances whenever a light enters or leaves the list or a listed
// light changes its transform; the renderer re-renders its ambient cube when it moves.
//
// Which set-up fills which field (a dash: left as it was). The light entity's values in
// quotes; the transform (op 0) fills `transform` and `direction` for every type.
//
//   field              point (op 1)  spot (op 2)   tube (op 3)   directional ambient (op 4)
//   type               0             1             2             3
//   colors[0]          colour        colour        colour        "Color"
//   colors[1]          -             -             -             "Secondary color"
//   colors[2]          -             -             -             "Side color" (w: its weight)
//   intensity          intensity     intensity     intensity     "Specualar multiplier"
//   scalars[0]         -             -             -             the value: "Wrap around factor"
//   scalars[1]         -             -             -             the intensity
//   innerRange         inner         inner         inner         -
//   outerRange         outer         outer         outer         -
//   coneAngle          -             cone angle    -             -
//   coneFalloff        -             cone falloff  -             -
//   length             -             -             length        -
//   maskTexture        texture       texture       texture       texture
//   maskRotation       vector 1      vector 1      vector 1      vector 1
//   maskAngles         vector 1      vector 1      vector 1      vector 1
//   maskScale          vector 2      vector 2      vector 2      vector 2
//   ambientKind        -             -             -             the byte: "Two sided mode"
//   exclusionBits      -             -             -             the last word: the entity's
//                                                                block-rendering mask
//
// `direction` is the transform's third row (x, y, z; w 0): the way the light travels. A
// light set up before its first transform travels along +z.
//
// Only directional ambient lights (type 3) feed the ambient cube; the refresh skips the
// other types, whose colours, kind and exclusion bits no set-up fills.
//
// Threads: render thread only.
#include <cstdint>

#include "core/math/Matrix.h"
#include "core/math/Vector.h"

class DeviceObjectHandle;

// "Two sided mode": "Single sided", "Double sided" (the second colour lights the far
// side), "Gooch lighting" (half the first and half the second colour everywhere, before
// the side colour's weight).
enum : uint8_t { AMBIENT_KIND_PLAIN = 0, AMBIENT_KIND_TWO_COLOUR = 1, AMBIENT_KIND_BLENDED = 2 };

enum RendererLightType : uint32_t {
    LIGHT_TYPE_POINT = 0,
    LIGHT_TYPE_SPOT = 1,
    LIGHT_TYPE_TUBE = 2,
    LIGHT_TYPE_DIRECTIONAL_AMBIENT = 3,
};

// The arguments the point, spot and tube set-ups share.
struct RendererLightShape {
    Vector color{1, 1, 1, 1};
    float intensity = 1.0f;
    float innerRange = 0.0f;
    float outerRange = 0.0f;
    DeviceObjectHandle* texture = nullptr;  // the light keeps its own reference
    Vector maskRotation{};
    Vector maskScale{1, 1, 1, 1};
};

// The arguments of the directional ambient set-up.
struct RendererAmbientLightShape {
    Vector colors[3] = {};  // first, second (the far side), third (the side colour; w its weight)
    float intensity = 1.0f;
    float value = 0.0f;  // the wrap-around factor
    uint8_t flag = AMBIENT_KIND_PLAIN;
    DeviceObjectHandle* texture = nullptr;
    Vector maskRotation{};
    Vector maskScale{1, 1, 1, 1};
    uint32_t exclusionBits = 0;
};

struct RendererLight {
    // Read by the ambient cube refresh under these names.
    Vector direction{0, 0, 1, 0};
    Vector colors[3] = {Vector(1, 1, 1, 1), Vector(), Vector()};  // first, second, third
    Vector maskAngles{};    // the mask texture's orientation, degrees about x, y, z
    float scalars[2] = {0.0f, 0.0f};
    DeviceObjectHandle* maskTexture = nullptr;  // one reference held; none: no mask
    uint32_t exclusionBits = 0;                 // a light sharing a bit with the mask is left out
    uint8_t ambientKind = AMBIENT_KIND_PLAIN;

    RendererLight* previous = nullptr;
    RendererLight* next = nullptr;
    bool listed = false;

    // The rest of the record, in the lighting pass's order.
    Matrix transform;
    // The factors (distance² × x + y) and (cos × z + w): 1 at the inner range and cone,
    // 0 at the outer range and the cone's edge.
    float rangeScale = 0.0f, rangeOffset = 1.0f, coneScale = 0.0f, coneOffset = 0.0f;
    Vector maskRotation{};
    Vector maskScale{1, 1, 1, 1};
    float intensity = 1.0f;
    float innerRange = 0.0f, outerRange = 0.0f;  // world units before the transform's scale
    float coneAngle = 0.0f;                      // degrees
    float coneFalloff = 0.0f;                    // 0 to 1
    float length = 0.0f;                         // tube length
    uint32_t type = LIGHT_TYPE_POINT;
    bool shadowFlag = false;  // the mirrored winding of spot and tube lights

    RendererLight();  // identity transform, white, zero ranges and cone, no texture
    ~RendererLight();  // drops the texture reference and leaves the list
    RendererLight(const RendererLight&) = delete;
    RendererLight& operator=(const RendererLight&) = delete;

    // Each set-up stores its values, recomputes the attenuation, enters the list (or marks
    // it changed when already listed) and swaps the texture reference.
    void SetupPointLight(const RendererLightShape& shape);
    void SetupSpotLight(const RendererLightShape& shape, float coneAngleDegrees, float falloff);
    void SetupTubeLight(const RendererLightShape& shape, float tubeLength);
    void SetupDirectionalAmbientLight(const RendererAmbientLightShape& shape);
    void SetTransform(const Matrix& m);
    void Unlink();
    void UpdateAttenuation();

private:
    void StoreTexture(DeviceObjectHandle* texture);
    void UpdateShadowFlag();
    void EnterList();
};

class RendererLightList {
public:
    // At the tail, when not listed yet.
    void Append(RendererLight* light);
    // When listed.
    void Unlink(RendererLight* light);
    void MarkChanged() { ++changeCounter; }

    RendererLight* Head() const { return head; }
    uint32_t ChangeCounter() const { return changeCounter; }

private:
    RendererLight* head = nullptr;
    RendererLight* tail = nullptr;
    uint32_t changeCounter = 0;
};

extern RendererLightList gActiveLights;
