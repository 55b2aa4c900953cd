#pragma once
// Mesh data: the binary block a mesh template keeps after its property list in its
// ".BinaryTemplate" file, in three layers: the template block (MeshTemplate), the
// rendering-data block inside it (MeshTemplateRenderingData: declarations, buffers,
// shader presets with their parts) and the hierarchy block (MeshHierarchy: nodes, bone
// matrices, animation-tree nodes).
//
// Every reader takes the data version (2 to 50) and fills what an older version lacks
// with the documented defaults; every writer writes version 50, byte-swapped when asked
// (write flag 2: every multi-byte scalar, and the vertex bytes element by element by
// declaration A's types). Readers are bounded: counts, sizes and name lengths are
// checked against the bytes left before anything is allocated, and any corrupt or short
// block fails the whole read (the caller logs the one line that names the template).
//
// Threads: reading runs where the template loads (the ResourceManager thread or the
// caller); the device objects are made on the render thread by creation jobs, which the
// reader submits and waits for. Writing runs on a tool's or test's main thread and reads
// the device objects back through read-back jobs.
#include <cstdint>
#include <string>
#include <vector>

#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/text/NameString.h"
#include "platform/gfx/GfxTypes.h"
#include "render/VornexRendererObject.h"

class BoundedReader;
class DeviceObjectHandle;
class Resource;
class ResourceShader;
class ShaderObject;

namespace gfx {
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;
}  // namespace gfx

// Write flag: byte-swap every multi-byte value (the big-endian form).
constexpr uint32_t kMeshWriteSwap = 2;
// Newest layout; the oldest still read is 2.
constexpr uint32_t kMeshDataVersion = 50;
constexpr uint32_t kMeshOldestVersion = 2;
// Longest shader family name in bytes.
constexpr uint32_t kMeshMaxFamilyName = 259;
// Hierarchy limits: node and bone indices are bytes, 255 meaning none.
constexpr uint32_t kMeshMaxNodes = 255;
constexpr uint8_t kMeshNoIndex = 255;
constexpr uint32_t kMeshNoTreeNode = 0xFFFFFFFFu;
// Storage flags of the rendering data.
constexpr uint32_t kMeshStorageMainMemoryOnly = 1;
constexpr uint32_t kMeshStorageSortTriangles = 2;
// Main-memory vertex flags.
constexpr uint32_t kMeshVertexFloat3 = 1;
constexpr uint32_t kMeshVertexBlend = 2;
constexpr uint32_t kMeshVertexShort4N = 4;
constexpr uint32_t kMeshVertexNormal = 8;    // skinning layout: a normal follows the weights
constexpr uint32_t kMeshVertexTangent = 16;  // skinning layout: a tangent follows
// CPU skinning: bytes of a main-memory vertex read (position, indices, weights, the
// normal and tangent the flags name, a trailing 4-byte value) and of the vertex written
// (position, normal, tangent packed as four shorts, the trailing value).
inline uint32_t MeshSkinInputSize(uint32_t flags) {
    return 20 + ((flags & kMeshVertexNormal) ? 12 : 0) + ((flags & kMeshVertexTangent) ? 16 : 0) + 4;
}
inline uint32_t MeshSkinOutputSize(uint32_t flags) {
    return 12 + ((flags & kMeshVertexNormal) ? 12 : 0) + ((flags & kMeshVertexTangent) ? 8 : 0) + 4;
}
// Texture flag bit 0: request with creation parameter 0 instead of 20.
constexpr uint32_t kMeshTextureFlagPlain = 1;
constexpr uint32_t kMeshTextureParameterDefault = 20;

// Appends the stream form of mesh data, swapping multi-byte values when asked.
class MeshWriter {
public:
    MeshWriter(std::vector<uint8_t>& out, uint32_t flags) : out(out), swap((flags & kMeshWriteSwap) != 0) {}
    bool Swapping() const { return swap; }
    void U8(uint8_t v) { out.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void F32(float v);
    void Floats(const float* v, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) F32(v[i]);
    }
    void Box(const BoundingBox4& box);
    // Bytes as they are.
    void Bytes(const void* data, size_t n);
    // u32 length, then the bytes.
    void Text(const std::string& text);
    void Name(const NameString& name);
    void Element(const gfx::VertexElement& e);
    void VertexDesc(const gfx::VertexBufferDesc& d);
    void IndexDesc(const gfx::IndexBufferDesc& d);
    // Index bytes in the format's width; vertex bytes by the declaration's element types.
    void Indices(const uint8_t* data, size_t n, uint32_t format);
    // False (nothing written) when an element's type has no known size.
    bool Vertices(const uint8_t* data, size_t n, uint32_t stride, const std::vector<gfx::VertexElement>& decl);

private:
    std::vector<uint8_t>& out;
    bool swap;
};

