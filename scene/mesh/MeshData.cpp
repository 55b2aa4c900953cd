// Mesh data: reading and writing the three layers of a mesh template's binary block.
//
// A read walks the block once, front to back. Declarations and buffers go to the render
// thread as creation jobs as soon as their bytes are read (the bytes are read straight
// into a block the job takes over), and are waited for in a fixed order once the
// buffers are all read; the parts are checked against the buffers afterwards. Any
// refusal leaves nothing half-read behind: the jobs are waited and whatever they made
// is released with the rendering data.
//
// The reader checks every size against the bytes left and fails silently (the template
// reader logs the one line that names the template).
#include "scene/mesh/MeshData.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/config/ProjectConfig.h"
#include "render/RenderJobs.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"

const BoundingBox4 MeshTemplateRenderingData::kDefaultBox(Vector(0, 0, 0, 1), Vector(1, 1, 1, 1));

namespace {

constexpr uint32_t kVertexDescBytes = 24;
constexpr uint32_t kIndexDescBytes = 20;
constexpr uint32_t kMatrixBytes = 64;
// Smallest stream forms, for checking counts against the bytes left.
constexpr uint32_t kMinTextureBytes = 12;
constexpr uint32_t kMinPartBytes = 8;
constexpr uint32_t kMinNodeBytes = 6;
constexpr uint32_t kMinTreeNodeBytes = 24;
// The exponent base's derived floats: (x + 0.775) x log2(e), its negation, x, 0.
constexpr float kExponentOffset = 0.775f;
constexpr float kLog2E = 1.442695f;

static_assert(sizeof(gfx::VertexBufferDesc) == kVertexDescBytes);
static_assert(sizeof(gfx::IndexBufferDesc) == kIndexDescBytes);

// ---- Bounded reads that fail the reader silently -------------------------------------

bool Need(BoundedReader& in, uint64_t n) {
    if (in.Failed()) return false;
    if (n > in.Remaining()) return in.Fail(nullptr);
    return true;
}
bool Refuse(BoundedReader& in) { return in.Fail(nullptr); }
bool Bytes(BoundedReader& in, void* destination, uint64_t n) { return Need(in, n) && in.Read(destination, size_t(n)); }
bool Skip(BoundedReader& in, uint64_t n) { return Bytes(in, nullptr, n); }
template <class T>
bool Value(BoundedReader& in, T& v) {
    return Bytes(in, &v, sizeof(T));
}
bool Floats(BoundedReader& in, float* v, uint32_t n) { return Bytes(in, v, uint64_t(n) * 4); }
bool Box(BoundedReader& in, BoundingBox4& box) { return Floats(in, &box.min.x, 4) && Floats(in, &box.max.x, 4); }
// A u32-length text of at most maxLength bytes (0: unlimited but bounded by the input).
bool Text(BoundedReader& in, std::string& text, uint32_t maxLength = 0) {
    uint32_t length = 0;
    if (!Value(in, length) || !Need(in, length)) return false;
    if (maxLength && length > maxLength) return Refuse(in);
    text.assign(reinterpret_cast<const char*>(in.Position()), length);
    return in.Read(nullptr, length);
}
bool Name(BoundedReader& in, NameString& name) {
    uint32_t length = 0;
    if (!Value(in, length) || !Need(in, length)) return false;
    name.Set(reinterpret_cast<const char*>(in.Position()), length);
    return in.Read(nullptr, length);
}
// A u32 count of records of at least minBytes each, checked against the bytes left.
bool Count(BoundedReader& in, uint32_t& count, uint32_t minBytes) {
    return Value(in, count) && Need(in, uint64_t(count) * minBytes);
}

uint32_t IndexSize(uint32_t format) { return format == gfx::FMT_INDEX32 ? 4 : 2; }

// ---- Jobs ------------------------------------------------------------------------------

// The jobs of one rendering-data read, destroyed (each waiting first) on every path.
struct ReadJobs {
    std::unique_ptr<VornexRendererVertexDeclarationCreationJob> declA, declB;
    std::unique_ptr<VornexRendererVertexBufferCreationJob> vertexA, secondaryVertex;
    std::unique_ptr<VornexRendererIndexBufferCreationJob> indexA, indexB, secondaryIndex;
};

// Reads a declaration's count and elements and submits its job (only with elements when
// a count of zero is allowed to make nothing). The list must end with the end marker.
bool ReadDeclaration(BoundedReader& in, std::vector<gfx::VertexElement>& elements,
                     std::unique_ptr<VornexRendererVertexDeclarationCreationJob>& job) {
    uint32_t count = 0;
    if (!Count(in, count, sizeof(gfx::VertexElement))) return false;
    elements.resize(count);
    if (!Bytes(in, elements.data(), uint64_t(count) * sizeof(gfx::VertexElement))) return false;
    if (count == 0) return true;
    if (elements.back().stream != gfx::kDeclEnd.stream) return Refuse(in);
    job = std::make_unique<VornexRendererVertexDeclarationCreationJob>(elements.data(), count, 0);
    SubmitResourceJob(job.get(), false);
    return true;
}

// Size bytes into a block the job takes over; no job for size 0.
template <class Job, class Desc, class... Args>
bool ReadBufferBytes(BoundedReader& in, const Desc& desc, std::unique_ptr<Job>& job, Args... args) {
    if (!Need(in, desc.size)) return false;
    if (desc.size == 0) return true;
    void* block = EngineAlloc(desc.size);
    if (!block) return Refuse(in);
    in.Read(block, desc.size);
    job = std::make_unique<Job>(desc.size, desc.usage, args..., desc.pool, block, true, 0);
    SubmitResourceJob(job.get(), false);
    return true;
}

bool ReadVertexBuffer(BoundedReader& in, gfx::VertexBufferDesc& desc,
                      std::unique_ptr<VornexRendererVertexBufferCreationJob>& job) {
    return Value(in, desc) && ReadBufferBytes(in, desc, job, desc.fvf);
}
bool ReadIndexBuffer(BoundedReader& in, gfx::IndexBufferDesc& desc,
                     std::unique_ptr<VornexRendererIndexBufferCreationJob>& job) {
    return Value(in, desc) && ReadBufferBytes(in, desc, job, desc.format);
}

template <class Job, class Object>
void TakeBuffer(std::unique_ptr<Job>& job, Object*& object) {
    if (!job) return;
    job->WaitForCompletion();
    object = job->TakeBuffer();
}

// Reads a device buffer back; empty when there is none or nothing came back.
template <class Job, class Object>
std::vector<uint8_t> ReadBack(Object* object) {
    std::vector<uint8_t> bytes;
    if (!object) return bytes;
    Job job(object, 0);
    SubmitResourceJob(&job, true);
    uint32_t size = 0;
    void* block = job.TakeBlock(&size);
    if (block) bytes.assign(static_cast<uint8_t*>(block), static_cast<uint8_t*>(block) + size);
    EngineFree(block);
    return bytes;
}

}  // namespace

