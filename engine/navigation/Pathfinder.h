#pragma once
// Pathfinder: A* over the walk map's tiles with eight neighbours, run in slices of a
// fixed number of node expansions per call, so that a character's search spreads over
// frames. When the goal cannot be reached the path leads to the popped tile nearest the
// goal.
//
// A search: FindPath starts it, Step runs slices until it returns false, GetPath yields
// the points from the exact start position through the centres of the tiles to the end
// tile. Each point's w carries its tile id (bit pattern, see PathPointTile).
//
// The open list is a binary heap on f whose slot of each node lives in the tile's state
// word, so lowering a key needs no search. It holds at most 1022 nodes: a push that would
// make 1023 drops the node in the last array slot.
//
// Threads: main thread only (the search's profiler section is "Pathfinding").
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Vector.h"

class SceneGrid;

class Pathfinder {
public:
    static constexpr uint32_t kOpenListReserve = 4096;
    static constexpr uint32_t kMaxOpenNodes = 1022;
    // FindNearestTile looks this many cells each way from the position's cell.
    static constexpr int32_t kNearestTileReach = 5;
    static constexpr float kDiagonalCost = 1.41421f;

    struct Node {
        uint32_t tile;  // x in the low 16 bits, y in the high 16
        float g;        // cost from the start
        float h;        // estimate to the goal
        float f;        // g + h
    };
    static_assert(sizeof(Node) == 16, "a node is 16 bytes");

    Pathfinder();

    // Binds the grid (null allowed) and forgets any search.
    void Reset(SceneGrid* grid);
    // Starts a search from the usable tile nearest the start to the goal's tile (or, when
    // that tile is not usable, to the usable ring around the unusable area holding it).
    // Nodes whose cost has reached maxCost are not expanded. False, with one error line,
    // when there is no start or no goal tile; false without a line for no grid.
    bool FindPath(SceneGrid* grid, const Vector& start, const Vector& goal, uint32_t requestFlags, float maxCost);
    // Takes at most budget + 1 nodes; true while the search is unfinished.
    bool Step(uint32_t budget);
    // The path of the finished search; false (and out empty) when there is none.
    bool GetPath(Dynarray<Vector>& out) const;
    // The usable tile within 5 cells each way of the position's cell whose centre is
    // nearest the position (the first found keeps a tie), or kNoTile.
    uint32_t FindNearestTile(const Vector& position) const;

    uint32_t StartTile() const { return startTile; }
    uint32_t EndTile() const { return endTile; }
    // Nodes pushed since the last reset.
    uint32_t Pushes() const { return pushes; }
    // The cost limit of the last search started (0 after a reset).
    float MaxCost() const { return maxCost; }
    uint32_t OpenCount() const { return openList.Count(); }
    const SceneGrid* Grid() const { return grid; }

private:
    // A grid that changed size since the reset (one made anew where the old one was)
    // counts as none: the tile states no longer fit it.
    bool HasGrid() const;
    Vector Centre(uint32_t tile) const;
    float Heuristic(uint32_t tile) const;
    bool MarkDestination(const Vector& goal);
    bool IsFinalGoal(uint32_t tile);
    // Opens a tile whose state word is `state`, giving it the low state bits `low`.
    void Push(uint32_t tile, float g, float h, uint16_t& state, uint16_t low);
    Node Pop();
    void Expand(const Node& node);
    template <bool kInside>
    void ExpandFrom(const Node& node);

    uint32_t pushes = 0;
    uint32_t flags = 0;
    Dynarray<Node> openList;
    uint32_t startTile;
    uint32_t endTile;
    uint32_t closestTile;
    Vector startPosition;
    Vector goalPosition;
    float maxCost = 0.0f;
    float closestDistance;
    SceneGrid* grid = nullptr;
    // Per cell: bit 0 open, bit 1 closed (also the destination flood's visited mark), bit 2
    // goal, bits 3-5 the neighbour index by which the tile was reached, bits 6-15 its heap
    // slot.
    Dynarray<uint16_t> tileStates;
};

// The tile id a path point carries in its w.
uint32_t PathPointTile(const Vector& point);

// Gaussian smoothing (sigma 3.2 cells of the path, up to 9 points each way) of a path of
// more than two points: each inner point becomes the weighted mean of itself and the pairs
// of points around it whose turn is not sharper than the dot product -0.3 allows. The ends
// stay, and every point keeps its w.
void SmoothPath(Dynarray<Vector>& path);
