// Graph template, graph entity (node bookkeeping and the geometry build) and the graph's
// rendering context.
#include "scene/entities/GraphEntity.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_set>

#include "core/Log.h"
#include "core/math/MathHelpers.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityManager.h"
#include "platform/gfx/GfxTypes.h"
#include "render/VertexDeclarationCache.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/ResourceShader.h"
#include "scene/entities/FlagEntity.h"

namespace {

RTTIClass* gGraphTemplateClass = nullptr;
RTTIClass* gGraphEntityClass = nullptr;

const char kGraphBlendModes[] = "None\0Alpha\0Add\0Add+Alpha\0Inv alpha\0Subtract\0Modulate\0Modulate inv\0Min\0";
constexpr const char* kGraphTextureFolder = "Textures";
constexpr uint32_t kGraphTextureFlags = 2048;
constexpr uint32_t kGraphBlendFlags = 128;
constexpr uint32_t kGraphLocalBoxFlags = 2;
constexpr uint32_t kGraphHighlight = 2;   // draw flag: colour doubled
constexpr uint32_t kGraphDrawArrows = 8;  // draw flag
constexpr float kGraphStraightLift = 0.25f;
constexpr float kGraphBoxLift = 0.4f;
constexpr float kGraphArrowOffset = 0.3f;
constexpr uint32_t kGraphCurvePoints = 64;  // strip points of one curve segment

Vector Lifted(const Vector& p, float y) { return Vector(p.x, p.y + y, p.z, p.w); }

Vector WithW(const Vector& p, float w) { return Vector(p.x, p.y, p.z, w); }

Vector Normalised(Vector v) {
    v.w = 0.0f;
    const float l = v.Length3();
    return l > 0.0f && std::isfinite(l) ? v * (1.0f / l) : Vector(0, 0, 0, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------
// GraphTemplate

GraphTemplate::GraphTemplate() {
    typeId = ENTITY_GRAPH;
    wireframeColor.SetFromVector(Vector(0.22745098f, 0.7019608f, 0.8392157f, 1.0f));
}

GraphTemplate::~GraphTemplate() {
    for (ShaderPair& p : shaders) p.Release();
    if (textureResource) textureResource->Release();
}

const RTTIClass* GraphTemplate::RegisterClass() {
    if (gGraphTemplateClass) return gGraphTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gGraphTemplateClass, "GraphTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new GraphTemplate(); });
    using G = GraphTemplate;
    AddDirect<NameString>(c, "Node template", RTTI_OFFSETOF(G, nodeTemplate));
    AddDirect<float>(c, "Width", RTTI_OFFSETOF(G, width));
    AddDirect<NameString>(c, "Texture", RTTI_OFFSETOF(G, texture), kGraphTextureFlags, kGraphTextureFolder);
    AddDirect<uint32_t>(c, "Blend mode", RTTI_OFFSETOF(G, blendMode), kGraphBlendFlags, kGraphBlendModes);
    AddDirect<float>(c, "Mappnig size", RTTI_OFFSETOF(G, mappingSize));
    AddDirect<bool>(c, "Cut off nasty ends", RTTI_OFFSETOF(G, cutOffNastyEnds));
    return c;
}

const RTTIClass* GraphTemplate::GetRTTIClass() const { return RegisterClass(); }

Entity* GraphTemplate::CreateEntity() { return new GraphEntity(); }

float GraphTemplate::MappingFactor() const {
    const float factor = mappingSize > 0.0f ? 1.0f / mappingSize : 1.0f;
    return std::isfinite(factor) ? factor : 1.0f;  // a size too small to invert counts as 1 too
}

void GraphTemplate::RefreshResources(bool wait) {
    if (textureResource) textureResource->Release();
    textureResource = nullptr;
    for (ShaderPair& p : shaders) p.Release();
    const bool textured = !texture.IsEmpty();
    if (textured) {
        textureResource = gResourceManager.GetResource(RESOURCE_TEXTURE, texture.CStr(), 0, true, 0);
        if (textureResource) textureResource->Load(wait);
    }
    shaders[GRAPH_SHADERS_PLAIN].Acquire("Graph", textured ? "TEXTURE" : "", 0);
    shaders[GRAPH_SHADERS_CURVE].Acquire("Graph", textured ? "TEXTURE CATMULL_ROM" : "CATMULL_ROM", 0);
    shaders[GRAPH_SHADERS_ARROW].Acquire("Graph", "ARROW", 0);
}

void GraphTemplate::OnPropertyChanged(const char*) {
    RefreshResources(true);
    NotifyEntitiesOfChange();
}

bool GraphTemplate::LoadResource() {
    const bool loaded = EntityTemplate::LoadResource();
    if (loaded) RefreshResources(false);
    return loaded;
}

// ---------------------------------------------------------------------------------
// GraphEntity

GraphEntity::GraphEntity() {
    SetEnforcedRenderingBits(0, kGraphRenderBit);
    RaiseFlag(kGraphUpdateRequest, false);
}

const RTTIClass* GraphEntity::RegisterClass() {
    if (gGraphEntityClass) return gGraphEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gGraphEntityClass, "GraphEntity", "Entity");
    c->AddProperty(new RTTISGProperty<BoundingBox4, GraphEntity>("Local bounding box", &GraphEntity::LocalBox,
                                                                 &GraphEntity::SetLocalBox, kGraphLocalBoxFlags));
    return c;
}

const RTTIClass* GraphEntity::GetRTTIClass() const { return RegisterClass(); }

void GraphEntity::MarkDirty() {
    dirty = true;
    RaiseFlag(kGraphUpdateRequest, false);
}

void GraphEntity::AddChild(Entity* child) {
    Entity::AddChild(child);
    MarkDirty();
}

void GraphEntity::RemoveChild(Entity* child) {
    Entity::RemoveChild(child);
    MarkDirty();
}

void GraphEntity::OnLoaded(uint32_t options) {
    Entity::OnLoaded(options);
    MarkDirty();
    PropagateGlobalLocation();
}

std::vector<FlagEntity*> GraphEntity::Nodes() const {
    std::vector<FlagEntity*> out;
    for (uint32_t i = 0; i < GetChildrenCount(); ++i)
        if (auto* f = dynamic_cast<FlagEntity*>(GetChild(i))) out.push_back(f);
    return out;
}

void GraphEntity::UpdateBox() {
    BoundingBox4 box = BoundingBox4::INVALID;
    bool any = false;
    for (FlagEntity* f : Nodes()) {
        box.Expand(Lifted(f->GetLocalPosition(), kGraphBoxLift));
        any = true;
    }
    if (any) SetLocalBoundingBox(box);
    MarkDirty();
    PropagateGlobalLocation();
}

void GraphEntity::DrawHelpers(uint32_t flags) {
    Entity::DrawHelpers(flags);
    if (!dirty) return;
    dirty = false;
    for (FlagEntity* f : Nodes()) f->RecomputeConnections();
    ClearFlag(kGraphUpdateRequest, false);
    RecreateRenderingContext(true);
}

void GraphEntity::Connect(FlagEntity* a, FlagEntity* b) {
    if (!a || !b || a == b || a->GetParent() != this || b->GetParent() != this) return;
    a->AddConnection(b);
    MarkDirty();
}

bool GraphEntity::CreateInEditor() {
    const auto* t = dynamic_cast<const GraphTemplate*>(GetTemplate());
    const char* name = t ? t->nodeTemplate.CStr() : "";
    if (!name) name = "";
    Entity* made[2] = {};
    bool valid = true;
    for (int i = 0; i < 2 && valid; ++i) {
        Matrix m;
        m.LoadTranslation(0, 0, float(i));
        made[i] = gEntityManager->CreateEntity(name, this, m, 0, nullptr);
        valid = dynamic_cast<FlagEntity*>(made[i]) != nullptr;
    }
    if (!valid) {
        for (Entity* e : made)
            if (e) gEntityManager->DestroyEntity(e);
        gLog.Error(LogCategory::UI,
                   "Cannot create graph because the 'Node template' property is invalid (%s). It should define a "
                   "full path to a valid Flag template.",
                   name);
        return false;
    }
    auto* a = static_cast<FlagEntity*>(made[0]);
    auto* b = static_cast<FlagEntity*>(made[1]);
    a->MakeUniqueName();
    b->MakeUniqueName();
    Connect(a, b);
    Connect(b, a);
    return true;
}

bool GraphEntity::AreAllNodesIn(const uint32_t* bits, uint32_t wordCount) const {
    for (FlagEntity* f : Nodes()) {
        const uint32_t id = f->nodeId;
        if (id / 32 >= wordCount || !bits || !(bits[id / 32] & (1u << (id % 32)))) return false;
    }
    return true;
}

EntityRenderingContext* GraphEntity::CreateRenderingContext() {
    GraphGeometry geometry;
    BuildGeometry(geometry);
    EntityRenderingContextSetup s;
    FillRenderingContextSetup(s, 0, 0);
    return new GraphEntityRenderingContext(s, std::move(geometry), dynamic_cast<const GraphTemplate*>(GetTemplate()));
}

void GraphEntity::BuildGeometry(GraphGeometry& out) {
    out = GraphGeometry{};
    const std::vector<FlagEntity*> nodes = Nodes();
    std::unordered_set<const FlagEntity*> members(nodes.begin(), nodes.end());
    const auto indexOf = [&](const FlagEntity* f) {
        return static_cast<size_t>(std::find(nodes.begin(), nodes.end(), f) - nodes.begin());
    };
    // Incoming counts and previous nodes, counting only destinations in this graph.
    for (FlagEntity* f : nodes) {
        f->incomingCount = 0;
        f->previousNode = nullptr;
        f->nodeId = f->GetReusableId();
    }
    for (FlagEntity* f : nodes)
        for (const FlagEntityConnection& c : f->connections) {
            FlagEntity* d = c.destination.Get();
            if (!d || !members.count(d)) continue;
            ++d->incomingCount;
            if (!d->previousNode) d->previousNode = f;
        }
    // Distances, breadth first from the start; the start is visited when queued, so in a
    // cycle it keeps 0.
    FlagEntity* start = nullptr;
    for (FlagEntity* f : nodes)
        if (f->incomingCount == 0) {
            start = f;
            break;
        }
    if (!start)
        for (FlagEntity* f : nodes)
            if (f->connections.Count() == 1) {
                start = f;
                break;
            }
    if (start) {
        std::unordered_set<const FlagEntity*> visited{start};
        std::deque<FlagEntity*> queue{start};
        start->graphDistance = 0.0f;
        while (!queue.empty()) {
            FlagEntity* n = queue.front();
            queue.pop_front();
            for (const FlagEntityConnection& c : n->connections) {
                FlagEntity* d = c.destination.Get();
                if (!d || visited.count(d)) continue;
                d->graphDistance = n->graphDistance + c.length;
                visited.insert(d);
                queue.push_back(d);
            }
        }
    }
    const auto* look = dynamic_cast<const GraphTemplate*>(GetTemplate());
    const bool cutEnds = look && look->cutOffNastyEnds;
    for (size_t ni = 0; ni < nodes.size(); ++ni) {
        FlagEntity* n = nodes[ni];
        for (const FlagEntityConnection& c : n->connections) {
            FlagEntity* d = c.destination.Get();
            if (!d) continue;
            const bool both = d->FindConnection(n) != nullptr;
            // A pair is built once, from the node that comes first among the children.
            if (both && members.count(d) && indexOf(d) < ni) continue;
            const Vector np = n->GetLocalPosition(), dp = d->GetLocalPosition();
            const uint32_t k = c.PointCount();
            Vector middle, direction;
            if (k == 0) {
                out.straights.push_back({WithW(Lifted(np, kGraphStraightLift), n->graphDistance),
                                         WithW(Lifted(dp, kGraphStraightLift), d->graphDistance)});
                middle = (np + dp) * 0.5f;
                direction = dp - np;
            } else {
                // The real neighbour points before N and after D, when there are any.
                bool realBefore = false, realAfter = false;
                Vector before = np, after = dp;
                FlagEntity* p = n->previousNode;
                if (n->incomingCount == 1 && p && p != d)
                    if (const FlagEntityConnection* pc = p->FindConnection(n)) {
                        before = pc->PointCount() ? pc->PointAt(pc->PointCount() - 1) : p->GetLocalPosition();
                        realBefore = true;
                    }
                const FlagEntityConnection* onward = nullptr;
                if (d->connections.Count() == 1 && d->connections[0].destination.Get() != n) onward = &d->connections[0];
                if (d->connections.Count() == 2) {
                    if (d->connections[0].destination.Get() == n) onward = &d->connections[1];
                    else if (d->connections[1].destination.Get() == n) onward = &d->connections[0];
                }
                if (onward) {
                    if (onward->PointCount()) {
                        after = onward->PointAt(0);
                        realAfter = true;
                    } else if (const FlagEntity* next = onward->destination.Get()) {
                        after = next->GetLocalPosition();
                        realAfter = true;
                    }
                }
                // Path points N (0), Q0 .. Q(k-1), D (k + 1) with their distances.
                std::vector<Vector> path{np};
                std::vector<float> along{n->graphDistance};
                for (uint32_t i = 0; i < k; ++i) {
                    path.push_back(c.PointAt(i));
                    along.push_back(n->graphDistance + c.controlPoints[i].distance);
                }
                path.push_back(dp);
                along.push_back(d->graphDistance);
                const auto segment = [&](int32_t j, Vector pts[4]) {
                    pts[0] = j == -1 ? before : path[j];
                    pts[1] = path[j + 1];
                    pts[2] = path[j + 2];
                    pts[3] = j == int32_t(k) - 1 ? after : path[j + 3];
                };
                for (int32_t j = -1; j <= int32_t(k) - 1; ++j) {
                    if (cutEnds && j == -1 && !realBefore) continue;
                    if (cutEnds && j == int32_t(k) - 1 && !realAfter) continue;
                    GraphGeometry::Curve curve;
                    segment(j, curve.points);
                    const float d0 = along[j + 1], d1 = along[j + 2];
                    curve.points[0].w = d0;
                    curve.points[1].w = 0.75f * d0 + 0.25f * d1;
                    curve.points[2].w = 0.25f * d0 + 0.75f * d1;
                    curve.points[3].w = d1;
                    out.curves.push_back(curve);
                }
                Vector pts[4];
                segment(int32_t(k + 2) / 2 - 2, pts);
                for (Vector& v : pts) v.w = 1.0f;
                middle = CatmullRomPoint(0.5f, pts[0], pts[1], pts[2], pts[3]);
                direction = CatmullRomTangent(0.5f, pts[0], pts[1], pts[2], pts[3]);
            }
            direction = Normalised(direction);
            middle.w = 1.0f;
            out.arrows.push_back({middle + direction * kGraphArrowOffset, direction});
            if (both) out.arrows.push_back({middle - direction * kGraphArrowOffset, direction * -1.0f});
        }
    }
}

// ---------------------------------------------------------------------------------
// GraphEntityRenderingContext

GraphEntityRenderingContext::GraphEntityRenderingContext(const EntityRenderingContextSetup& setup,
                                                         GraphGeometry&& built, const GraphTemplate* look)
    : EntityRenderingContext(setup) {
    if (!look) return;
    geometry = std::move(built);
    width = look->width;
    mappingFactor = look->MappingFactor();
    blendMode = look->blendMode;
    for (uint32_t i = 0; i < GRAPH_SHADER_PAIRS; ++i) {
        shaders[i] = look->shaders[i];
        if (shaders[i].vertexShader) shaders[i].vertexShader->AddRef();
        if (shaders[i].pixelShader) shaders[i].pixelShader->AddRef();
    }
    texture = look->textureResource;
    if (texture) texture->AddRef();
}

GraphEntityRenderingContext::~GraphEntityRenderingContext() {
    for (ShaderPair& p : shaders) {
        if (p.vertexShader) p.vertexShader->Release();
        if (p.pixelShader) p.pixelShader->Release();
    }
    if (texture) texture->Release();
}

void GraphEntityRenderingContext::Draw(void*, const Matrix& world, const RenderTaskArguments& arguments) {
    gfx::Device* device = gVornexRenderer.Device();
    VertexDeclarationCache* declarations = gVornexRenderer.DeclarationCache();
    if (!device || !declarations) return;
    static const gfx::VertexElement kBatchElements[2] = {
        {0, 0, gfx::DECLTYPE_FLOAT3, gfx::DECLMETHOD_DEFAULT, gfx::DECLUSAGE_POSITION, 0},
        gfx::kDeclEnd,
    };
    gfx::VertexDeclaration* declaration = declarations->GetOrCreate(kBatchElements, 2);
    gVornexRenderer.SetBlendMode(blendMode);
    const Vector colour = (arguments.flags & kGraphHighlight) ? arguments.vector * 2.0f : arguments.vector * Color();
    const float parameters[4] = {width, mappingFactor, 0.0f, 0.0f};
    const DeviceObjectHandle* handle = nullptr;
    if (auto* t = dynamic_cast<ResourceTexture*>(texture)) handle = t->Handle();
    device->SetVertexDeclaration(declaration);

    // Vectors per record go to the vertex constants from register 0, one batch at a time.
    const auto batches = [&](ShaderPair& pair, uint32_t list, const float* records, uint32_t count,
                             uint32_t vectorsPerRecord, uint32_t perBatch, auto&& drawBatch) {
        if (!count) return;
        pair.ResolveObjects();
        if (!pair.IsValid()) return;
        pair.Bind();
        pair.SetVertexConstants(kGraphParameterRegister, parameters, 1);
        pair.vertexObject->SetModelMatrix(world, false);
        pair.vertexObject->SetModelColor(colour);
        gfx::VertexBuffer* vertices = gVornexRenderer.BatchVertices(list);
        if (!vertices) return;
        device->SetStreamSource(0, vertices, 0, 12);
        device->SetIndices(gVornexRenderer.BatchIndices(list));
        for (uint32_t first = 0; first < count; first += perBatch) {
            const uint32_t n = std::min(perBatch, count - first);
            pair.SetVertexConstants(0, records + size_t(first) * vectorsPerRecord * 4, n * vectorsPerRecord);
            drawBatch(n);
        }
    };
    gVornexRenderer.SetTexture(0, handle, 0);
    batches(shaders[GRAPH_SHADERS_PLAIN], 0, reinterpret_cast<const float*>(geometry.straights.data()), uint32_t(geometry.straights.size()),
            2, kGraphStraightBatch,
            [](uint32_t n) { gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, 4 * n, 0, 2 * n); });
    batches(shaders[GRAPH_SHADERS_CURVE], 1, reinterpret_cast<const float*>(geometry.curves.data()), uint32_t(geometry.curves.size()), 4,
            kGraphCurveBatch, [](uint32_t n) {
                gVornexRenderer.DrawIndexedPrimitive(gfx::PT_TRIANGLELIST, 0, 0, 2 * kGraphCurvePoints * n, 0,
                                                     (2 * kGraphCurvePoints - 2) * n);
            });
    if (arguments.flags & kGraphDrawArrows) {
        gVornexRenderer.SetTexture(0, nullptr, 0);
        batches(shaders[GRAPH_SHADERS_ARROW], 2, reinterpret_cast<const float*>(geometry.arrows.data()), uint32_t(geometry.arrows.size()),
                2, kGraphArrowBatch, [](uint32_t n) { gVornexRenderer.DrawPrimitive(gfx::PT_TRIANGLELIST, 0, n); });
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    if (declaration) declaration->Release();  // the cache hands out a reference per call
}