// ---- Writer -----------------------------------------------------------------------------

uint32_t MeshDeclTypeSize(uint8_t type) {
    switch (type) {
        case gfx::DECLTYPE_FLOAT1: return 4;
        case gfx::DECLTYPE_FLOAT2: return 8;
        case gfx::DECLTYPE_FLOAT3: return 12;
        case gfx::DECLTYPE_FLOAT4: return 16;
        case gfx::DECLTYPE_D3DCOLOR:
        case gfx::DECLTYPE_UBYTE4:
        case gfx::DECLTYPE_UBYTE4N:
        case gfx::DECLTYPE_SHORT2:
        case gfx::DECLTYPE_SHORT2N:
        case gfx::DECLTYPE_USHORT2N:
        case gfx::DECLTYPE_UDEC3:
        case gfx::DECLTYPE_DEC3N:
        case gfx::DECLTYPE_FLOAT16_2: return 4;
        case gfx::DECLTYPE_SHORT4:
        case gfx::DECLTYPE_SHORT4N:
        case gfx::DECLTYPE_USHORT4N:
        case gfx::DECLTYPE_FLOAT16_4: return 8;
        default: return 0;
    }
}

namespace {
// Width of the scalars one element type is swapped by (1: bytes, never swapped).
uint32_t DeclTypeWord(uint8_t type) {
    switch (type) {
        case gfx::DECLTYPE_UBYTE4:
        case gfx::DECLTYPE_UBYTE4N: return 1;
        case gfx::DECLTYPE_SHORT2:
        case gfx::DECLTYPE_SHORT2N:
        case gfx::DECLTYPE_USHORT2N:
        case gfx::DECLTYPE_SHORT4:
        case gfx::DECLTYPE_SHORT4N:
        case gfx::DECLTYPE_USHORT4N:
        case gfx::DECLTYPE_FLOAT16_2:
        case gfx::DECLTYPE_FLOAT16_4: return 2;
        default: return 4;
    }
}
void SwapRun(uint8_t* p, size_t n, uint32_t word) {
    for (size_t i = 0; i + word <= n; i += word) std::reverse(p + i, p + i + word);
}
}  // namespace

