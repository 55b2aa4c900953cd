// Editor and debug drawing: the typed records 54-68 and the built-in shapes they draw.
//
//   54 bounding box, 56 trigger, 57 point light, 60 directional light: accepted, nothing
//      drawn.
//   55 the unit box's wire list placed on the box and moved by the matrix (bytes: cull
//      mirror, depth test).
//   58 spot light: the wire cone with lamp scaled by (outer x width, outer x width,
//      outer); 59 tube light: the cylinder's wire list scaled by (outer, outer, half
//      length); both moved by the matrix, depth-tested.
//   61 effect marker: the axis gizmo (byte: depth test); 62 marker: the wire sphere;
//   63 flag: the solid flag marker (byte: depth test).
//   64-67 meshes and 68 particle systems through the scene-content hooks, after the
//      scene constants are set with flag 0. 65 and 67 carry their record count and the
//      48-byte records at a 16-byte boundary of the stream, used in place.
// Every shape follows DrawSolidBox's rules: blended when the colour's alpha is below
// 0.999999, depth function LESSEQUAL with the depth test and ALWAYS without, depth
// writes on, clockwise culling when the cull-mirror byte differs from the current
// winding, else counter-clockwise.
#include <cstring>

#include "core/Log.h"
#include "render/SceneDrawServices.h"
#include "render/VornexRenderer.h"
#include "render/VornexRenderer_Local.h"

using namespace gfx;

namespace {
constexpr uint32_t kSolid = 0, kWire = 1;
}  // namespace

// ---------------------------------------------------------------------------------------
// Writers (main thread)

void VornexRenderer::DebugDrawBoundingBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour) {
    Post(TASK_DEBUG_BOUNDING_BOX, box, matrix, colour);
}

void VornexRenderer::DebugDrawWireBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour,
                                      uint8_t cullMirror, uint8_t depthTest) {
    Post(TASK_DEBUG_WIRE_BOX, box, matrix, colour, cullMirror, depthTest);
}

void VornexRenderer::DebugDrawTrigger(const Matrix& matrix, const Vector& colour) {
    Post(TASK_DEBUG_TRIGGER, matrix, colour);
}

void VornexRenderer::DebugDrawPointLight(const Matrix& matrix, const Vector& colour, float inner, float outer) {
    Post(TASK_DEBUG_POINT_LIGHT, matrix, colour, inner, outer);
}

void VornexRenderer::DebugDrawSpotLight(const Matrix& matrix, const Vector& colour, float inner, float outer,
                                        float width) {
    Post(TASK_DEBUG_SPOT_LIGHT, matrix, colour, inner, outer, width);
}

void VornexRenderer::DebugDrawTubeLight(const Matrix& matrix, const Vector& colour, float inner, float outer,
                                        float halfLength) {
    Post(TASK_DEBUG_TUBE_LIGHT, matrix, colour, inner, outer, halfLength);
}

void VornexRenderer::DebugDrawAmbientLight(const Matrix& matrix, const Vector& colour) {
    Post(TASK_DEBUG_AMBIENT_LIGHT, matrix, colour);
}

void VornexRenderer::DebugDrawSFX(const Matrix& matrix, uint8_t depthTest) { Post(TASK_DEBUG_SFX, matrix, depthTest); }

void VornexRenderer::DebugDrawFlag(const Matrix& matrix, const Vector& colour, uint8_t depthTest) {
    Post(TASK_DEBUG_FLAG, matrix, colour, depthTest);
}

namespace {
// The 48-byte records after the fixed fields: their count, then padding to the next
// 16-byte boundary of the stream, the records, and filler up to 16 bytes of padding in all.
bool WriteRecords(CommandRingBuffer& ring, const void* records, uint32_t count) {
    ring.WriteValue(count);
    const uint32_t pad = ring.Align16();
    ring.Write(records, count * kMeshRecordBytes);
    ring.Skip(16 - pad);
    return true;
}

// Null (and nothing consumed past the count) when the records do not fit the payload left.
const void* ReadRecords(CommandRingBuffer& r, uint32_t* count) {
    if (!r.ReadValue(*count) || r.ReadLeft() < 16 || *count > (r.ReadLeft() - 16) / kMeshRecordBytes) return nullptr;
    const uint32_t pad = r.AlignRead16();
    const void* records = r.ReadCursor();
    r.SkipRead(*count * kMeshRecordBytes + (16 - pad));
    return records;
}

uint32_t RecordsBytes(const void* records, uint32_t count) {
    return records ? sizeof(uint32_t) + 16 + count * kMeshRecordBytes : 0;
}
}  // namespace

