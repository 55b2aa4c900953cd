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
#include "core/text/NameString.h"
#include "platform/gfx/GfxTypes.h"
#include "render/VornexRendererObject.h"

class BoundedReader;
class DeviceObjectHandle;
class Resource;

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

struct MeshPart {
    bool Read(BoundedReader& in, uint32_t version);
    void Write(MeshWriter& out) const;
    // The four floats derived from the exponent base.
    void SetExponentBase(float x);

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

// The render-side mesh: device declarations and buffers, the main-memory copies, the
// shader presets with their parts, and the render bytes. Drawing lives with the
// renderer's mesh passes; this part holds the data and its stream form.
class MeshTemplateRenderingData : public VornexRendererObject {
public:
    MeshTemplateRenderingData() = default;
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
};