void MeshWriter::U16(uint16_t v) {
    if (swap) v = uint16_t((v >> 8) | (v << 8));
    Bytes(&v, 2);
}
void MeshWriter::U32(uint32_t v) {
    if (swap) v = __builtin_bswap32(v);
    Bytes(&v, 4);
}
void MeshWriter::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    U32(bits);
}
void MeshWriter::Box(const BoundingBox4& box) {
    Floats(&box.min.x, 4);
    Floats(&box.max.x, 4);
}
void MeshWriter::Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}
void MeshWriter::Text(const std::string& text) {
    U32(uint32_t(text.size()));
    Bytes(text.data(), text.size());
}
void MeshWriter::Name(const NameString& name) {
    U32(name.Length());
    Bytes(name.CStr(), name.Length());
}
void MeshWriter::Element(const gfx::VertexElement& e) {
    U16(e.stream);
    U16(e.offset);
    U8(e.type);
    U8(e.method);
    U8(e.usage);
    U8(e.usageIndex);
}
void MeshWriter::VertexDesc(const gfx::VertexBufferDesc& d) {
    U32(d.format);
    U32(d.type);
    U32(d.usage);
    U32(d.pool);
    U32(d.size);
    U32(d.fvf);
}
void MeshWriter::IndexDesc(const gfx::IndexBufferDesc& d) {
    U32(d.format);
    U32(d.type);
    U32(d.usage);
    U32(d.pool);
    U32(d.size);
}
void MeshWriter::Indices(const uint8_t* data, size_t n, uint32_t format) {
    const size_t start = out.size();
    Bytes(data, n);
    if (swap) SwapRun(out.data() + start, n, IndexSize(format));
}
bool MeshWriter::Vertices(const uint8_t* data, size_t n, uint32_t stride,
                          const std::vector<gfx::VertexElement>& decl) {
    if (!swap) {
        Bytes(data, n);
        return true;
    }
    for (const gfx::VertexElement& e : decl)
        if (e.stream != gfx::kDeclEnd.stream && MeshDeclTypeSize(e.type) == 0) return false;
    const size_t start = out.size();
    Bytes(data, n);
    uint8_t* bytes = out.data() + start;
    for (size_t v = 0; stride && v + stride <= n; v += stride)
        for (const gfx::VertexElement& e : decl) {
            if (e.stream == gfx::kDeclEnd.stream) break;
            const uint32_t size = MeshDeclTypeSize(e.type);
            if (e.offset + size <= stride) SwapRun(bytes + v + e.offset, size, DeclTypeWord(e.type));
        }
    return true;
}

// ---- Part textures ------------------------------------------------------------------

MeshPartTexture::~MeshPartTexture() {
    if (resource) resource->Release();
}

MeshPartTexture::MeshPartTexture(MeshPartTexture&& other) noexcept
    : name(std::move(other.name)), sampler(other.sampler), flags(other.flags), resource(other.resource),
      texture(other.texture) {
    other.resource = nullptr;
    other.texture = nullptr;
}

bool MeshPartTexture::Read(BoundedReader& in) {
    if (!Text(in, name) || !Value(in, sampler) || !Value(in, flags)) return false;
    if (name.empty() || name.size() >= kMaxResourceName || name.find('\0') != std::string::npos) return true;
    resource = gResourceManager.GetResource(RESOURCE_TEXTURE, name.c_str(), RequestParameter(), true, 0);
    if (resource) {
        resource->Load(false);
        if (resource->GetResourceType() == RESOURCE_TEXTURE) texture = static_cast<ResourceTexture*>(resource)->Handle();
    }
    return true;
}

void MeshPartTexture::Write(MeshWriter& out) const {
    out.Text(name);
    out.U32(sampler);
    out.U32(flags);
}

// ---- Parts -----------------------------------------------------------------------------

void MeshPart::SetExponentBase(float x) {
    exponentBase = x;
    exponent[0] = (x + kExponentOffset) * kLog2E;
    exponent[1] = -exponent[0];
    exponent[2] = x;
    exponent[3] = 0.0f;
}

