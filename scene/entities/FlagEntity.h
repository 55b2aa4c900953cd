#pragma once
// Path flags: nodes that units walk between. A FlagEntity holds at most one connection per
// neighbour; a connection runs from this flag S through its control points to the
// destination D as uniform Catmull-Rom segments and knows its length. Positions are in the
// flags' parent space; the global queries carry them through the parent's world matrix.
//
// The length is measured with S and D repeated as the outer points; placement and the
// nearest-point query use p0 (from the previous flag's connection into S) and p3 (from
// D's onward connection), so a unit's path bends smoothly through a flag.
//
// Main thread only. Graph entities add and re-measure connections and keep their
// per-node bookkeeping on the flag.
#include <cstdint>
#include <vector>

#include "core/Dynarray.h"
#include "core/math/Matrix.h"
#include "core/math/Vector.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"

class RTTIClass;
class FlagEntity;

// Samples per segment of the arc-length table and of the length measurement.
constexpr uint32_t kFlagArcTableSize = 256;

class FlagTemplate : public EntityTemplate {
public:
    FlagTemplate();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Resets the box from "Size", then notifies the entities.
    void OnPropertyChanged(const char* propertyName) override;
    void OnLoaded(uint32_t options) override { ResetBoundingBox(); }
    const char* GetClassName() const override { return "FlagTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "FlagEntity"; }
    // The flag marker at scale("Size") x m: white with flag 2, else the "Wireframe color"
    // (a flag template starts with (0.3, 0.3, 1, 1)); flag 4 asks for the depth test.
    bool DrawHelper(const Matrix& m, const Vector& colour, uint32_t flags, const char* presetName) override;
    void ResetBoundingBox();

    float size = 1.0f;  // "Size"
};

struct FlagEntityConnectionControlPoint {
    static const RTTIClass* RegisterClass();
    Vector3 position;       // "Position", in the flags' parent space
    float distance = 0.0f;  // "Distance" from the start of the connection
};

class FlagEntityConnection {
public:
    FlagEntityConnection() = default;
    FlagEntityConnection(const FlagEntityConnection& o);
    FlagEntityConnection& operator=(const FlagEntityConnection& o);
    static const RTTIClass* RegisterClass();

    // "Length" (and each inner point's "Distance") measured from start to end.
    void RecomputeLength(const Vector& start, const Vector& end);
    // The placement at distance d on the curve p0, S, control points, D, p3: position in
    // row 3, facing along the curve. Never a non-finite matrix.
    void GetPositionAtDistance(float d, const Vector& p0, const Vector& s, const Vector& dest, const Vector& p3,
                               Matrix& out, bool wrap) const;
    // The short form: S and D as the outer points, no wrap, the position only.
    void GetPositionAtDistance(float d, const Vector& s, const Vector& dest, Vector& position) const;
    // The distance along the curve nearest to point (all in parent space); 0 without
    // control points.
    float GetDistanceNearestTo(const Vector& point, const Vector& p0, const Vector& s, const Vector& dest,
                               const Vector& p3) const;

    uint32_t PointCount() const { return controlPoints.Count(); }
    Vector PointAt(uint32_t i) const;

    SafePointer<FlagEntity> destination;                            // "Destination"
    DynarraySafe<FlagEntityConnectionControlPoint> controlPoints;  // "Control points"
    float length = 0.0f;                                            // "Length"

private:
    struct ArcTable {
        Vector points[4];
        float table[kFlagArcTableSize];
        // first[b]: the first j >= 1 with table[j] >= b / 256, where the search for a u
        // in bucket b starts.
        uint8_t first[kFlagArcTableSize];
    };
    // The segment's normalised cumulative lengths, cached while its four points hold.
    const ArcTable* ArcTableFor(uint32_t segment, const Vector* points) const;
    mutable std::vector<ArcTable> arcTables;
};

class FlagEntity : public Entity {
public:
    FlagEntity() = default;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Copies the template's box into the local box.
    void RefreshAfterChange() override;
    // Drops connections whose destination is gone before writing.
    uint32_t SolidSerialize(uint8_t* buffer, uint32_t options) const override;

    // ---- Graph operations ----
    // Nothing when a connection to d exists; copies d's reversed curve when d connects back.
    void AddConnection(FlagEntity* d);
    // Re-measures every live connection and drops the dead ones (order kept).
    void RecomputeConnections();
    void PruneDeadConnections();
    FlagEntityConnection* FindConnection(const FlagEntity* d);
    const FlagEntityConnection* FindConnection(const FlagEntity* d) const;
    static FlagEntityConnection* FindConnection(FlagEntity* from, const FlagEntity* to) {
        return from ? from->FindConnection(to) : nullptr;
    }
    // The outer points of a connection to d (previous may be null).
    Vector OuterBefore(const FlagEntity* previous) const;
    Vector OuterAfter(const FlagEntity* d) const;

    // ---- Script methods ----
    uint32_t GetNeighbourCount() const { return connections.Count(); }
    // Null out of range or with a dead destination.
    FlagEntity* GetNeighbour(uint32_t i) const;
    bool HasNeighbour(const FlagEntity* flag) const { return FindConnection(flag) != nullptr; }
    float GetNeighbourDistance(const FlagEntity* flag) const;
    float GetNeighbourDistance(uint32_t i) const;
    void GetGlobalPositionOnPath(const FlagEntity* flag, float distance, Matrix& out, bool wrap,
                                 const FlagEntity* previous) const;
    void GetGlobalPositionOnPath(uint32_t i, float distance, Matrix& out, bool wrap, const FlagEntity* previous) const;
    float GetPathPositionNearestToGlobalPoint(const FlagEntity* flag, const Vector& point,
                                              const FlagEntity* previous) const;
    float GetPathPositionNearestToGlobalPoint(uint32_t i, const Vector& point, const FlagEntity* previous) const;

    DynarraySafe<FlagEntityConnection> connections;  // "Connections"

    // Graph bookkeeping, written by the graph that owns the flag.
    uint32_t incomingCount = 0;
    FlagEntity* previousNode = nullptr;
    float graphDistance = 0.0f;
    uint32_t nodeId = 0;

private:
    void PlaceOn(const FlagEntityConnection* c, float distance, Matrix& out, bool wrap,
                 const FlagEntity* previous) const;
    float NearestOn(const FlagEntityConnection* c, const Vector& point, const FlagEntity* previous) const;
};
