#pragma once
// ZKRPathRendererEntity: the route the squad will take, as a smoothed polyline that its
// rendering context draws as a ribbon with a travelling signal.
//
// Scripts build the route segment by segment between flags (BeginPath, AddGraphSegment
// for each pair, FinishPath), choose the tactical or battlefield look
// (SetBattlefieldMode, in force from the next context) and keep the squad's place up to
// date (ResetSquadPosition, UpdateSquadPosition), which moves where the signal starts.
// FinishPath smooths and offsets the route (PathRoute.h) and makes a new rendering
// context, which takes a copy of the points to the render thread.
//
// Threads: main thread only.
#include <cstdint>
#include <vector>

#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "game/kinds/GameKindSupport.h"

class FlagEntity;

// The render-state bit every path renderer carries.
constexpr uint32_t kPathRendererRenderBit = 0x20;
// Squad point index while the script has placed none.
constexpr uint32_t kPathNoSquadPoint = 4294967295u;

class ZKRPathRendererEntity : public Entity {
public:
    ZKRPathRendererEntity();

    ZKR_GAME_CLASS_BOILERPLATE()
    EntityRenderingContext* CreateRenderingContext() override;

    // ---- Script methods ----
    void BeginPath();
    // Samples the connection from a to b every 2.5 units (the remainder gap in the
    // middle) with the given offset (at least 1e-6). squadHere puts the squad at the
    // segment's first point; markStart and markEnd mark the segment's first point and the
    // end point as boundaries. Nothing happens unless both flags are set, share their
    // graph, a connects to b and the connection has a length.
    void AddGraphSegment(FlagEntity* a, FlagEntity* b, float offset, bool squadHere, bool markStart, bool markEnd);
    void FinishPath();
    void SetBattlefieldMode(bool on) { battlefieldMode = on; }
    void ResetSquadPosition(const Vector& position, const Vector& direction);
    void UpdateSquadPosition(const Vector& position);

    // After the template set up its resources again: a live rendering context is made
    // again, so that it draws with the new resources and look.
    void OnTemplateResourcesChanged();

    // ---- State (tests, the rendering context) ----
    const std::vector<Vector>& Points() const { return points; }
    const Vector& EndPoint() const { return endPoint; }
    float SquadDistance() const { return squadDistance; }
    float SquadRawDistance() const { return squadRawDistance; }
    uint32_t SquadPointIndex() const { return squadPointIndex; }
    float SquadLimit() const { return squadLimit; }
    uint32_t SquadSegment() const { return squadSegment; }
    float SquadSegmentStart() const { return squadSegmentStart; }
    bool IsBattlefieldMode() const { return battlefieldMode; }
    bool IsClosed() const { return closed; }

private:
    // The template's smoothing deviation (3.2 without a path renderer template).
    float Smoothness() const;
    // Stores the distance (raw and clamped to the squad limit) and tells the context.
    void SetSquadDistance(float distance);
    // The sampled point of connection at distance d, in world space.
    Vector ConnectionPoint(const void* connection, const FlagEntity* a, const FlagEntity* b, float d) const;

    std::vector<Vector> points;
    std::vector<Vector> spare;  // the smoothing's output, kept between routes
    Vector endPoint{0, 0, 0, 0};
    float squadDistance = 0.0f;
    float squadRawDistance = 0.0f;
    uint32_t squadPointIndex = 0;
    float squadLimit = 0.0f;
    uint32_t squadSegment = 0;
    float squadSegmentStart = 0.0f;
    bool battlefieldMode = false;
    bool closed = false;
    bool warnedNonFinite = false;
};