bool MeshPart::Read(BoundedReader& in, uint32_t version) {
    if (version >= 14) {
        uint32_t p = 0, q = 0, t = 0;
        if (!Count(in, p, 8)) return false;
        palette.resize(size_t(p) * 8);
        if (!Bytes(in, palette.data(), palette.size()) || !Count(in, q, 16)) return false;
        parameters.resize(size_t(q) * 16);
        if (!Bytes(in, parameters.data(), parameters.size()) || !Count(in, t, kMinTextureBytes)) return false;
        // Records grow as they are read: a count only bounds them.
        textures.clear();
        for (uint32_t i = 0; i < t; ++i)
            if (!textures.emplace_back().Read(in)) return false;
    } else if (!Skip(in, 4)) {
        return false;
    }
    if (version >= 16 && !Value(in, word0)) return false;
    if (version < 15) {
        uint32_t length = 0;
        if (!Value(in, length) || !Skip(in, length)) return false;
    }
    if (version >= 5 && (!Text(in, family, kMeshMaxFamilyName) || !Text(in, options))) return false;
    if (version >= 18 && !Bytes(in, words, 12)) return false;
    if (version >= 19 && !Value(in, words[3])) return false;
    if (version >= 37 && !Value(in, words[4])) return false;
    if (version >= 38 && !Value(in, words[5])) return false;
    if (version >= 17 && !Value(in, flags)) return false;
    if (!Value(in, firstTriangle) || !Value(in, triangleCount)) return false;
    if (version >= 37 && (!Value(in, lowestVertex) || !Value(in, highestVertex))) return false;
    if (version >= 39 && version <= 49 && !Skip(in, 2)) return false;
    if (version >= 40 && version <= 49 && !Skip(in, 2)) return false;
    if (version >= 50 && (!Value(in, secondaryTriangleCount) || !Value(in, secondaryFirstTriangle))) return false;
    if (version >= 41 && (!Value(in, word7) || !Value(in, word8))) return false;
    if (version >= 45) {
        float x = 0;
        if (!Value(in, x)) return false;
        SetExponentBase(x);
    }
    if ((version == 13 || version == 14) && !Skip(in, 16)) return false;
    if (version >= 22 && !Value(in, passKind)) return false;
    if (version >= 30 && !Value(in, attachmentBone)) return false;
    if (version >= 29 && !Value(in, word9)) return false;
    if (version >= 29 && version <= 45 && !Skip(in, 4)) return false;
    if (version >= 21 && !Floats(in, &vectors[0][0], 12)) return false;
    return true;
}

void MeshPart::Write(MeshWriter& out) const {
    out.U32(uint32_t(palette.size() / 8));
    out.Bytes(palette.data(), palette.size());
    out.U32(uint32_t(parameters.size() / 16));
    out.Bytes(parameters.data(), parameters.size());
    out.U32(uint32_t(textures.size()));
    for (const MeshPartTexture& t : textures) t.Write(out);
    out.U32(word0);
    out.Text(family);
    out.Text(options);
    for (uint32_t w : words) out.U32(w);
    out.U32(flags);
    out.U32(firstTriangle);
    out.U32(triangleCount);
    out.U16(lowestVertex);
    out.U16(highestVertex);
    out.U16(secondaryTriangleCount);
    out.U16(secondaryFirstTriangle);
    out.F32(word7);
    out.F32(word8);
    out.F32(exponentBase);
    out.U8(passKind);
    out.U8(attachmentBone);
    out.F32(word9);
    out.Floats(&vectors[0][0], 12);
}

// ---- Shader presets -------------------------------------------------------------------

uint32_t MeshShaderPreset::ComputePassMask() const {
    uint32_t mask = 0;
    for (const MeshPart& p : parts)
        if (p.passKind >= 1 && p.passKind <= 4) mask |= 1u << p.passKind;
    return mask;
}

bool MeshShaderPreset::Read(BoundedReader& in, uint32_t version) {
    if (version >= 12 && !Name(in, name)) return false;
    uint32_t count = 0;
    if (!Count(in, count, kMinPartBytes)) return false;
    parts.clear();
    for (uint32_t i = 0; i < count; ++i)
        if (!parts.emplace_back().Read(in, version)) return false;
    if (version >= 34) return Value(in, passMask);
    passMask = ComputePassMask();
    return true;
}

void MeshShaderPreset::Write(MeshWriter& out) const {
    out.Name(name);
    out.U32(uint32_t(parts.size()));
    for (const MeshPart& p : parts) p.Write(out);
    out.U32(passMask);
}

// ---- Hierarchy -----------------------------------------------------------------------

