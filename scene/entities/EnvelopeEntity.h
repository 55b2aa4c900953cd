#pragma once
// Envelope entities: a named, editable curve placed in a scene for scripts to play. The
// envelope lives in the template and is shared by every entity of it; each entity keeps
// only its own playback state, which starts at time 0, moves when a script advances it and
// restarts on Reset or when the template changes (the broken-loop mask is kept).
//
// Main thread only.
#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "scene/envelopes/Envelope.h"

class VectorEnvelopeTemplate : public EntityTemplate {
public:
    VectorEnvelopeTemplate();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "VectorEnvelopeTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "VectorEnvelopeEntity"; }

    TEnvelope<Vector> envelope{ENVELOPE_COMBINE_MULTIPLY};  // "Envelope"
};

class ColorEnvelopeTemplate : public EntityTemplate {
public:
    ColorEnvelopeTemplate();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ColorEnvelopeTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ColorEnvelopeEntity"; }

    TEnvelope<HDRColor> envelope{ENVELOPE_COMBINE_MULTIPLY};  // "Envelope"
};

// No script methods: scripts read the template's envelope with their own state.
class VectorEnvelopeEntity : public Entity {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // The base refresh, then the playback restarts.
    void RefreshAfterChange() override;

    EnvelopeState state;
};

class ColorEnvelopeEntity : public Entity {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    void RefreshAfterChange() override;

    // ---- Script methods ----
    // True once the playback has passed the last key (at once without keys or template).
    bool Advance(float seconds);
    void Reset() { state.Reset(); }
    // The colour at the playback time, linear (raised to 2.2 under the gamma flag).
    void GetLinearColor(Vector& out) const;

    EnvelopeState state;
};