// Size in bytes of one element of a declaration type; 0 for an unknown type.
uint32_t MeshDeclTypeSize(uint8_t type);

struct MeshPartTexture {
    MeshPartTexture() = default;
    ~MeshPartTexture();
    MeshPartTexture(const MeshPartTexture&) = delete;
    MeshPartTexture& operator=(const MeshPartTexture&) = delete;
    MeshPartTexture(MeshPartTexture&& other) noexcept;

    // Reads the record and, for a non-empty name, requests and loads the texture.
    bool Read(BoundedReader& in);
    void Write(MeshWriter& out) const;
    // The creation parameter the texture is requested with.
    uint32_t RequestParameter() const { return (flags & kMeshTextureFlagPlain) ? 0 : kMeshTextureParameterDefault; }

    std::string name;
    uint32_t sampler = 0;
    uint32_t flags = 0;
    Resource* resource = nullptr;         // one use, released with the record
    DeviceObjectHandle* texture = nullptr;  // the resource's device texture
};

// Part flags.
constexpr uint32_t kMeshPartDeferred = 1u << 0;
constexpr uint32_t kMeshPartClassMask = 3;  // bits 0-1: 0 forward, 1 deferred, 2 the third class
constexpr uint32_t kMeshPartTwoSided = 1u << 2;
constexpr uint32_t kMeshPartMirroredCull = 1u << 3;
constexpr uint32_t kMeshPartScroll = 1u << 4;
constexpr uint32_t kMeshPartRefraction = 1u << 5;
constexpr uint32_t kMeshPartNoDepthA = 1u << 6;
constexpr uint32_t kMeshPartSkipped = 1u << 8;
constexpr uint32_t kMeshPartInstanceColor = 1u << 11;
constexpr uint32_t kMeshPartNoDepthB = 1u << 15;
constexpr uint32_t kMeshPartDepthConstant = 1u << 16;

// The seven shader variants of a part.
enum MeshPartShader : uint32_t {
    MESH_SHADER_FORWARD_VS, MESH_SHADER_FORWARD_PS, MESH_SHADER_DEFERRED_VS, MESH_SHADER_DEFERRED_PS,
    MESH_SHADER_REFRACTION_PS, MESH_SHADER_INSTANCING_VS, MESH_SHADER_DEFERRED_INSTANCING_VS, MESH_SHADER_COUNT
};

// A part's resolved shaders: one use of each resource found, and its shader object (the
// vertex or pixel object of that resource; null when it holds the other kind). Moving
// hands the uses over.
struct MeshPartShaders {
    MeshPartShaders() = default;
    ~MeshPartShaders() { Release(); }
    MeshPartShaders(const MeshPartShaders&) = delete;
    MeshPartShaders& operator=(const MeshPartShaders&) = delete;
    MeshPartShaders(MeshPartShaders&& other) noexcept;
    MeshPartShaders& operator=(MeshPartShaders&& other) noexcept;
    void Release();

    ResourceShader* resources[MESH_SHADER_COUNT] = {};
    ShaderObject* objects[MESH_SHADER_COUNT] = {};
};

struct MeshPart {
    bool Read(BoundedReader& in, uint32_t version);
    void Write(MeshWriter& out) const;
    // The four floats derived from the exponent base.
    void SetExponentBase(float x);
    // Looks the part's variants up for the renderer's quality level and flags: forward,
    // instancing, and deferred (with its instancing vertex shader) or refraction.
    void ResolveShaders();
    // The option string with the quality level's removals applied (no suffixes).
    static std::string QualityOptions(const std::string& options, uint32_t quality);