bool MeshHierarchy::Read(BoundedReader& in, uint32_t version) {
    uint32_t n = 0, b = 0;
    if (!Value(in, n) || !Value(in, b)) return false;
    if (n > kMeshMaxNodes) return Refuse(in);
    if (!Need(in, (uint64_t(n) + b) * kMatrixBytes + uint64_t(n) * kMinNodeBytes)) return false;
    matrices.resize((size_t(n) + b) * 16);
    boneCount = b;
    nodes.resize(n);
    if (!Bytes(in, matrices.data(), uint64_t(n) * kMatrixBytes)) return false;
    for (uint32_t i = 0; i < n; ++i) {
        MeshHierarchyNode& node = nodes[i];
        if (!Name(in, node.name) || !Value(in, node.parent) || !Value(in, node.bone)) return false;
        if (node.parent != kMeshNoIndex && node.parent >= i) return Refuse(in);
        if (node.bone != kMeshNoIndex && node.bone >= b) return Refuse(in);
    }
    if (!Bytes(in, matrices.data() + size_t(n) * 16, uint64_t(b) * kMatrixBytes)) return false;
    treeNodes.clear();
    if (version < 9) return true;
    uint32_t m = 0;
    if (!Count(in, m, kMinTreeNodeBytes)) return false;
    treeNodes.resize(m);
    for (MeshAnimationTreeNode& t : treeNodes) {
        if (!Name(in, t.name) || !Value(in, t.firstNode) || !Value(in, t.nodeCount) || !Value(in, t.parent) ||
            !Value(in, t.firstChild) || !Value(in, t.nextSibling))
            return false;
        if (uint64_t(t.firstNode) + t.nodeCount > n) return Refuse(in);
        for (uint32_t link : {t.parent, t.firstChild, t.nextSibling})
            if (link != kMeshNoTreeNode && link >= m) return Refuse(in);
    }
    return true;
}

void MeshHierarchy::Write(MeshWriter& out) const {
    const uint32_t n = NodeCount();
    out.U32(n);
    out.U32(boneCount);
    out.Floats(matrices.data(), n * 16);
    for (const MeshHierarchyNode& node : nodes) {
        out.Name(node.name);
        out.U8(node.parent);
        out.U8(node.bone);
    }
    out.Floats(matrices.data() + size_t(n) * 16, boneCount * 16);
    out.U32(uint32_t(treeNodes.size()));
    for (const MeshAnimationTreeNode& t : treeNodes) {
        out.Name(t.name);
        out.U32(t.firstNode);
        out.U32(t.nodeCount);
        out.U32(t.parent);
        out.U32(t.firstChild);
        out.U32(t.nextSibling);
    }
}

void MeshHierarchy::GetNodeNames(std::vector<NameString>& list, bool bonesOnly) const {
    list.clear();
    for (const MeshHierarchyNode& node : nodes)
        if (!node.name.IsEmpty() && (!bonesOnly || node.bone != kMeshNoIndex)) list.push_back(node.name);
}

int32_t MeshHierarchy::FindNode(const NameString& name) const {
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].name == name) return int32_t(i);
    return -1;
}

int32_t MeshHierarchy::FindAnimationTreeNode(const NameString& name) const {
    for (size_t i = 0; i < treeNodes.size(); ++i)
        if (treeNodes[i].name == name) return int32_t(i);
    return -1;
}

Matrix MeshHierarchy::BindPoseGlobal(uint32_t node) const {
    Matrix global = Matrix::IDENTITY;
    // Node matrices are relative to the parent; walking up, each parent's matrix applies
    // after what is below it.
    for (uint32_t i = node; i < nodes.size();) {
        const float* f = matrices.data() + size_t(i) * 16;
        const Matrix local(Vector(f[0], f[1], f[2], f[3]), Vector(f[4], f[5], f[6], f[7]),
                           Vector(f[8], f[9], f[10], f[11]), Vector(f[12], f[13], f[14], f[15]));
        Matrix next;
        next.Mul(local, global);  // global x local: what is below first, then this node
        global = next;
        if (nodes[i].parent == kMeshNoIndex) break;
        i = nodes[i].parent;
    }
    return global;
}

// ---- Rendering data -------------------------------------------------------------------

void MeshTemplateRenderingData::Destroy() { delete this; }

void MeshTemplateRenderingData::ReleaseDeviceObjects() {
    auto release = [](auto*& object) {
        if (object) object->Release();
        object = nullptr;
    };
    release(declarationA);
    release(declarationB);
    release(vertexBufferA);
    release(indexBufferA);
    release(indexBufferB);
    release(secondaryVertexBuffer);
    release(secondaryIndexBuffer);
    EngineFree(indexCopy);
    indexCopy = nullptr;
    indexCopySize = 0;
}

uint32_t MeshTemplateRenderingData::IndexCount() const { return indexCopySize / IndexSize(indexDescA.format); }

