#pragma once
// Graphs: an entity whose flag children are path nodes, drawn as ribbons along their
// connections with arrow marks at the middle of each. Straight ribbons join nodes without
// control points; curved ones run through the control points as Catmull-Rom segments. The
// ribbon's texture coordinate follows the travelled distance from a start node.
//
// Any structural change (children, load, box update, a new connection) only marks the graph
// dirty; the next helper submission re-measures the connections and replaces the rendering
// context, which builds the whole geometry in one go on the main thread and then owns it.
//
// Entity and template: main thread. GraphEntityRenderingContext::Draw: render thread.
#include <cstdint>
#include <vector>

#include "core/math/BoundingBox4.h"
#include "core/math/Vector.h"
#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "render/scene/EntityRenderingContext.h"
#include "render/shaders/ShaderManager.h"

class FlagEntity;
class Resource;
class DeviceObjectHandle;

// Entity flag that asks for helper submission (the graph's rebuild point).
constexpr uint32_t kGraphUpdateRequest = 0x8;
// Enforced rendering bit every graph carries.
constexpr uint32_t kGraphRenderBit = 0x20;
// Batch sizes of the draw: straight segments, curve segments and arrows per batch.
constexpr uint32_t kGraphStraightBatch = 32;
constexpr uint32_t kGraphCurveBatch = 16;
constexpr uint32_t kGraphArrowBatch = 32;
// Vertex constant register of (Width, 1 / "Mappnig size", 0, 0).
constexpr uint32_t kGraphParameterRegister = 128;

enum : uint32_t { GRAPH_SHADERS_PLAIN = 0, GRAPH_SHADERS_CURVE = 1, GRAPH_SHADERS_ARROW = 2, GRAPH_SHADER_PAIRS = 3 };

class GraphTemplate : public EntityTemplate {
public:
    GraphTemplate();
    ~GraphTemplate() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // Resources loaded at once, then the entities notified.
    void OnPropertyChanged(const char* propertyName) override;
    bool LoadResource() override;
    const char* GetClassName() const override { return "GraphTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "GraphEntity"; }

    // Releases the texture and the three pairs, then takes them again for "Texture":
    // ("Graph", "" or "TEXTURE"), ("Graph", "CATMULL_ROM" or "TEXTURE CATMULL_ROM") and
    // ("Graph", "ARROW"). With wait the texture is loaded before returning.
    void RefreshResources(bool wait);
    // 1 / "Mappnig size"; a size not above 0 (or too small to invert) counts as 1.
    float MappingFactor() const;

    NameString nodeTemplate{"Graph/GraphNode"};  // "Node template"
    float width = 1.0f;                          // "Width"
    NameString texture;                          // "Texture"
    uint32_t blendMode = 0;                      // "Blend mode"
    float mappingSize = 10.0f;                   // "Mappnig size"
    bool cutOffNastyEnds = false;                // "Cut off nasty ends"

    Resource* textureResource = nullptr;
    ShaderPair shaders[GRAPH_SHADER_PAIRS];
};

// The geometry of one graph, in the graph's local space. The records are plain vectors, so
// each list is also the float array the draw writes into the vertex constants.
struct GraphGeometry {
    struct Straight {
        Vector start, end;  // w: the distance at each end
    };
    struct Curve {
        Vector points[4];  // w: d0, 0.75 d0 + 0.25 d1, 0.25 d0 + 0.75 d1, d1
    };
    struct Arrow {
        Vector position, direction;
    };
    std::vector<Straight> straights;
    std::vector<Curve> curves;
    std::vector<Arrow> arrows;
};
static_assert(sizeof(GraphGeometry::Straight) == 2 * sizeof(Vector));
static_assert(sizeof(GraphGeometry::Curve) == 4 * sizeof(Vector));
static_assert(sizeof(GraphGeometry::Arrow) == 2 * sizeof(Vector));

class GraphEntity : public Entity {
public:
    GraphEntity();
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    void AddChild(Entity* child) override;
    void RemoveChild(Entity* child) override;
    void OnLoaded(uint32_t options) override;
    // The rebuild point: when dirty, the connections are re-measured and the context made again.
    void DrawHelpers(uint32_t flags) override;
    EntityRenderingContext* CreateRenderingContext() override;
    void RefreshAfterChange() override { MarkDirty(); }

    // The local box of every node position raised by 0.4.
    void UpdateBox();
    // a gets a connection to b when both are different flag children of this graph.
    void Connect(FlagEntity* a, FlagEntity* b);
    // Two nodes from "Node template", connected both ways; false (and the error) when the
    // template does not make flags.
    bool CreateInEditor();
    // True when every node's id has its bit set in bits (wordCount 32-bit words).
    bool AreAllNodesIn(const uint32_t* bits, uint32_t wordCount) const;
    // The node bookkeeping (incoming counts, previous nodes, distances) and the geometry.
    void BuildGeometry(GraphGeometry& out);

    bool IsDirty() const { return dirty; }
    void MarkDirty();
    std::vector<FlagEntity*> Nodes() const;

    // "Local bounding box": the entity's own local box.
    BoundingBox4 LocalBox() const { return GetLocalBoundingBox(); }
    void SetLocalBox(const BoundingBox4& box) { SetLocalBoundingBox(box); }

private:
    bool dirty = true;
};

class GraphEntityRenderingContext : public EntityRenderingContext {
public:
    // Takes the geometry; with a graph template also its look (references of its own on
    // the shaders and the texture), otherwise width and mapping factor 1 and no geometry.
    GraphEntityRenderingContext(const EntityRenderingContextSetup& setup, GraphGeometry&& geometry,
                                const GraphTemplate* look);
    ~GraphEntityRenderingContext() override;
    void Draw(void* task, const Matrix& world, const RenderTaskArguments& arguments) override;

    const GraphGeometry& Geometry() const { return geometry; }
    float Width() const { return width; }
    float MappingFactor() const { return mappingFactor; }

private:
    GraphGeometry geometry;
    float width = 1.0f;
    float mappingFactor = 1.0f;
    uint32_t blendMode = 0;
    ShaderPair shaders[GRAPH_SHADER_PAIRS];
    Resource* texture = nullptr;
};