bool VornexRenderer::DebugDrawMeshTemplate(const MeshTemplateRenderingData* mesh, const Matrix& world,
                                           const Matrix& previous, const BoundingBox4* box, const Vector& colour,
                                           uint32_t value, uint8_t flag, const void* records, uint32_t recordCount) {
    const uint32_t fixed = sizeof mesh + 2 * sizeof(Matrix) + sizeof(BoundingBox4) + sizeof colour + sizeof value +
                           sizeof flag;
    if (records && recordCount > (kRenderMaxPayload - fixed - 20) / kMeshRecordBytes) {
        gLog.Error(LogCategory::RenderDevice, "VornexRenderer::DebugDrawMeshTemplate - %u records do not fit a block",
                   recordCount);
        return false;
    }
    if (!BeginCommand(records ? TASK_DEBUG_MESH_RECORDS : TASK_DEBUG_MESH, fixed + RecordsBytes(records, recordCount)))
        return false;
    CommandRingBuffer& ring = Ring();
    ring.WriteValue(mesh);
    ring.WriteValue(world);
    ring.WriteValue(previous);
    ring.WriteValue(box ? *box : BoundingBox4::ZERO4);
    ring.WriteValue(colour);
    ring.WriteValue(value);
    ring.WriteValue(flag);
    return !records || WriteRecords(ring, records, recordCount);
}

bool VornexRenderer::DebugDrawMeshTemplateParts(const MeshTemplateRenderingData* mesh, const Matrix& world,
                                                const Vector& colour, const void* records, uint32_t recordCount) {
    const uint32_t fixed = sizeof mesh + sizeof(Matrix) + sizeof colour;
    if (records && recordCount > (kRenderMaxPayload - fixed - 20) / kMeshRecordBytes) {
        gLog.Error(LogCategory::RenderDevice,
                   "VornexRenderer::DebugDrawMeshTemplateParts - %u records do not fit a block", recordCount);
        return false;
    }
    if (!BeginCommand(records ? TASK_DEBUG_MESH_PARTS_RECORDS : TASK_DEBUG_MESH_PARTS,
                      fixed + RecordsBytes(records, recordCount)))
        return false;
    CommandRingBuffer& ring = Ring();
    ring.WriteValue(mesh);
    ring.WriteValue(world);
    ring.WriteValue(colour);
    return !records || WriteRecords(ring, records, recordCount);
}

void VornexRenderer::DebugDrawParticleTemplate(ParticleSystemInstance* system, const Matrix& world,
                                               const BoundingBox4* box, const Vector& colour) {
    Post(TASK_DEBUG_PARTICLES, system, world, box ? *box : BoundingBox4::ZERO4, colour);
}

// ---------------------------------------------------------------------------------------
// Shapes (render thread)

void VornexRenderer::DrawDebugMesh(BuiltInMeshId id, uint32_t list, const Matrix& world, const Vector& colour,
                                   uint8_t cullMirror, uint8_t depthTest) {
    const BuiltInMesh& mesh = builtInMeshes[id];
    if (!device || !mesh.vertices) return;
    SetBlendMode(colour.w < 0.999999f ? 1 : 0);
    SetDepthState(depthTest ? CMP_LESSEQUAL : CMP_ALWAYS, 1, 0, 0);
    SetCullMode((cullMirror != 0) != mirrored ? CULL_CW : CULL_CCW);
    SetModelMatrix(world);
    SetModelColor(colour);
    device->SetFVF(mesh.stride == 16 ? (FVF_XYZ | FVF_DIFFUSE) : FVF_XYZ);
    device->SetStreamSource(0, mesh.vertices, 0, mesh.stride);
    const PrimitiveType type = list == kWire || id == MESH_AXIS_GIZMO ? PT_LINELIST : PT_TRIANGLELIST;
    const uint32_t perPrimitive = type == PT_LINELIST ? 2 : 3;
    if (IndexBuffer* indices = mesh.indices[list]) {
        device->SetIndices(indices);
        DrawIndexedPrimitive(type, 0, 0, mesh.vertexCount, 0, mesh.indexCount[list] / perPrimitive);
        device->SetIndices(nullptr);
    } else {
        DrawPrimitive(type, 0, mesh.vertexCount / perPrimitive);
    }
    device->SetStreamSource(0, nullptr, 0, 0);
}

void VornexRenderer::DrawBoxShape(const BoundingBox4& box, const Matrix& matrix, const Vector& colour,
                                  uint8_t cullMirror, uint8_t depthTest, uint32_t list) {
    Matrix onBox, world;
    onBox.LoadZeroOneToBox(box);
    world.Mul(matrix, onBox);  // onto the box first, then the matrix
    DrawDebugMesh(MESH_UNIT_BOX, list, world, colour, cullMirror, depthTest);
}

void VornexRenderer::DrawSolidBox(const BoundingBox4& box, const Matrix& matrix, const Vector& colour,
                                  uint8_t cullMirror, uint8_t depthTest) {
    DrawBoxShape(box, matrix, colour, cullMirror, depthTest, kSolid);
}

// ---------------------------------------------------------------------------------------
// Handlers (render thread)

bool VornexRenderer::TaskDebugSkip(CommandRingBuffer& r) {
    // 54, 56, 57 and 60: accepted and skipped.
    const uint32_t bytes = currentTask == TASK_DEBUG_BOUNDING_BOX ? sizeof(BoundingBox4) + sizeof(Matrix) + sizeof(Vector)
                           : currentTask == TASK_DEBUG_POINT_LIGHT ? sizeof(Matrix) + sizeof(Vector) + 2 * sizeof(float)
                                                                   : sizeof(Matrix) + sizeof(Vector);
    if (r.ReadLeft() < bytes) return false;
    r.SkipRead(bytes);
    return true;
}