void MeshTemplateRenderingData::BuildCollisionVertices(const gfx::VertexElement* elements, uint32_t count,
                                                       const uint8_t* vertices, uint32_t vertexCount,
                                                       uint32_t stride) {
    mainMemoryVertices.clear();
    mainMemoryVertices.shrink_to_fit();
    mainMemorySize = 0;
    mainMemoryFlags = 0;
    if (!gProjectConfig || !gProjectConfig->GetCollisionVertices() || count == 0 || !elements) return;
    int32_t position = -1, weights = -1, indices = -1;
    for (uint32_t i = 0; i < count && elements[i].stream < 255; ++i) {
        if (elements[i].usage == gfx::DECLUSAGE_POSITION) position = int32_t(i);
        if (elements[i].usage == gfx::DECLUSAGE_BLENDWEIGHT) weights = int32_t(i);
        if (elements[i].usage == gfx::DECLUSAGE_BLENDINDICES) indices = int32_t(i);
    }
    if (position < 0 || vertexCount == 0) return;
    const gfx::VertexElement& p = elements[position];
    uint32_t positionBytes = 0;
    if (p.type == gfx::DECLTYPE_FLOAT3) {
        mainMemoryFlags = kMeshVertexFloat3;
        positionBytes = 12;
    } else if (p.type == gfx::DECLTYPE_SHORT4N) {
        mainMemoryFlags = kMeshVertexShort4N;
        positionBytes = 8;
    } else {
        return;
    }
    mainMemorySize = positionBytes;
    const bool blend = indices >= 0 && weights == indices + 1 &&
                       elements[weights].offset == uint32_t(elements[indices].offset) + 4;
    if (blend) {
        mainMemoryFlags |= kMeshVertexBlend;
        mainMemorySize += 8;
    }
    // The reader refuses buffers too small for vertexCount x stride; the elements must
    // also lie inside the stride.
    if (p.offset + positionBytes > stride || (blend && elements[indices].offset + 8u > stride)) {
        mainMemorySize = mainMemoryFlags = 0;
        return;
    }
    mainMemoryVertices.resize(size_t(vertexCount) * mainMemorySize);
    uint8_t* out = mainMemoryVertices.data();
    for (uint32_t v = 0; v < vertexCount; ++v, vertices += stride) {
        std::memcpy(out, vertices + p.offset, positionBytes);
        out += positionBytes;
        if (blend) {
            std::memcpy(out, vertices + elements[indices].offset, 8);
            out += 8;
        }
    }
}

namespace {
uint32_t MainMemoryLayoutSize(uint32_t flags) {
    return ((flags & kMeshVertexFloat3) ? 12 : 0) + ((flags & kMeshVertexShort4N) ? 8 : 0) +
           ((flags & kMeshVertexBlend) ? 8 : 0);
}

// A part's ranges against the buffers: triangles inside index buffer A, secondary
// triangles inside the secondary index buffer, and lowest <= highest < vertex count
// (both 0: the whole buffer).
bool PartFits(const MeshPart& p, uint64_t triangles, uint64_t secondaryTriangles, uint32_t vertexCount) {
    if (uint64_t(p.firstTriangle) + p.triangleCount > triangles) return false;
    if (uint64_t(p.secondaryFirstTriangle) + p.secondaryTriangleCount > secondaryTriangles) return false;
    if (p.lowestVertex == 0 && p.highestVertex == 0) return true;
    return p.lowestVertex <= p.highestVertex && p.highestVertex < vertexCount;
}
}  // namespace

