#include "engine/navigation/Pathfinder.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/profiler/Profiler.h"
#include "engine/entity/Entity.h"  // the grid's obstacle list
#include "engine/entity/SceneGrid.h"
#include "engine/navigation/WalkMap.h"

using WalkMap::kNoTile;

namespace {

enum : uint16_t {
    kStateOpen = 1,
    kStateClosed = 2,
    kStateGoal = 4,
    kDirectionShift = 3,
    kDirectionMask = 7 << kDirectionShift,
    kSlotShift = 6,
};
static_assert(Pathfinder::kMaxOpenNodes < (1u << (16 - kSlotShift)), "heap slots fit the state word");

struct Neighbour {
    int32_t dx, dy;
    float factor;
};
constexpr Neighbour kNeighbours[8] = {
    {-1, -1, Pathfinder::kDiagonalCost}, {-1, 0, 1.0f}, {-1, 1, Pathfinder::kDiagonalCost},
    {0, -1, 1.0f},                       {0, 1, 1.0f},  {1, -1, Pathfinder::kDiagonalCost},
    {1, 0, 1.0f},                        {1, 1, Pathfinder::kDiagonalCost},
};

constexpr uint32_t kFloodReserve = 512;
constexpr uint16_t kLowStateBits = (1u << kSlotShift) - 1;

inline uint16_t& StateOf(uint16_t* states, uint32_t width, uint32_t tile) {
    return states[WalkMap::TileY(tile) * width + WalkMap::TileX(tile)];
}

// Notes a node's heap slot in its tile's state.
inline void SetSlot(uint16_t& state, uint32_t slot) { state = uint16_t((state & kLowStateBits) | slot << kSlotShift); }

float Distance(const Vector& a, const Vector& b) { return (a - b).Length3(); }

}  // namespace

uint32_t PathPointTile(const Vector& point) { return std::bit_cast<uint32_t>(point.w); }

Pathfinder::Pathfinder() {
    openList.Reserve(kOpenListReserve);
    Reset(nullptr);
}

void Pathfinder::Reset(SceneGrid* newGrid) {
    grid = newGrid;
    startTile = endTile = closestTile = kNoTile;
    startPosition = goalPosition = Vector(0, 0, 0, 1);
    maxCost = 0.0f;
    closestDistance = FLT_MAX;
    pushes = 0;
    flags = 0;
    openList.Clear();
    const bool usable = grid && WalkMap::IsUsableGrid(*grid);
    if (!usable || !tileStates.Resize(grid->Width() * grid->Height())) tileStates.Resize(0);
    if (tileStates.Count()) std::memset(tileStates.data, 0, tileStates.Count() * sizeof(uint16_t));
}

bool Pathfinder::HasGrid() const {
    return grid && tileStates.Count() != 0 && tileStates.Count() == grid->Width() * grid->Height();
}

Vector Pathfinder::Centre(uint32_t tile) const { return grid->CellToWorld(tile); }