bool VornexRenderer::TaskDebugWireBox(CommandRingBuffer& r) {
    BoundingBox4 box;
    Matrix matrix;
    Vector colour;
    uint8_t cullMirror = 0, depthTest = 0;
    if (!Read(r, box, matrix, colour, cullMirror, depthTest)) return false;
    DrawBoxShape(box, matrix, colour, cullMirror, depthTest, kWire);
    return true;
}

bool VornexRenderer::TaskDebugLightShape(CommandRingBuffer& r) {
    Matrix matrix;
    Vector colour;
    float inner = 0, outer = 0, third = 0;
    if (!Read(r, matrix, colour, inner, outer, third)) return false;
    const bool spot = currentTask == TASK_DEBUG_SPOT_LIGHT;
    Matrix scale, world;
    if (spot)
        scale.LoadScale(outer * third, outer * third, outer);
    else
        scale.LoadScale(outer, outer, third);
    world.Mul(matrix, scale);
    DrawDebugMesh(spot ? MESH_WIRE_CONE_LAMP : MESH_CYLINDER, kWire, world, colour, 0, 1);
    return true;
}

bool VornexRenderer::TaskDebugSFX(CommandRingBuffer& r) {
    Matrix matrix;
    uint8_t depthTest = 0;
    if (!Read(r, matrix, depthTest)) return false;
    DrawDebugMesh(MESH_AXIS_GIZMO, kSolid, matrix, Vector(1, 1, 1, 1), 0, depthTest);
    return true;
}

bool VornexRenderer::TaskDebugMarker(CommandRingBuffer& r) {
    Matrix matrix;
    Vector colour;
    if (!Read(r, matrix, colour)) return false;
    DrawDebugMesh(MESH_WIRE_SPHERE, kWire, matrix, colour, 0, 1);
    return true;
}

bool VornexRenderer::TaskDebugFlag(CommandRingBuffer& r) {
    Matrix matrix;
    Vector colour;
    uint8_t depthTest = 0;
    if (!Read(r, matrix, colour, depthTest)) return false;
    DrawDebugMesh(MESH_FLAG_MARKER, kSolid, matrix, colour, 0, depthTest);
    return true;
}

namespace {
struct MeshFields {
    const MeshTemplateRenderingData* mesh;
    Matrix world, previous;
    BoundingBox4 box;
    Vector colour;
    uint32_t value;
    uint8_t flag;
};
bool ReadMeshFields(CommandRingBuffer& r, MeshFields* f) {
    return Read(r, f->mesh, f->world, f->previous, f->box, f->colour, f->value, f->flag);
}
}  // namespace

bool VornexRenderer::TaskDebugMesh(CommandRingBuffer& r) {
    MeshFields f;
    if (!ReadMeshFields(r, &f)) return false;
    SetSceneConstants(0);
    GetSceneDrawServices().DrawMesh(f.mesh, f.world, f.previous, &f.box,
                                    f.colour, f.value, f.flag, nullptr, 0);
    return true;
}

bool VornexRenderer::TaskDebugMeshRecords(CommandRingBuffer& r) {
    MeshFields f;
    uint32_t count = 0;
    if (!ReadMeshFields(r, &f)) return false;
    const void* records = ReadRecords(r, &count);
    if (!records) return false;
    SetSceneConstants(0);
    GetSceneDrawServices().DrawMesh(f.mesh, f.world, f.previous, &f.box,
                                    f.colour, f.value, f.flag, static_cast<const float*>(records), count);
    return true;
}

bool VornexRenderer::TaskDebugMeshParts(CommandRingBuffer& r) {
    const MeshTemplateRenderingData* mesh = nullptr;
    Matrix world;
    Vector colour;
    if (!Read(r, mesh, world, colour)) return false;
    GetSceneDrawServices().DrawSkinnedMesh(mesh, world, colour, nullptr,
                                           0);
    return true;
}

bool VornexRenderer::TaskDebugMeshPartsRecords(CommandRingBuffer& r) {
    const MeshTemplateRenderingData* mesh = nullptr;
    Matrix world;
    Vector colour;
    uint32_t count = 0;
    if (!Read(r, mesh, world, colour)) return false;
    const void* records = ReadRecords(r, &count);
    if (!records) return false;
    GetSceneDrawServices().DrawSkinnedMesh(mesh, world, colour,
                                           static_cast<const float*>(records), count);
    return true;
}

bool VornexRenderer::TaskDebugParticles(CommandRingBuffer& r) {
    ParticleSystemInstance* system = nullptr;
    Matrix world;
    BoundingBox4 box;
    Vector colour;
    if (!Read(r, system, world, box, colour)) return false;
    SetSceneConstants(0);
    GetSceneDrawServices().DrawParticleSystem(system, world, &box, colour);
    return true;
}