bool MeshTemplateRenderingData::Read(BoundedReader& in, uint32_t version, const char* templateName) {
    ReadJobs jobs;
    if (version >= 36 && !Value(in, storageFlags)) return false;
    if (version >= 25 && !Box(in, box)) return false;
    if (version >= 26 && version <= 42 && !Skip(in, 64)) return false;
    if (version >= 44 && !Box(in, secondBox)) return false;
    if (!ReadDeclaration(in, declA, jobs.declA)) return false;
    if (version >= 23 && !ReadDeclaration(in, declB, jobs.declB)) return false;
    if (!Value(in, vertexCount) || !Value(in, stride)) return false;

    // Buffer A's bytes stay readable in the input for the collision vertices.
    const uint8_t* bufferABytes = nullptr;
    const bool mainMemoryOnly = (storageFlags & kMeshStorageMainMemoryOnly) != 0;
    if (!mainMemoryOnly) {
        if (!Value(in, vertexDescA)) return false;
        bufferABytes = in.Position();
        if (!ReadBufferBytes(in, vertexDescA, jobs.vertexA, vertexDescA.fvf)) return false;
        // Indices are checked against the vertex count, so the buffer must hold that many
        // vertices in every version (the collision vertices are copied from it too).
        if (uint64_t(vertexDescA.size) < uint64_t(vertexCount) * stride) return Refuse(in);
    } else {
        if (!Value(in, mainMemoryFlags) || !Value(in, mainMemorySize)) return false;
        if (MainMemoryLayoutSize(mainMemoryFlags) > mainMemorySize) return Refuse(in);
        // Vertices with blend data are skinned on the CPU: what skinning reads must fit a
        // main-memory vertex and what it writes a vertex of the stride.
        if ((mainMemoryFlags & kMeshVertexBlend) &&
            (MeshSkinInputSize(mainMemoryFlags) > mainMemorySize || MeshSkinOutputSize(mainMemoryFlags) > stride))
            return Refuse(in);
        const uint64_t bytes = uint64_t(vertexCount) * mainMemorySize;
        if (!Need(in, bytes)) return false;
        mainMemoryVertices.resize(size_t(bytes));
        in.Read(mainMemoryVertices.data(), size_t(bytes));
    }
    if (!Value(in, indexWordA) || !ReadIndexBuffer(in, indexDescA, jobs.indexA)) return false;
    if (!Value(in, indexWordB) || !ReadIndexBuffer(in, indexDescB, jobs.indexB)) return false;
    if (version >= 39 && version <= 49) {
        gfx::VertexBufferDesc obsolete{};
        if (!Skip(in, 4) || !Value(in, obsolete) || !Skip(in, obsolete.size)) return false;
    }
    if (version >= 50) {
        if (!Value(in, secondaryWords[0]) || !Value(in, secondaryWords[1])) return false;
        if (!ReadVertexBuffer(in, secondaryVertexDesc, jobs.secondaryVertex)) return false;
        if (!ReadIndexBuffer(in, secondaryIndexDesc, jobs.secondaryIndex)) return false;
    }
    if (version == 6 && !Skip(in, 4)) return false;
    if (version >= 6 && !Value(in, skinningBoneCount)) return false;

    // Take the device objects in a fixed order; index buffer A's bytes become the copy.
    if (jobs.declA) {
        jobs.declA->WaitForCompletion();
        declarationA = jobs.declA->TakeDeclaration();
    }
    if (jobs.declB) {
        jobs.declB->WaitForCompletion();
        declarationB = jobs.declB->TakeDeclaration();
    }
    TakeBuffer(jobs.vertexA, vertexBufferA);
    TakeBuffer(jobs.indexA, indexBufferA);
    if (jobs.indexA) indexCopy = static_cast<uint8_t*>(jobs.indexA->TakeData(&indexCopySize));
    TakeBuffer(jobs.indexB, indexBufferB);
    TakeBuffer(jobs.secondaryVertex, secondaryVertexBuffer);
    TakeBuffer(jobs.secondaryIndex, secondaryIndexBuffer);

    // Every index of the copy must name a vertex.
    const uint32_t indexSize = IndexSize(indexDescA.format);
    for (uint32_t i = 0; i + indexSize <= indexCopySize; i += indexSize) {
        uint32_t index = 0;
        std::memcpy(&index, indexCopy + i, indexSize);
        if (index >= vertexCount) return Refuse(in);
    }

    if (version < 11) {
        uint32_t count = 0;
        if (!Count(in, count, kMinPartBytes)) return false;
        for (uint32_t i = 0; i < count; ++i) {
            MeshPart legacy;
            if (!legacy.Read(in, version)) return false;
        }
    }
    if (version >= 3 && version <= 9) {
        uint32_t count = 0;
        if (!Count(in, count, 12) || !Skip(in, uint64_t(count) * 12)) return false;
        gLog.Error(LogCategory::Engine, "Collision info for %s outdated. Please use mesh editor to refresh it",
                   templateName ? templateName : "");
    } else if (version >= 10 && version <= 32) {
        uint32_t a = 0, b = 0, c = 0;
        if (!Value(in, a) || !Value(in, b) || !Value(in, c) || !Skip(in, uint64_t(c) * a)) return false;
    }
    if (version >= 10 && bufferABytes && !mainMemoryOnly) {
        BuildCollisionVertices(declB.data(), uint32_t(declB.size()), bufferABytes, vertexCount, stride);
    }
    if (version >= 3 && version <= 31) {
        uint32_t count = 0;
        if (!Count(in, count, 6) || !Skip(in, uint64_t(count) * 6)) return false;
    }
    if (version >= 11) {
        uint32_t count = 0;
        if (!Count(in, count, 4)) return false;
        presets.clear();
        const uint64_t triangles = IndexCount() / 3;
        const uint64_t secondaryTriangles = secondaryIndexDesc.size / IndexSize(secondaryIndexDesc.format) / 3;
        for (uint32_t i = 0; i < count; ++i) {
            MeshShaderPreset& preset = presets.emplace_back();
            if (!preset.Read(in, version)) return false;
            for (const MeshPart& p : preset.parts)
                if (!PartFits(p, triangles, secondaryTriangles, vertexCount)) return Refuse(in);
        }
    }
    static constexpr struct {
        uint32_t byte, since;
    } kRenderBytes[] = {{1, 20}, {3, 20}, {2, 27}, {6, 49}, {8, 31}, {4, 22}, {5, 24}, {7, 48}};
    for (const auto& r : kRenderBytes)
        if (version >= r.since && !Value(in, renderBytes[r.byte])) return false;
    if (version >= 28 && version <= 34 && !Skip(in, 1)) return false;
    ResolveAllShaders();
    MarkDirty();
    return true;
}