    std::vector<uint8_t> palette;     // 8 bytes per entry, as stored
    std::vector<uint8_t> parameters;  // 16 bytes per entry, as stored
    std::vector<MeshPartTexture> textures;
    uint32_t word0 = 0;
    std::string family = "MeshSolid";
    std::string options;
    uint32_t words[6] = {0, 0, 0, 0, 0, 1};  // part words 1 to 6
    uint32_t flags = 0;
    uint32_t firstTriangle = 0;
    uint32_t triangleCount = 0;
    uint16_t lowestVertex = 0;
    uint16_t highestVertex = 0;
    uint16_t secondaryTriangleCount = 0;
    uint16_t secondaryFirstTriangle = 0;
    float word7 = 2.0f;
    float word8 = 1.0f;
    float exponentBase = 64.0f;
    float exponent[4] = {93.45057f, -93.45057f, 64.0f, 0.0f};
    uint8_t passKind = 0;
    uint8_t attachmentBone = kMeshNoIndex;
    float word9 = 0.0f;
    float vectors[3][4] = {{1, 1, 1, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    MeshPartShaders shaders;  // runtime
};

struct MeshShaderPreset {
    bool Read(BoundedReader& in, uint32_t version);
    void Write(MeshWriter& out) const;
    // Bit (pass kind) for every part whose pass kind is 1 to 4.
    uint32_t ComputePassMask() const;

    NameString name;
    std::vector<MeshPart> parts;
    uint32_t passMask = 0;
};

struct MeshHierarchyNode {
    NameString name;
    uint8_t parent = kMeshNoIndex;
    uint8_t bone = kMeshNoIndex;
};

struct MeshAnimationTreeNode {
    NameString name;
    uint32_t firstNode = 0;
    uint32_t nodeCount = 0;
    uint32_t parent = kMeshNoTreeNode;
    uint32_t firstChild = kMeshNoTreeNode;
    uint32_t nextSibling = kMeshNoTreeNode;
};

class MeshHierarchy {
public:
    // Refuses more than 255 nodes, a parent not below its child (and not 255), a bone
    // index not below the bone count (and not 255), and tree ranges or links out of range.
    bool Read(BoundedReader& in, uint32_t version);
    void Write(MeshWriter& out) const;

    // Names of the nodes in node order, skipping unnamed nodes and, with bonesOnly, nodes
    // that are not bones.
    void GetNodeNames(std::vector<NameString>& list, bool bonesOnly) const;
    int32_t FindNode(const NameString& name) const;
    int32_t FindAnimationTreeNode(const NameString& name) const;
    // Rebuilds the animation-tree nodes from the template's definition text (see the
    // source for the element rules); errors name the template.
    void ParseAnimationTreeDefinition(const char* text, const char* templateName);
    // The global matrix of a node in the bind pose: its node matrix composed with its
    // parents' (row vectors: child first, then parent).
    Matrix BindPoseGlobal(uint32_t node) const;

    uint32_t NodeCount() const { return uint32_t(nodes.size()); }
    uint32_t BoneCount() const { return boneCount; }

    std::vector<MeshHierarchyNode> nodes;
    // Node matrices first, bone matrices after: (nodes + bones) x 16 floats.
    std::vector<float> matrices;
    uint32_t boneCount = 0;
    std::vector<MeshAnimationTreeNode> treeNodes;
};

// Pass ids of the mesh draws; the top bit asks for instanced drawing.
constexpr uint32_t kMeshPassForward = 1;
constexpr uint32_t kMeshPassSecond = 2;
constexpr uint32_t kMeshPassDeferred = 4;
constexpr uint32_t kMeshPassThird = 8;
constexpr uint32_t kMeshPassAll = 16;
constexpr uint32_t kMeshPassInstanced = 0x80000000u;
// Capacity of the draw batch.
constexpr uint32_t kMeshDrawBatchSize = 1024;
// Vertex registers of the mesh families (MeshSolid.hlsl writes them down): the first
// bounding box's two vectors and the camera position.
constexpr uint32_t kMeshBoxRegister = 196;
constexpr uint32_t kMeshCameraRegister = 201;
// Bytes of one instance in the instancing stream (stream 1): the world matrix's three
// columns, then the colour.
constexpr uint32_t kMeshInstanceStride = 64;
// Bytes of one secondary vertex (position, normal, texture coordinate).
constexpr uint32_t kMeshSecondaryStride = 32;

// One draw of a mesh: what the batch keeps and DrawParts draws as an instance.
struct MeshDrawBatchRecord {
    Matrix world;
    Matrix second;
    Vector colour;
    uint32_t callerWords[2];
    float scalar;
    class MeshTemplateRenderingData* data;
    uint32_t preset;
    bool mirrored;
    float sortKey;
    uint32_t lastWord;
};

// The render-side mesh: device declarations and buffers, the main-memory copies, the
// shader presets with their parts, and the render bytes; and its drawing (MeshDraw.cpp):
// the parts of a preset in a pass, the pass-mask and depth draws, CPU skinning and
// triangle sorting, and the draw batch that turns equal draws into instanced ones.
//
// Every rendering data is on one live list under its own lock (construction,
// destruction, RefreshAllShaders). Drawing and the batch run on the render thread only.
class MeshTemplateRenderingData : public VornexRendererObject {
public:
    MeshTemplateRenderingData();
    ~MeshTemplateRenderingData() override;

    // Reads the block; submits creation jobs while reading and waits for them in order.
    // False (every object made so far released) on a refused or short block; a version
    // 3 to 9 block logs the outdated-collision line with the template name.
    bool Read(BoundedReader& in, uint32_t version, const char* templateName);
    // Writes version 50, reading the device buffers back; false when the declaration
    // holds a type of unknown size (nothing sensible can be swapped) or a buffer could
    // not be read back.
    bool Write(MeshWriter& out) const;

    // Rebuilds the main-memory vertices from buffer A's bytes by declaration B.
    void BuildCollisionVertices(const gfx::VertexElement* elements, uint32_t count, const uint8_t* vertices,
                                uint32_t vertexCount, uint32_t stride);
    // Releases every device object and copy (render thread, or any thread while the
    // renderer does not run).
    void ReleaseDeviceObjects();
    void Destroy() override;

    uint32_t IndexCount() const;

    // ---- Shaders and resources ----
    // ResourceManager::SetResourceFlags with the bits on every part's shaders and textures.
    void RequestResources(uint32_t bits);
    // The preset's pass mask; 0 for an index out of range.
    uint32_t GetPresetPassMask(uint32_t preset) const;
    // Every part of this rendering data resolves its shaders again (device restore).
    void ResolveAllShaders();
    // Under the list lock, every part of every live rendering data.
    static void RefreshAllShaders();
    // Live rendering data (tests).
    static uint32_t LiveCount();
    // The shared declaration of the secondary geometry and the instancing stream; made
    // and released with the device (render thread).
    static void CreateVertexDeclaration();
    static void ReleaseVertexDeclaration();

    // ---- Drawing (render thread) ----
    // Draws the parts of a preset for the instances in one pass; bones: rows of 3 x 4
    // floats, boneCount matrices (null: none).
    void DrawParts(uint32_t preset, uint32_t pass, const MeshDrawBatchRecord* instances, uint32_t count,
                   const float* bones, uint32_t boneCount, uint32_t stencilMode = 0);
    // The secondary geometry of the preset's parts (after the forward passes).
    void DrawSecondary(uint32_t preset, const MeshDrawBatchRecord& instance);
    // Every part of an enabled pass kind into its colour channel; false when nothing drew.
    bool DrawPassMask(const Matrix& world, bool mirrored, uint32_t preset, const float* bones, uint32_t boneCount);
    // Depth-only drawing through the sixteen shadow-map pairs.
    void DrawDepth(const Matrix& world, bool mirrored, uint32_t preset, const float* bones, uint32_t boneCount,
                   bool instanced);
    // Skins the vertices from lowest to highest (inclusive) of the main-memory copy into
    // the scratch vertices; false when the copy cannot be skinned.
    bool SkinVertices(uint32_t lowest, uint32_t highest, const float* bones, uint32_t boneCount);
    // The scratch vertices of the last skinning (vertex count x stride bytes).
    static const uint8_t* ScratchVertices();
    // The part's triangles sorted by their nearest vertex's squared distance to the point
    // (object space, scratch vertices), ascending: 16-bit indices, 3 per triangle.
    const uint16_t* SortTriangles(const MeshPart& part, const Vector& point);

    // ---- The draw batch (render thread) ----
    // Turns batching on with an empty batch; the pass id and stencil mode the flush draws with.
    static void BeginDrawBatch(uint32_t pass, uint32_t mode);
    // Appends the draw while batching, unless it has bones or an instanced pass id (then,
    // and while not batching, it draws at once). A full batch flushes first.
    static void Draw(MeshTemplateRenderingData* data, const Matrix& world, const Matrix& second,
                     const BoundingBox4& localBox, const Vector& colour, float scalar, bool mirrored, uint32_t preset,
                     const float* bones, uint32_t boneCount, uint32_t pass, uint32_t lastWord = 0);
    // Sorts (more than two records), draws every run of equal draws as one DrawParts call
    // and turns batching off.
    static void FlushDrawBatch(uint32_t passFlags);
    static uint32_t BatchedRecords();
    static bool Batching();
    // Preset 0 in the all pass at once, with the bones given (the debug part draw).
    void DrawSkinned(const Matrix& world, const Vector& colour, const float* bones, uint32_t boneCount);

    uint32_t storageFlags = 0;
    static const BoundingBox4 kDefaultBox;  // (0, 0, 0, 1) .. (1, 1, 1, 1)
    BoundingBox4 box = kDefaultBox;
    BoundingBox4 secondBox = kDefaultBox;
    std::vector<gfx::VertexElement> declA;
    std::vector<gfx::VertexElement> declB;
    gfx::VertexDeclaration* declarationA = nullptr;
    gfx::VertexDeclaration* declarationB = nullptr;
    uint32_t vertexCount = 0;
    uint32_t stride = 0;
    gfx::VertexBufferDesc vertexDescA{};
    gfx::VertexBuffer* vertexBufferA = nullptr;
    uint32_t mainMemoryFlags = 0;
    uint32_t mainMemorySize = 0;
    std::vector<uint8_t> mainMemoryVertices;
    uint32_t indexWordA = 0;
    gfx::IndexBufferDesc indexDescA{};
    gfx::IndexBuffer* indexBufferA = nullptr;
    // Buffer A's indices kept in main memory (taken over from the creation job).
    uint8_t* indexCopy = nullptr;
    uint32_t indexCopySize = 0;
    uint32_t indexWordB = 0;
    gfx::IndexBufferDesc indexDescB{};
    gfx::IndexBuffer* indexBufferB = nullptr;
    uint32_t secondaryWords[2] = {0, 0};
    gfx::VertexBufferDesc secondaryVertexDesc{};
    gfx::VertexBuffer* secondaryVertexBuffer = nullptr;
    gfx::IndexBufferDesc secondaryIndexDesc{};
    gfx::IndexBuffer* secondaryIndexBuffer = nullptr;
    uint32_t skinningBoneCount = 0;
    std::vector<MeshShaderPreset> presets;
    // Render bytes 1 to 8 at their numbers (index 0 unused).
    uint8_t renderBytes[9] = {0, 1, 0, 0, 0, 1, 0, 0, 0};

private:
    void SetStreams(bool instanced);
    void DrawLineList(uint32_t pass, const MeshDrawBatchRecord* const* instances, uint32_t count);
    // DrawParts on instances given by pointer (the batch's sorted runs).
    void DrawRecords(uint32_t preset, uint32_t pass, const MeshDrawBatchRecord* const* instances, uint32_t count,
                     const float* bones, uint32_t boneCount, uint32_t stencilMode);
    void UploadBones(const float* bones, uint32_t boneCount);

    MeshTemplateRenderingData* previous = nullptr;
    MeshTemplateRenderingData* next = nullptr;
    // Sorted 16-bit triangle indices of one part (triangle sorting).
    std::vector<uint16_t> sortedIndices;
};

// Sets (and clears) the device owner of the shared declaration (main thread, while the
// renderer does not run).
void InstallMeshDeviceOwner();
void ClearMeshDeviceOwner();
// The renderer's debug mesh tasks (render thread): one mesh with its bounding box and
// optional 48-byte records; one mesh part.
void DrawStreamedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Matrix& previous,
                      const BoundingBox4* box, const Vector& colour, uint32_t value, uint8_t flag, const float* records,
                      uint32_t recordCount);
void DrawStreamedSkinnedMesh(const MeshTemplateRenderingData* mesh, const Matrix& world, const Vector& colour,
                             const float* records, uint32_t recordCount);