inline float Pathfinder::Heuristic(uint32_t tile) const {
    // Centre(tile) less the goal, spelled out: this runs for every push.
    const Vector& origin = grid->Origin();
    const float size = grid->CellSize();
    const float dx = origin.x + size * float(WalkMap::TileX(tile)) - goalPosition.x;
    const float dy = origin.y - goalPosition.y;
    const float dz = origin.z + size * float(WalkMap::TileY(tile)) - goalPosition.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

uint32_t Pathfinder::FindNearestTile(const Vector& position) const {
    if (!HasGrid()) return kNoTile;
    const uint32_t cell = grid->WorldToCell(position);
    if (cell == SceneGrid::kNoCell) return kNoTile;
    const int32_t cx = int32_t(WalkMap::TileX(cell)), cy = int32_t(WalkMap::TileY(cell));
    const int32_t width = int32_t(grid->Width()), height = int32_t(grid->Height());
    const uint8_t* cells = grid->Cells();
    uint32_t best = kNoTile;
    float bestDistance = FLT_MAX;
    for (int32_t y = cy - kNearestTileReach; y <= cy + kNearestTileReach; ++y) {
        if (y < 0 || y >= height) continue;
        for (int32_t x = cx - kNearestTileReach; x <= cx + kNearestTileReach; ++x) {
            if (x < 0 || x >= width || !WalkMap::IsUsableCell(cells[y * width + x])) continue;
            const float d = Distance(grid->CellToWorld(uint32_t(x), uint32_t(y)), position);
            if (d < bestDistance) {
                bestDistance = d;
                best = WalkMap::MakeTile(uint32_t(x), uint32_t(y));
            }
        }
    }
    return best;
}

bool Pathfinder::FindPath(SceneGrid* newGrid, const Vector& start, const Vector& goal, uint32_t requestFlags,
                          float cost) {
    if (!newGrid) return false;
    Reset(newGrid);
    flags = requestFlags;
    startTile = FindNearestTile(start);
    if (startTile == kNoTile) {
        if (HasGrid())
            gLog.Error(LogCategory::Engine, "Cannot find path. Source tile cannot be found at position %f,%f,%f",
                       double(start.x), double(start.y), double(start.z));
        return false;
    }
    if (!MarkDestination(goal)) {
        gLog.Error(LogCategory::Engine, "Cannot find path. Destination tile cannot be found at position %f,%f,%f",
                   double(goal.x), double(goal.y), double(goal.z));
        startTile = kNoTile;
        return false;
    }
    startPosition = start;
    goalPosition = goal;
    maxCost = cost;
    uint16_t& state = StateOf(tileStates.data, grid->Width(), startTile);
    Push(startTile, 0.0f, Heuristic(startTile), state, state & kLowStateBits);
    return true;
}

bool Pathfinder::MarkDestination(const Vector& goal) {
    const uint32_t cell = grid->WorldToCell(goal);
    if (cell == SceneGrid::kNoCell) return false;
    const uint32_t width = grid->Width(), height = grid->Height();
    const uint8_t* cells = grid->Cells();
    const uint32_t first = WalkMap::TileY(cell) * width + WalkMap::TileX(cell);
    if (WalkMap::IsUsableCell(cells[first])) {
        tileStates[first] |= kStateGoal;
        return true;
    }
    // The usable ring around the unusable area that holds the goal.
    bool marked = false;
    Dynarray<uint32_t> stack;
    stack.Reserve(kFloodReserve);
    tileStates[first] |= kStateClosed;
    stack.Add(first);
    while (stack.Count()) {
        const uint32_t index = stack[--stack.count];
        const int32_t x = int32_t(index % width), y = int32_t(index / width);
        for (const Neighbour& n : kNeighbours) {
            const int32_t nx = x + n.dx, ny = y + n.dy;
            if (nx < 1 || ny < 1 || nx >= int32_t(width) - 1 || ny >= int32_t(height) - 1) continue;
            const uint32_t ni = uint32_t(ny) * width + uint32_t(nx);
            if (WalkMap::IsUsableCell(cells[ni])) {
                tileStates[ni] |= kStateGoal;
                marked = true;
            } else if (!(tileStates[ni] & kStateClosed)) {
                tileStates[ni] |= kStateClosed;
                stack.Add(ni);
            }
        }
    }
    return marked;
}

namespace {

// Moves the nodes above `slot` whose f exceeds the node's down one level each (writing each
// moved node's new slot once), then places the node in the hole left and gives its tile the
// state `low` with that slot.
inline void SiftUp(Pathfinder::Node* heap, uint16_t* states, uint32_t width, uint32_t slot,
                   const Pathfinder::Node node, uint16_t& nodeState, uint16_t low) {
    const float f = node.f;
    while (slot > 0) {
        const uint32_t parent = (slot - 1) / 2;
        if (!(heap[parent].f > f)) break;
        heap[slot] = heap[parent];
        SetSlot(StateOf(states, width, heap[slot].tile), slot);
        slot = parent;
    }
    heap[slot] = node;
    nodeState = uint16_t(low | slot << kSlotShift);
}

}  // namespace

inline void Pathfinder::Push(uint32_t tile, float g, float h, uint16_t& state, uint16_t low) {
    ++pushes;
    const uint32_t slot = openList.Count();
    const Node node{tile, g, h, g + h};
    if (openList.Add(node) == kDynarrayNone) {
        state = uint16_t((state & ~kLowStateBits) | low);
        return;
    }
    const uint32_t width = grid->Width();
    SiftUp(openList.data, tileStates.data, width, slot, node, state, uint16_t(low | kStateOpen));
    if (slot + 1 > kMaxOpenNodes) {
        const Node& dropped = openList[--openList.count];
        StateOf(tileStates.data, width, dropped.tile) &= ~kStateOpen;
    }
}

Pathfinder::Node Pathfinder::Pop() {
    Node* heap = openList.data;
    uint16_t* states = tileStates.data;
    const uint32_t width = grid->Width();
    const Node root = heap[0];
    StateOf(states, width, root.tile) &= ~kStateOpen;
    const uint32_t count = --openList.count;
    if (count) {
        const Node last = heap[count];
        const float f = last.f;
        uint32_t slot = 0;
        for (uint32_t child = 1; child < count; child = slot * 2 + 1) {
            if (child + 1 < count) child += heap[child + 1].f < heap[child].f;  // no branch on the pick
            if (!(f > heap[child].f)) break;
            heap[slot] = heap[child];
            SetSlot(StateOf(states, width, heap[slot].tile), slot);
            slot = child;
        }
        heap[slot] = last;
        SetSlot(StateOf(states, width, last.tile), slot);
    }
    return root;
}

template <bool kInside>
inline void Pathfinder::ExpandFrom(const Node& node) {
    const uint32_t width = grid->Width(), height = grid->Height();
    const uint32_t x = WalkMap::TileX(node.tile), y = WalkMap::TileY(node.tile);
    const uint32_t base = y * width + x;
    const uint8_t* cells = grid->Cells();
    uint16_t* states = tileStates.data;
    const float size = grid->CellSize();
    const float g0 = node.g;
    // The heuristic's terms, as Heuristic spells them.
    const Vector& origin = grid->Origin();
    const float ox = origin.x, oz = origin.z, gx = goalPosition.x, gz = goalPosition.z;
    const float dy = origin.y - goalPosition.y;
    const float dy2 = dy * dy;
#pragma GCC unroll 8
    for (uint32_t k = 0; k < 8; ++k) {
        const Neighbour& n = kNeighbours[k];
        const uint32_t nx = x + uint32_t(n.dx), ny = y + uint32_t(n.dy);  // -1 wraps past the border
        if (!kInside && (nx >= width || ny >= height)) continue;
        const uint32_t index = base + uint32_t(n.dy) * width + uint32_t(n.dx);
        if (!WalkMap::IsUsableCell(cells[index])) continue;
        uint16_t& state = states[index];
        const uint16_t s = state;
        if (s & kStateClosed) continue;
        const float g = g0 + n.factor * size;
        const uint16_t low = uint16_t((s & kLowStateBits & ~kDirectionMask) | k << kDirectionShift);
        if (!(s & kStateOpen)) {
            const float dx = ox + size * float(nx) - gx;
            const float dz = oz + size * float(ny) - gz;
            Push(WalkMap::MakeTile(nx, ny), g, std::sqrt(dx * dx + dy2 + dz * dz), state, low);
        } else {
            const uint32_t slot = s >> kSlotShift;
            Node& open = openList.data[slot];
            if (open.g > g) {
                open.g = g;
                open.f = open.h + g;
                SiftUp(openList.data, states, width, slot, open, state, low);
            }
        }
    }
}

void Pathfinder::Expand(const Node& node) {
    const uint32_t x = WalkMap::TileX(node.tile), y = WalkMap::TileY(node.tile);
    // Tiles off the border need no bounds test.
    if (x > 0 && y > 0 && x + 1 < grid->Width() && y + 1 < grid->Height())
        ExpandFrom<true>(node);
    else
        ExpandFrom<false>(node);
}

bool Pathfinder::IsFinalGoal(uint32_t tile) {
    const int32_t width = int32_t(grid->Width()), height = int32_t(grid->Height());
    auto forNeighbours = [&](uint32_t t, auto visit) {
        const int32_t x = int32_t(WalkMap::TileX(t)), y = int32_t(WalkMap::TileY(t));
        for (const Neighbour& n : kNeighbours) {
            const int32_t nx = x + n.dx, ny = y + n.dy;
            if (nx >= 0 && ny >= 0 && nx < width && ny < height) visit(uint32_t(nx), uint32_t(ny));
        }
    };
    bool alone = true;
    forNeighbours(tile, [&](uint32_t x, uint32_t y) {
        if (tileStates[y * uint32_t(width) + x] & kStateGoal) alone = false;
    });
    if (alone) return true;
    // Several goal tiles touch: only the one nearest the goal position stays a goal.
    auto stateOf = [&](uint32_t t) -> uint16_t& {
        return tileStates[WalkMap::TileY(t) * uint32_t(width) + WalkMap::TileX(t)];
    };
    uint32_t nearest = tile;
    float nearestDistance = Heuristic(tile);
    stateOf(tile) &= ~kStateGoal;
    Dynarray<uint32_t> stack;
    stack.Reserve(kFloodReserve);
    stack.Add(tile);
    while (stack.Count()) {
        const uint32_t t = stack[--stack.count];
        forNeighbours(t, [&](uint32_t x, uint32_t y) {
            const uint32_t n = WalkMap::MakeTile(x, y);
            uint16_t& state = stateOf(n);
            if (!(state & kStateGoal)) return;
            state &= ~kStateGoal;
            const float d = Heuristic(n);
            if (d < nearestDistance) {
                nearestDistance = d;
                nearest = n;
            }
            stack.Add(n);
        });
    }
    stateOf(nearest) |= kStateGoal;
    return nearest == tile;
}

bool Pathfinder::Step(uint32_t budget) {
    if (!HasGrid() || endTile != kNoTile) return false;
    gProfiler.StartTimer(PROFILE_PATHFINDING, PROFILER_THREAD_MAIN);
    uint32_t taken = 0;
    const uint32_t width = grid->Width();
    while (openList.Count()) {
        if (taken > budget) {
            gProfiler.StopTimer(PROFILE_PATHFINDING, PROFILER_THREAD_MAIN);
            return true;
        }
        const Node node = Pop();
        ++taken;
        if (node.h < closestDistance) {
            closestDistance = node.h;
            closestTile = node.tile;
        }
        uint16_t& state = tileStates[WalkMap::TileY(node.tile) * width + WalkMap::TileX(node.tile)];
        state |= kStateClosed;
        if ((state & kStateGoal) && IsFinalGoal(node.tile)) {
            endTile = node.tile;
            break;
        }
        if (node.g < maxCost) Expand(node);
    }
    if (endTile == kNoTile) endTile = closestTile;
    gProfiler.StopTimer(PROFILE_PATHFINDING, PROFILER_THREAD_MAIN);
    return false;
}

bool Pathfinder::GetPath(Dynarray<Vector>& out) const {
    out.Clear();
    if (endTile == kNoTile || !HasGrid()) return false;
    const uint32_t width = grid->Width(), height = grid->Height();
    // Every tile on the way back was closed after its parent, so the walk ends at the
    // start; the guard only bounds it.
    uint32_t tile = endTile;
    for (uint64_t guard = uint64_t(width) * height; tile != startTile; --guard) {
        Vector centre = Centre(tile);
        centre.w = std::bit_cast<float>(tile);
        const Neighbour& n = kNeighbours[(tileStates[WalkMap::TileY(tile) * width + WalkMap::TileX(tile)] &
                                          kDirectionMask) >> kDirectionShift];
        const int32_t x = int32_t(WalkMap::TileX(tile)) - n.dx, y = int32_t(WalkMap::TileY(tile)) - n.dy;
        if (guard == 0 || x < 0 || y < 0 || x >= int32_t(width) || y >= int32_t(height) ||
            out.Add(centre) == kDynarrayNone) {
            out.Clear();
            return false;
        }
        tile = WalkMap::MakeTile(uint32_t(x), uint32_t(y));
    }
    Vector start = startPosition;
    start.w = std::bit_cast<float>(startTile);
    if (out.Add(start) == kDynarrayNone) {
        out.Clear();
        return false;
    }
    std::reverse(out.begin(), out.end());
    return true;
}

void SmoothPath(Dynarray<Vector>& path) {
    constexpr int32_t kReach = 9;
    constexpr float kTwoSigmaSquared = 20.48f;           // sigma 3.2
    constexpr float kNormaliser = 3.2f * 2.50662827f;    // sigma x sqrt(2 pi)
    constexpr float kTurnLimit = -0.3f;
    const int32_t count = int32_t(path.Count());
    if (count <= 2) return;
    float weights[kReach + 1];
    for (int32_t i = 0; i <= kReach; ++i) weights[i] = std::exp(-float(i * i) / kTwoSigmaSquared) / kNormaliser;
    const Dynarray<Vector> source = path;
    for (int32_t j = 1; j < count - 1; ++j) {
        const Vector& p = source[j];
        const int32_t reach = std::min({j, count - 1 - j, kReach});
        Vector sum = p * weights[0];
        float weight = weights[0];
        for (int32_t i = 1; i <= reach; ++i) {
            const Vector& a = source[j - i];
            const Vector& b = source[j + i];
            if ((p - a).Dot3(b - p) > kTurnLimit) {
                sum += (a + b) * weights[i];
                weight += 2.0f * weights[i];
            }
        }
        path[j] = Vector(sum.x / weight, sum.y / weight, sum.z / weight, p.w);
    }
}