bool MeshTemplateRenderingData::Write(MeshWriter& out) const {
    out.U32(storageFlags);
    out.Box(box);
    out.Box(secondBox);
    out.U32(uint32_t(declA.size()));
    for (const gfx::VertexElement& e : declA) out.Element(e);
    out.U32(uint32_t(declB.size()));
    for (const gfx::VertexElement& e : declB) out.Element(e);
    out.U32(vertexCount);
    out.U32(stride);
    if (!(storageFlags & kMeshStorageMainMemoryOnly)) {
        const std::vector<uint8_t> bytes = ReadBack<VornexRendererVertexBufferSerializationJob>(vertexBufferA);
        if (bytes.size() != vertexDescA.size) return false;
        out.VertexDesc(vertexDescA);
        if (!out.Vertices(bytes.data(), bytes.size(), stride, declA)) return false;
    } else {
        out.U32(mainMemoryFlags);
        out.U32(mainMemorySize);
        if (!out.Swapping()) {
            out.Bytes(mainMemoryVertices.data(), mainMemoryVertices.size());
        } else {
            // Positions as floats or shorts, the blend bytes as they are.
            std::vector<gfx::VertexElement> layout;
            if (mainMemoryFlags & kMeshVertexFloat3) layout.push_back({0, 0, gfx::DECLTYPE_FLOAT3, 0, 0, 0});
            else if (mainMemoryFlags & kMeshVertexShort4N) layout.push_back({0, 0, gfx::DECLTYPE_SHORT4N, 0, 0, 0});
            out.Vertices(mainMemoryVertices.data(), mainMemoryVertices.size(), mainMemorySize, layout);
        }
    }
    const auto writeIndices = [&](uint32_t word, const gfx::IndexBufferDesc& desc, gfx::IndexBuffer* buffer) {
        const std::vector<uint8_t> bytes = ReadBack<VornexRendererIndexBufferSerializationJob>(buffer);
        if (bytes.size() != desc.size) return false;
        out.U32(word);
        out.IndexDesc(desc);
        out.Indices(bytes.data(), bytes.size(), desc.format);
        return true;
    };
    if (!writeIndices(indexWordA, indexDescA, indexBufferA) || !writeIndices(indexWordB, indexDescB, indexBufferB))
        return false;
    out.U32(secondaryWords[0]);
    out.U32(secondaryWords[1]);
    {
        const std::vector<uint8_t> bytes = ReadBack<VornexRendererVertexBufferSerializationJob>(secondaryVertexBuffer);
        if (bytes.size() != secondaryVertexDesc.size) return false;
        out.VertexDesc(secondaryVertexDesc);
        out.Indices(bytes.data(), bytes.size(), gfx::FMT_INDEX32);  // eight floats per vertex
    }
    {
        const std::vector<uint8_t> bytes = ReadBack<VornexRendererIndexBufferSerializationJob>(secondaryIndexBuffer);
        if (bytes.size() != secondaryIndexDesc.size) return false;
        out.IndexDesc(secondaryIndexDesc);
        out.Indices(bytes.data(), bytes.size(), secondaryIndexDesc.format);
    }
    out.U32(skinningBoneCount);
    out.U32(uint32_t(presets.size()));
    for (const MeshShaderPreset& p : presets) p.Write(out);
    for (uint32_t b : {1u, 3u, 2u, 6u, 8u, 4u, 5u, 7u}) out.U8(renderBytes[b]);
    return true;
}
