// The drawing back end: OpenGL 4.5 core on EGL (see GlBackend.h for the contract).
//
// Conventions of the original device, kept here:
// - memory row 0 of every surface is the top of the picture, as the original stores it,
//   and GL's window row 0: viewports, scissor rectangles and copies use the original's
//   coordinates unchanged;
// - clip space: depth 0..1 (glClipControl) with GL's own lower-left origin; the vertex
//   stage negates y (ShaderSpirv.cpp), so clip y = +1 still lands on row 0. The
//   picture's y then grows with GL's window y, and GL's tie rule for pixel centres on
//   an edge (Mesa draws them on the edges that are bottom or left in window terms, as
//   the original does in picture terms once y points down) is the original's top-left
//   rule, exactly, for every slope;
// - pixel centres: the original samples pixel i at coordinate i, GL at i + 0.5; the
//   vertex stage moves the geometry by exactly half a pixel right and down, so a
//   full-screen quad covers each pixel once and texel-centre offsets in the shaders
//   land where they did;
// - clockwise front faces on screen: negating y mirrors the winding GL sees, so GL's
//   front faces are its counter-clockwise ones; DECLTYPE_D3DCOLOR vertex colours are
//   bytes B, G, R, A;
// - colour conversion, as the original documents it: a colour byte b reads as b / 255
//   (vertex colours, clear and fill colours, border colours, the blend factor), and a
//   value written to a normalised target is clamped to 0..1 and rounded to the nearest
//   step (GL's rule is the same, so nothing is converted here);
// - colour formats of 8 bits per channel are stored as sRGB textures, so one texture
//   can be read with or without sRGB decoding per sampler (EXT_texture_sRGB_decode) and
//   written with or without encoding (GL_FRAMEBUFFER_SRGB), as the original's
//   SAMP_SRGBTEXTURE and RS_SRGBWRITEENABLE do. Conversions follow the sRGB
//   transfer function, as the original's documentation gives it.
#include "platform/gfx/GlBackend.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>

#include "platform/gfx/GlFunctions.h"
#include "platform/gfx/PixelFormat.h"
#include "platform/gfx/ShaderSpirv.h"

namespace gfx::detail {
namespace {

// ---------------------------------------------------------------- formats

struct GlFormat {
    Format format;
    GLenum internal, layout, type;
    GLint swizzle[4];
    bool compressed;
    bool srgbCapable;  // stored as sRGB so both decodings are possible
};

constexpr GLint R = GL_RED, G = GL_GREEN, B = GL_BLUE, A = GL_ALPHA, ONE = GL_ONE, ZERO = GL_ZERO;

const GlFormat kFormats[] = {
    {FMT_A8R8G8B8, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, {R, G, B, A}, false, true},
    {FMT_X8R8G8B8, GL_SRGB8_ALPHA8, GL_BGRA, GL_UNSIGNED_BYTE, {R, G, B, ONE}, false, true},
    {FMT_A8B8G8R8, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, {R, G, B, A}, false, true},
    {FMT_X8B8G8R8, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, {R, G, B, ONE}, false, true},
    {FMT_R8G8B8, GL_SRGB8, GL_BGR, GL_UNSIGNED_BYTE, {R, G, B, ONE}, false, true},
    {FMT_A8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {ZERO, ZERO, ZERO, R}, false, false},
    {FMT_L8, GL_R8, GL_RED, GL_UNSIGNED_BYTE, {R, R, R, ONE}, false, false},
    {FMT_A8L8, GL_RG8, GL_RG, GL_UNSIGNED_BYTE, {R, R, R, G}, false, false},
    {FMT_L16, GL_R16, GL_RED, GL_UNSIGNED_SHORT, {R, R, R, ONE}, false, false},
    {FMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, {R, G, B, ONE}, false, false},
    {FMT_A1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, {R, G, B, A}, false, false},
    {FMT_X1R5G5B5, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, {R, G, B, ONE}, false, false},
    {FMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, {R, G, B, A}, false, false},
    {FMT_A2B10G10R10, GL_RGB10_A2, GL_RGBA, GL_UNSIGNED_INT_2_10_10_10_REV, {R, G, B, A}, false, false},
    {FMT_A2R10G10B10, GL_RGB10_A2, GL_BGRA, GL_UNSIGNED_INT_2_10_10_10_REV, {R, G, B, A}, false, false},
    {FMT_G16R16, GL_RG16, GL_RG, GL_UNSIGNED_SHORT, {R, G, ONE, ONE}, false, false},
    {FMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, {R, G, B, A}, false, false},
    {FMT_R16F, GL_R16F, GL_RED, GL_HALF_FLOAT, {R, ONE, ONE, ONE}, false, false},
    {FMT_G16R16F, GL_RG16F, GL_RG, GL_HALF_FLOAT, {R, G, ONE, ONE}, false, false},
    {FMT_A16B16G16R16F, GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT, {R, G, B, A}, false, false},
    {FMT_R32F, GL_R32F, GL_RED, GL_FLOAT, {R, ONE, ONE, ONE}, false, false},
    {FMT_G32R32F, GL_RG32F, GL_RG, GL_FLOAT, {R, G, ONE, ONE}, false, false},
    {FMT_A32B32G32R32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, {R, G, B, A}, false, false},
    {FMT_DXT1, kGlSrgbDxt1, 0, 0, {R, G, B, A}, true, true},
    {FMT_DXT3, kGlSrgbDxt3, 0, 0, {R, G, B, A}, true, true},
    {FMT_DXT5, kGlSrgbDxt5, 0, 0, {R, G, B, A}, true, true},
    // Depth: a sampled depth texture reads its depth in every channel.
    {FMT_D16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, {R, R, R, R}, false, false},
    {FMT_D16_LOCKABLE, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, {R, R, R, R}, false, false},
    {FMT_D24S8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, {R, R, R, R}, false, false},
    {FMT_D24X8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, {R, R, R, R}, false, false},
    {FMT_INTZ, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, {R, R, R, R}, false, false},
    {FMT_D32, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, {R, R, R, R}, false, false},
    {FMT_D32F_LOCKABLE, GL_DEPTH_COMPONENT32F, GL_DEPTH_COMPONENT, GL_FLOAT, {R, R, R, R}, false, false},
};

const GlFormat* FindFormat(Format format) {
    for (const GlFormat& f : kFormats)
        if (f.format == format) return &f;
    return nullptr;
}

bool HasStencil(const GlFormat* f) { return f->layout == GL_DEPTH_STENCIL; }
bool IsDepth(const GlFormat* f) { return f->layout == GL_DEPTH_COMPONENT || f->layout == GL_DEPTH_STENCIL; }

GLenum Primitive(PrimitiveType type) {
    switch (type) {
    case PT_POINTLIST: return GL_POINTS;
    case PT_LINELIST: return GL_LINES;
    case PT_LINESTRIP: return GL_LINE_STRIP;
    case PT_TRIANGLELIST: return GL_TRIANGLES;
    case PT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    default: return GL_TRIANGLE_FAN;
    }
}

uint32_t Vertices(PrimitiveType type, uint32_t primitives) {
    switch (type) {
    case PT_POINTLIST: return primitives;
    case PT_LINELIST: return primitives * 2;
    case PT_LINESTRIP: return primitives + 1;
    case PT_TRIANGLELIST: return primitives * 3;
    default: return primitives + 2;
    }
}

GLenum BlendFactor(uint32_t v) {
    switch (v) {
    case BLEND_ZERO: return GL_ZERO;
    case BLEND_ONE: return GL_ONE;
    case BLEND_SRCCOLOR: return GL_SRC_COLOR;
    case BLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case BLEND_SRCALPHA: return GL_SRC_ALPHA;
    case BLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case BLEND_DESTALPHA: return GL_DST_ALPHA;
    case BLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case BLEND_DESTCOLOR: return GL_DST_COLOR;
    case BLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
    case BLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case BLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
    case BLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
    }
}

GLenum BlendEquation(uint32_t v) {
    switch (v) {
    case BLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case BLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case BLENDOP_MIN: return GL_MIN;
    case BLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

GLenum Compare(uint32_t v) {
    switch (v) {
    case CMP_NEVER: return GL_NEVER;
    case CMP_LESS: return GL_LESS;
    case CMP_EQUAL: return GL_EQUAL;
    case CMP_LESSEQUAL: return GL_LEQUAL;
    case CMP_GREATER: return GL_GREATER;
    case CMP_NOTEQUAL: return GL_NOTEQUAL;
    case CMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
    }
}

GLenum StencilOperation(uint32_t v) {
    switch (v) {
    case STENCILOP_ZERO: return GL_ZERO;
    case STENCILOP_REPLACE: return GL_REPLACE;
    case STENCILOP_INCRSAT: return GL_INCR;
    case STENCILOP_DECRSAT: return GL_DECR;
    case STENCILOP_INVERT: return GL_INVERT;
    case STENCILOP_INCR: return GL_INCR_WRAP;
    case STENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
    }
}

GLenum Address(uint32_t v) {
    switch (v) {
    case TADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case TADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case TADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case TADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
    }
}

float AsFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// One vertex element: where a shader input reads from.
struct Element {
    uint16_t stream, offset;
    uint8_t type, usage, usageIndex;
};

// The element list a flexible vertex format stands for.
void FvfElements(uint32_t fvf, std::vector<Element>* elements) {
    std::vector<Element>& out = *elements;
    uint16_t offset = 0;
    if (fvf & FVF_XYZRHW) {
        out.push_back({0, offset, DECLTYPE_FLOAT4, DECLUSAGE_POSITIONT, 0});
        offset += 16;
    } else if (fvf & FVF_XYZ) {
        out.push_back({0, offset, DECLTYPE_FLOAT3, DECLUSAGE_POSITION, 0});
        offset += 12;
    }
    if (fvf & FVF_NORMAL) {
        out.push_back({0, offset, DECLTYPE_FLOAT3, DECLUSAGE_NORMAL, 0});
        offset += 12;
    }
    if (fvf & FVF_PSIZE) {
        out.push_back({0, offset, DECLTYPE_FLOAT1, DECLUSAGE_PSIZE, 0});
        offset += 4;
    }
    if (fvf & FVF_DIFFUSE) {
        out.push_back({0, offset, DECLTYPE_D3DCOLOR, DECLUSAGE_COLOR, 0});
        offset += 4;
    }
    if (fvf & FVF_SPECULAR) {
        out.push_back({0, offset, DECLTYPE_D3DCOLOR, DECLUSAGE_COLOR, 1});
        offset += 4;
    }
    const uint32_t texCount = (fvf & FVF_TEXCOUNT_MASK) >> FVF_TEXCOUNT_SHIFT;
    for (uint32_t t = 0; t < texCount && t < 8; ++t) {
        // Coordinate sizes (bits 16+) default to two floats.
        const uint32_t sizeBits = (fvf >> (16 + 2 * t)) & 3;
        const uint8_t type = sizeBits == 0 ? DECLTYPE_FLOAT2
                             : sizeBits == 1 ? DECLTYPE_FLOAT3
                             : sizeBits == 2 ? DECLTYPE_FLOAT4
                                             : DECLTYPE_FLOAT1;
        out.push_back({0, offset, type, DECLUSAGE_TEXCOORD, static_cast<uint8_t>(t)});
        offset += type == DECLTYPE_FLOAT1 ? 4 : type == DECLTYPE_FLOAT2 ? 8 : type == DECLTYPE_FLOAT3 ? 12 : 16;
    }
}

struct AttribFormat {
    GLint size;
    GLenum type;
    GLboolean normalised;
};

// One shader input as sent to GL: from a buffer, or (buffer 0) a constant: (0, 0, 0, 1),
// or opaque white for the diffuse colour, which the fixed-function pipeline the stand-in
// shaders replace gives vertices without one. A divisor above 0 reads the buffer per
// instance: the same element for that many instances in a row.
struct Attrib {
    uint32_t location;
    GLuint buffer;
    uint32_t offset, stride;
    AttribFormat format;
    bool white = false;
    uint32_t divisor = 0;
};
struct Attribs {
    uint32_t count = 0;
    Attrib list[32];
    bool operator==(const Attribs& o) const {
        if (count != o.count) return false;
        for (uint32_t i = 0; i < count; ++i) {
            const Attrib &a = list[i], &b = o.list[i];
            if (a.location != b.location || a.buffer != b.buffer || a.offset != b.offset || a.stride != b.stride ||
                a.format.size != b.format.size || a.format.type != b.format.type ||
                a.format.normalised != b.format.normalised || a.white != b.white || a.divisor != b.divisor)
                return false;
        }
        return true;
    }
};

AttribFormat AttribOf(uint8_t type) {
    switch (type) {
    case DECLTYPE_FLOAT1: return {1, GL_FLOAT, GL_FALSE};
    case DECLTYPE_FLOAT2: return {2, GL_FLOAT, GL_FALSE};
    case DECLTYPE_FLOAT3: return {3, GL_FLOAT, GL_FALSE};
    case DECLTYPE_FLOAT4: return {4, GL_FLOAT, GL_FALSE};
    case DECLTYPE_D3DCOLOR: return {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE};
    case DECLTYPE_UBYTE4: return {4, GL_UNSIGNED_BYTE, GL_FALSE};
    case DECLTYPE_SHORT2: return {2, GL_SHORT, GL_FALSE};
    case DECLTYPE_SHORT4: return {4, GL_SHORT, GL_FALSE};
    case DECLTYPE_UBYTE4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE};
    case DECLTYPE_SHORT2N: return {2, GL_SHORT, GL_TRUE};
    case DECLTYPE_SHORT4N: return {4, GL_SHORT, GL_TRUE};
    case DECLTYPE_USHORT2N: return {2, GL_UNSIGNED_SHORT, GL_TRUE};
    case DECLTYPE_USHORT4N: return {4, GL_UNSIGNED_SHORT, GL_TRUE};
    case DECLTYPE_UDEC3: return {4, GL_UNSIGNED_INT_2_10_10_10_REV, GL_FALSE};
    case DECLTYPE_DEC3N: return {4, GL_INT_2_10_10_10_REV, GL_TRUE};
    case DECLTYPE_FLOAT16_2: return {2, GL_HALF_FLOAT, GL_FALSE};
    case DECLTYPE_FLOAT16_4: return {4, GL_HALF_FLOAT, GL_FALSE};
    default: return {0, 0, GL_FALSE};
    }
}

// ---------------------------------------------------------------- EGL

struct Egl {
    EGLDisplay display = EGL_NO_DISPLAY;
    std::string error;
};

const Egl& Display() {
    static Egl egl;
    static std::once_flag once;
    std::call_once(once, [] {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            egl.error = "EGL has no eglGetPlatformDisplayEXT";
            return;
        }
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
            egl.error = "no surfaceless EGL display (libegl-mesa0 missing?)";
            return;
        }
        if (!eglBindAPI(EGL_OPENGL_API)) {
            egl.error = "EGL cannot bind the OpenGL API";
            return;
        }
        egl.display = display;
    });
    return egl;
}

EGLContext MakeContext(EGLContext share) {
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    eglBindAPI(EGL_OPENGL_API);
    return eglCreateContext(Display().display, EGL_NO_CONFIG_KHR, share, attributes);
}

void* GetProc(const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

// ---------------------------------------------------------------- mirrors

struct TexMirror {
    GLuint name = 0;
    GLenum target = GL_TEXTURE_2D;
    const GlFormat* format = nullptr;
};

struct SurfaceLocation {
    ObjectCore* owner;
    GLenum target;  // GL_TEXTURE_2D or a cube face
    GLint level;
};

// A dynamic buffer's storage holds `slots` copies of it, persistently mapped: each
// discard lock writes the next copy directly, without waiting for draws that read the
// others; after the last copy the buffer gets new storage. (Waiting on fences to reuse
// copies measured slower on the software rasteriser: a wait cuts its batches short.)
// Static buffers have one copy.
struct BufMirror {
    GLuint name = 0;
    uint32_t size = 0;
    uint32_t slots = 1, slot = 0;
    uint8_t* mapped = nullptr;  // dynamic buffers: the persistent mapping of all copies
};
constexpr uint32_t kRingedBufferBytes = 1u << 20;  // the most a dynamic buffer's copies take together
constexpr uint32_t kRingSlots = 64;

// A pixel stage is compiled up to twice: without the alpha test, and with it
// (kAlphaTestDefine) for draws whose alpha test can fail.
struct ShaderMirror {
    GlslStage glsl;
    GLuint shader = 0, alphaShader = 0;
    bool failed = false, alphaFailed = false;
    bool pixel = false;
};

struct Program {
    GLuint name = 0;
    bool failed = false;
    GLint halfPixelLocation = -1, alphaFunc = -1, alphaRef = -1;
    GLint vertexConstants = -1, pixelConstants = -1;
    // The values last sent (uniforms belong to the program): unchanged ones are not sent.
    float halfPixel[2] = {-1, -1};
    GLint sentAlphaFunc = -1;
    float sentAlphaRef = -1;
    std::vector<float> sentVertex, sentPixel;
    const ShaderMirror* vs = nullptr;
    const ShaderMirror* ps = nullptr;
};

// Everything the rasteriser state of a draw is made of, compared as a whole so that
// repeated draws with one state send nothing.
struct RasterState {
    uint32_t blend, blendOp, srcBlend, destBlend, separate, blendOpAlpha, srcAlpha, destAlpha, blendFactor;
    uint32_t cull, zEnable, zWrite, zFunc, depthBias, slopeBias, fill;
    uint32_t stencil, stencilFunc, stencilRef, stencilMask, stencilWrite, stencilFail, stencilZFail, stencilPass;
    uint32_t colorWrite0, colorWrite1, srgbWrite, scissorTest;
    Viewport viewport;
    Rect scissor;
    uint32_t depthBits;
    float pointSize;  // pixels a side of each point of a point list
    bool operator==(const RasterState& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

// Keys are the objects' ObjectCore addresses, which stay comparable while an object is
// destroyed (Forget).
struct FboKey {
    ObjectCore* color0;
    ObjectCore* color1;
    ObjectCore* depth;
    bool operator<(const FboKey& o) const {
        return std::tie(color0, color1, depth) < std::tie(o.color0, o.color1, o.depth);
    }
};

struct Context {
    EGLContext egl = EGL_NO_CONTEXT;
    os::ThreadId thread{};
    GLuint vao = 0;
    GLuint readFbo = 0, drawFbo = 0;
    std::map<FboKey, GLuint> fbos;
    std::vector<GLuint> staleFbos;  // of forgotten surfaces, deleted when this context is current
    bool rasterValid = false;
    RasterState raster{};
    uint32_t enabledAttribs = 0;
    uint32_t divisors[32] = {};  // per input location, as last sent
    bool attribsValid = false;
    Attribs attribs;
    GLuint program = 0;
    GLuint drawFramebuffer = ~0u;  // bound to GL_DRAW_FRAMEBUFFER
    // Texture units 0-15 as the draws left them; uploads use unit kUploadUnit.
    GLuint activeUnit = ~0u;
    GLuint unitTexture[kSamplerStageCount];
    GLuint unitSampler[kSamplerStageCount];
    Context() {
        std::fill(std::begin(unitTexture), std::end(unitTexture), ~0u);
        std::fill(std::begin(unitSampler), std::end(unitSampler), ~0u);
    }
};
constexpr GLuint kUploadUnit = 31;

constexpr uint32_t kStreamFrequencyCount = 0x3FFFFFFFu;  // a stream frequency's count bits
constexpr float kMaxPointSize = 64.0f;  // the largest point every GL 4.5 driver draws
constexpr uint32_t kRingBytes = 4u << 20;  // user-pointer vertices and indices, at first

class GlBackendImpl final : public GlBackend {
public:
    ~GlBackendImpl() override;
    bool Init(std::string* error);

    bool PrepareShader(ShaderCore* shader, bool pixel, std::string* error) override;
    void Draw(const BoundState& state, const DrawCall& call) override;
    void Clear(const BoundState& state, const Rect& rect, uint32_t flags, Color color, float z,
               uint32_t stencil) override;
    void ColorFill(SurfaceImpl* surface, const Rect& rect, Color color) override;
    void StretchRect(SurfaceImpl* source, const Rect& sourceRect, SurfaceImpl* dest, const Rect& destRect,
                     TextureFilter filter) override;
    void SyncToCpu(SurfaceImpl* surface) override;
    void Finish() override;
    void Forget(ObjectCore* object) override;

private:
    Context& Current();
    void Done();
    TexMirror& Mirror(ObjectCore* owner);
    SurfaceLocation Locate(SurfaceImpl* surface);
    void Upload(SurfaceImpl* surface);
    void UploadTexture(ObjectCore* texture);
    // The GL buffer holding the buffer's bytes (uploaded when they changed), bound to
    // target; *base receives the byte offset of the copy in use.
    GLuint Buffer(BufferCore* buffer, GLenum target, uint32_t* base = nullptr);
    void NewStorage(BufMirror& m, BufferCore* b, GLenum target);
    // GL may hand a deleted name to the next new object: no context may then skip a bind
    // because its cache still holds the name.
    void DeleteTextureNames(const GLuint* names, size_t count);
    void DeleteBufferNames(const GLuint* names, size_t count);
    GLuint Framebuffer(Context& c, SurfaceImpl* color0, SurfaceImpl* color1, SurfaceImpl* depth);
    void Attach(GLenum fboTarget, GLenum attachment, SurfaceImpl* surface);
    GLenum AttachmentOf(SurfaceImpl* surface);
    Program* GetProgram(ShaderCore* vs, ShaderCore* ps, bool alphaTest);
    GLuint CompileStage(ShaderMirror& m, bool alphaTest);
    void ApplyRaster(Context& c, const BoundState& state);
    void ApplySamplers(const BoundState& state, const Program& p);
    uint32_t RingWrite(const void* data, uint32_t bytes, uint32_t align);

    const GlFunctions* gl = nullptr;
    EGLContext shareRoot = EGL_NO_CONTEXT;
    std::vector<std::unique_ptr<Context>> contexts;
    os::ThreadId lastThread{};
    bool haveLastThread = false;
    bool multiThreaded = false;
    std::unordered_map<ObjectCore*, TexMirror> textures;
    std::unordered_map<ObjectCore*, SurfaceLocation> locations;
    std::unordered_map<ObjectCore*, BufMirror> buffers;
    std::unordered_map<ObjectCore*, std::unique_ptr<ShaderMirror>> shaders;
    std::map<std::tuple<ObjectCore*, ObjectCore*, bool>, Program> programs;  // vertex, pixel, alpha test
    GLuint samplers[kSamplerStageCount] = {};
    std::array<std::array<uint32_t, kSamplerStateCount>, kSamplerStageCount> samplerStates{};
    bool samplerStatesValid[kSamplerStageCount] = {};
    GLuint ring = 0;
    uint32_t ringOffset = 0;
    uint32_t ringBytes = kRingBytes;  // grows for a user-pointer draw larger than it
    std::vector<Element> elements;  // the draw's vertex elements (kept for its capacity)
    Context* current = nullptr;     // the calling thread's, set by Current()
    void BindForUpload(GLenum target, GLuint name) {
        if (current->activeUnit != kUploadUnit) gl->glActiveTexture(GL_TEXTURE0 + kUploadUnit);
        current->activeUnit = kUploadUnit;
        gl->glBindTexture(target, name);
    }
    // GL objects of destroyed device objects, deleted by the next thread that draws
    // (they are shared between the contexts), so a release on any thread needs no GL.
    std::vector<GLuint> deadTextures, deadBuffers, deadPrograms, deadShaders;
    GLint uniformAlign = 256;
};

GlBackendImpl::~GlBackendImpl() {
    if (!gl) return;
    Context& c = Current();
    for (auto& [k, t] : textures) gl->glDeleteTextures(1, &t.name);
    for (auto& [k, b] : buffers) gl->glDeleteBuffers(1, &b.name);
    for (auto& [k, s] : shaders) {
        if (s->shader) gl->glDeleteShader(s->shader);
        if (s->alphaShader) gl->glDeleteShader(s->alphaShader);
    }
    for (auto& [k, p] : programs)
        if (p.name) gl->glDeleteProgram(p.name);
    gl->glDeleteSamplers(kSamplerStageCount, samplers);
    if (ring) gl->glDeleteBuffers(1, &ring);
    for (auto& [k, f] : c.fbos) gl->glDeleteFramebuffers(1, &f);
    gl->glFinish();
    eglMakeCurrent(Display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    // Contexts current on other threads are destroyed by EGL once those threads let go.
    for (auto& ctx : contexts) eglDestroyContext(Display().display, ctx->egl);
}

bool GlBackendImpl::Init(std::string* error) {
    const Egl& egl = Display();
    if (egl.display == EGL_NO_DISPLAY) {
        *error = egl.error;
        return false;
    }
    auto root = std::make_unique<Context>();
    root->egl = MakeContext(EGL_NO_CONTEXT);
    if (root->egl == EGL_NO_CONTEXT) {
        *error = "EGL gives no OpenGL 4.5 core context";
        return false;
    }
    shareRoot = root->egl;
    root->thread = os::CurrentThreadId();
    if (!eglMakeCurrent(egl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, root->egl)) {
        eglDestroyContext(egl.display, root->egl);
        *error = "EGL cannot make a context current without a surface";
        return false;
    }
    gl = LoadGlFunctions(GetProc);
    if (!gl) {
        eglMakeCurrent(egl.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(egl.display, root->egl);
        *error = "the OpenGL library lacks an entry point of OpenGL 4.5 core";
        return false;
    }
    contexts.push_back(std::move(root));
    Current();
    gl->glGenSamplers(kSamplerStageCount, samplers);
    gl->glGenBuffers(1, &ring);
    gl->glBindBuffer(GL_COPY_WRITE_BUFFER, ring);
    gl->glBufferData(GL_COPY_WRITE_BUFFER, kRingBytes, nullptr, GL_STREAM_DRAW);
    gl->glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &uniformAlign);
    if (uniformAlign < 16) uniformAlign = 16;
    // The creating thread need not be the one that draws: its work is complete here,
    // and only threads that draw later count as users of the device's contexts.
    gl->glFinish();
    haveLastThread = false;
    return true;
}

Context& GlBackendImpl::Current() {
    const os::ThreadId self = os::CurrentThreadId();
    if (haveLastThread && !(lastThread == self)) multiThreaded = true;
    lastThread = self;
    haveLastThread = true;
    Context* found = nullptr;
    for (auto& c : contexts)
        if (c->thread == self) found = c.get();
    if (!found) {
        auto c = std::make_unique<Context>();
        c->egl = MakeContext(shareRoot);
        c->thread = self;
        found = c.get();
        contexts.push_back(std::move(c));
    }
    if (eglGetCurrentContext() != found->egl) {
        eglMakeCurrent(Display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, found->egl);
        found->rasterValid = false;
    }
    if (!found->vao) {
        gl->glGenVertexArrays(1, &found->vao);
        gl->glGenFramebuffers(1, &found->readFbo);
        gl->glGenFramebuffers(1, &found->drawFbo);
        gl->glBindVertexArray(found->vao);
        gl->glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
        gl->glFrontFace(GL_CCW);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
        gl->glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    }
    if (!deadTextures.empty()) DeleteTextureNames(deadTextures.data(), deadTextures.size());
    if (!deadBuffers.empty()) DeleteBufferNames(deadBuffers.data(), deadBuffers.size());
    for (const GLuint p : deadPrograms) gl->glDeleteProgram(p);
    for (const GLuint sh : deadShaders) gl->glDeleteShader(sh);
    deadTextures.clear();
    deadBuffers.clear();
    deadPrograms.clear();
    deadShaders.clear();
    current = found;
    if (!found->staleFbos.empty()) {
        found->drawFramebuffer = ~0u;
        gl->glDeleteFramebuffers(static_cast<GLsizei>(found->staleFbos.size()), found->staleFbos.data());
        found->staleFbos.clear();
    }
    return *found;
}

// With several threads drawing, each finishes its work before another context reads it.
void GlBackendImpl::Done() {
    if (multiThreaded) gl->glFinish();
}

}  // namespace

bool GlFormatSupported(Format format, uint32_t usage) {
    const GlFormat* f = FindFormat(format);
    if (!f) return false;
    if ((usage & USAGE_RENDERTARGET) && (f->compressed || IsDepth(f))) return false;
    // A target is written channel for channel: formats read through a swizzle that moves
    // a channel (alpha or luminance kept in red) would be drawn wrong.
    const GLint* w = f->swizzle;
    const bool inPlace = w[0] == R && (w[1] == G || w[1] == ONE) && (w[2] == B || w[2] == ONE) && (w[3] == A || w[3] == ONE);
    if ((usage & USAGE_RENDERTARGET) && !inPlace) return false;
    if ((usage & USAGE_DEPTHSTENCIL) && !IsDepth(f)) return false;
    return true;
}

namespace {

bool GlBackendImpl::PrepareShader(ShaderCore* shader, bool pixel, std::string* error) {
    std::vector<uint32_t> words;
    if (!FindSpirv(shader->code.data(), shader->code.size() * 4, &words)) {
        *error = "the code holds no SPIR-V";
        return false;
    }
    auto m = std::make_unique<ShaderMirror>();
    m->pixel = pixel;
    if (!SpirvToGlsl(words.data(), words.size(), pixel, &m->glsl, error)) return false;
    shaders[static_cast<ObjectCore*>(shader)] = std::move(m);
    return true;
}

TexMirror& GlBackendImpl::Mirror(ObjectCore* owner) {
    auto it = textures.find(owner);
    if (it != textures.end()) return it->second;
    TexMirror t;
    gl->glGenTextures(1, &t.name);
    auto allocate = [&](GLenum target, GLint level, uint32_t w, uint32_t h, Format format) {
        if (t.format->compressed) {
            gl->glCompressedTexImage2D(target, level, t.format->internal, w, h, 0,
                                       static_cast<GLsizei>(LevelBytes(format, w, h)), nullptr);
        } else {
            gl->glTexImage2D(target, level, t.format->internal, w, h, 0, t.format->layout, t.format->type, nullptr);
        }
    };
    GLint levels = 1;
    if (auto* tex = dynamic_cast<TextureImpl*>(owner)) {
        t.format = FindFormat(tex->format);
        BindForUpload(GL_TEXTURE_2D, t.name);
        levels = static_cast<GLint>(tex->levels.size());
        for (GLint l = 0; l < levels; ++l)
            allocate(GL_TEXTURE_2D, l, tex->levels[l]->width, tex->levels[l]->height, tex->format);
    } else if (auto* cube = dynamic_cast<CubeTextureImpl*>(owner)) {
        t.format = FindFormat(cube->format);
        t.target = GL_TEXTURE_CUBE_MAP;
        BindForUpload(GL_TEXTURE_CUBE_MAP, t.name);
        levels = static_cast<GLint>(cube->levelCount);
        for (uint32_t face = 0; face < 6; ++face)
            for (GLint l = 0; l < levels; ++l)
                allocate(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, l, cube->Level(face, l)->width,
                         cube->Level(face, l)->height, cube->format);
    } else {
        auto* s = static_cast<SurfaceImpl*>(owner);
        t.format = FindFormat(s->format);
        BindForUpload(GL_TEXTURE_2D, t.name);
        allocate(GL_TEXTURE_2D, 0, s->width, s->height, s->format);
    }
    gl->glTexParameteri(t.target, GL_TEXTURE_BASE_LEVEL, 0);
    gl->glTexParameteri(t.target, GL_TEXTURE_MAX_LEVEL, levels - 1);
    gl->glTexParameteriv(t.target, GL_TEXTURE_SWIZZLE_RGBA, t.format->swizzle);
    return textures.emplace(owner, t).first->second;
}

SurfaceLocation GlBackendImpl::Locate(SurfaceImpl* s) {
    auto it = locations.find(static_cast<ObjectCore*>(s));
    if (it != locations.end()) return it->second;
    SurfaceLocation loc{s, GL_TEXTURE_2D, 0};
    if (auto* tex = dynamic_cast<TextureImpl*>(s->container)) {
        loc.owner = tex;
        for (size_t l = 0; l < tex->levels.size(); ++l)
            if (tex->levels[l].get() == s) loc.level = static_cast<GLint>(l);
    } else if (auto* cube = dynamic_cast<CubeTextureImpl*>(s->container)) {
        loc.owner = cube;
        for (uint32_t face = 0; face < 6; ++face)
            for (uint32_t l = 0; l < cube->levelCount; ++l)
                if (cube->Level(face, l) == s) {
                    loc.target = GL_TEXTURE_CUBE_MAP_POSITIVE_X + face;
                    loc.level = static_cast<GLint>(l);
                }
    }
    locations[static_cast<ObjectCore*>(s)] = loc;
    return loc;
}

void GlBackendImpl::Upload(SurfaceImpl* s) {
    if (!s->cpuDirty) return;
    const SurfaceLocation loc = Locate(s);
    const TexMirror& t = Mirror(loc.owner);
    s->cpuDirty = false;
    BindForUpload(t.target, t.name);
    if (t.format->compressed) {
        gl->glCompressedTexSubImage2D(loc.target, loc.level, 0, 0, s->width, s->height, t.format->internal,
                                      static_cast<GLsizei>(s->bytes.size()), s->bytes.data());
    } else {
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, s->texelBytes ? static_cast<GLint>(s->pitch / s->texelBytes) : 0);
        gl->glTexSubImage2D(loc.target, loc.level, 0, 0, s->width, s->height, t.format->layout, t.format->type,
                            s->bytes.data());
        gl->glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
}

void GlBackendImpl::UploadTexture(ObjectCore* texture) {
    if (auto* tex = dynamic_cast<TextureImpl*>(texture)) {
        for (auto& level : tex->levels) Upload(level.get());
    } else if (auto* cube = dynamic_cast<CubeTextureImpl*>(texture)) {
        for (uint32_t face = 0; face < 6; ++face)
            for (uint32_t l = 0; l < cube->levelCount; ++l) Upload(cube->Level(face, l));
    }
}

// New GL storage for a buffer: a dynamic one persistently mapped with room for its
// copies, the first of them holding the bytes; a static one with the bytes.
void GlBackendImpl::DeleteTextureNames(const GLuint* names, size_t count) {
    gl->glDeleteTextures(static_cast<GLsizei>(count), names);
    for (auto& c : contexts)
        for (GLuint& bound : c->unitTexture)
            if (std::find(names, names + count, bound) != names + count) bound = ~0u;
}

void GlBackendImpl::DeleteBufferNames(const GLuint* names, size_t count) {
    gl->glDeleteBuffers(static_cast<GLsizei>(count), names);
    for (auto& c : contexts)
        for (uint32_t i = 0; i < c->attribs.count && c->attribsValid; ++i)
            if (std::find(names, names + count, c->attribs.list[i].buffer) != names + count) c->attribsValid = false;
}

void GlBackendImpl::NewStorage(BufMirror& m, BufferCore* b, GLenum target) {
    const auto size = static_cast<uint32_t>(b->bytes.size());
    gl->glGenBuffers(1, &m.name);
    gl->glBindBuffer(target, m.name);
    m.size = size;
    m.slot = 0;
    m.mapped = nullptr;
    if ((b->usage & USAGE_DYNAMIC) && size) {
        m.slots = std::max(1u, std::min(kRingSlots, kRingedBufferBytes / size));
        const GLbitfield flags = GL_MAP_WRITE_BIT | GL_MAP_PERSISTENT_BIT | GL_MAP_COHERENT_BIT;
        gl->glBufferStorage(target, static_cast<GLsizeiptr>(size) * m.slots, nullptr, flags);
        m.mapped = static_cast<uint8_t*>(gl->glMapBufferRange(target, 0, static_cast<GLsizeiptr>(size) * m.slots, flags));
        if (m.mapped) {
            std::memcpy(m.mapped, b->bytes.data(), size);
            return;
        }
        // Without a mapping: one copy, written with glBufferSubData below.
        DeleteBufferNames(&m.name, 1);
        gl->glGenBuffers(1, &m.name);
        gl->glBindBuffer(target, m.name);
    }
    m.slots = 1;
    gl->glBufferData(target, size, b->bytes.data(), GL_DYNAMIC_DRAW);
}

GLuint GlBackendImpl::Buffer(BufferCore* b, GLenum target, uint32_t* base) {
    BufMirror& m = buffers[static_cast<ObjectCore*>(b)];
    const auto size = static_cast<uint32_t>(b->bytes.size());
    if (!m.name) {
        NewStorage(m, b, target);
        b->dirtyBegin = b->dirtyEnd = 0;
        b->dirtyDiscard = false;
    } else {
        gl->glBindBuffer(target, m.name);
    }
    if (b->dirtyEnd > b->dirtyBegin) {
        uint32_t begin = b->dirtyBegin, end = b->dirtyEnd;
        if (m.mapped) {
            // Discard: the next copy, all of its bytes new; after the last copy, new
            // storage (draws already made keep reading the old, which GL frees after
            // them). No-overwrite: the caller promises not to touch what earlier draws
            // read. Neither waits for the GPU.
            if (b->dirtyDiscard) {
                begin = 0;
                end = size;
                if (++m.slot == m.slots) {
                    DeleteBufferNames(&m.name, 1);
                    NewStorage(m, b, target);
                }
            }
            std::memcpy(m.mapped + static_cast<size_t>(m.slot) * size + begin, b->bytes.data() + begin, end - begin);
        } else {
            gl->glBufferSubData(target, begin, end - begin, b->bytes.data() + begin);
        }
        b->dirtyBegin = b->dirtyEnd = 0;
        b->dirtyDiscard = false;
    }
    if (base) *base = m.slot * m.size;
    return m.name;
}

GLenum GlBackendImpl::AttachmentOf(SurfaceImpl* s) {
    const GlFormat* f = FindFormat(s->format);
    if (!IsDepth(f)) return GL_COLOR_ATTACHMENT0;
    return HasStencil(f) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT;
}

void GlBackendImpl::Attach(GLenum fboTarget, GLenum attachment, SurfaceImpl* s) {
    const SurfaceLocation loc = Locate(s);
    const TexMirror& t = Mirror(loc.owner);
    gl->glFramebufferTexture2D(fboTarget, attachment, loc.target, t.name, loc.level);
}

GLuint GlBackendImpl::Framebuffer(Context& c, SurfaceImpl* color0, SurfaceImpl* color1, SurfaceImpl* depth) {
    const FboKey key{color0, color1, depth};  // null surfaces stay null
    auto it = c.fbos.find(key);
    if (it != c.fbos.end()) {
        if (c.drawFramebuffer != it->second) gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, it->second);
        c.drawFramebuffer = it->second;
        return it->second;
    }
    GLuint fbo = 0;
    gl->glGenFramebuffers(1, &fbo);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
    c.drawFramebuffer = fbo;
    if (color0) Attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, color0);
    if (color1) Attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, color1);
    if (depth) Attach(GL_DRAW_FRAMEBUFFER, AttachmentOf(depth), depth);
    const GLenum buffers[2] = {static_cast<GLenum>(color0 ? GL_COLOR_ATTACHMENT0 : GL_NONE),
                               static_cast<GLenum>(color1 ? GL_COLOR_ATTACHMENT1 : GL_NONE)};
    gl->glDrawBuffers(2, buffers);
    c.fbos[key] = fbo;
    return fbo;
}

GLuint GlBackendImpl::CompileStage(ShaderMirror& m, bool alphaTest) {
    alphaTest = alphaTest && m.pixel;
    GLuint& compiled = alphaTest ? m.alphaShader : m.shader;
    bool& failed = alphaTest ? m.alphaFailed : m.failed;
    if (compiled || failed) return compiled;
    const GLuint s = gl->glCreateShader(m.pixel ? GL_FRAGMENT_SHADER : GL_VERTEX_SHADER);
    // The define goes right after the version line, which comes first.
    const std::string& source = m.glsl.source;
    const size_t versionEnd = source.rfind("#version", 0) == 0 ? source.find('\n') : std::string::npos;
    const std::string define = alphaTest && versionEnd != std::string::npos
                                   ? "#define " + std::string(kAlphaTestDefine) + "\n"
                                   : std::string();
    const char* texts[3] = {source.c_str(), define.c_str(), ""};
    GLint lengths[3] = {static_cast<GLint>(source.size()), static_cast<GLint>(define.size()), 0};
    if (!define.empty()) {
        lengths[0] = static_cast<GLint>(versionEnd + 1);
        texts[2] = source.c_str() + versionEnd + 1;
        lengths[2] = static_cast<GLint>(source.size() - versionEnd - 1);
    }
    gl->glShaderSource(s, 3, texts, lengths);
    gl->glCompileShader(s);
    GLint ok = 0;
    gl->glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        gl->glGetShaderInfoLog(s, sizeof log, nullptr, log);
        if (owner) owner->Report(false, CallKind::Other, "shader-gl-compile", "GL refuses a shader: %s", log);
        gl->glDeleteShader(s);
        failed = true;
        return 0;
    }
    compiled = s;
    return s;
}

Program* GlBackendImpl::GetProgram(ShaderCore* vs, ShaderCore* ps, bool alphaTest) {
    const auto key = std::make_tuple(static_cast<ObjectCore*>(vs), static_cast<ObjectCore*>(ps), alphaTest);
    auto it = programs.find(key);
    if (it != programs.end()) return it->second.failed ? nullptr : &it->second;
    Program& p = programs[key];
    auto v = shaders.find(std::get<0>(key));
    auto f = shaders.find(std::get<1>(key));
    if (v == shaders.end() || f == shaders.end()) {
        p.failed = true;
        return nullptr;
    }
    const GLuint a = CompileStage(*v->second, false), b = CompileStage(*f->second, alphaTest);
    if (!a || !b) {
        p.failed = true;
        return nullptr;
    }
    p.name = gl->glCreateProgram();
    gl->glAttachShader(p.name, a);
    gl->glAttachShader(p.name, b);
    gl->glLinkProgram(p.name);
    GLint ok = 0;
    gl->glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        gl->glGetProgramInfoLog(p.name, sizeof log, nullptr, log);
        if (owner) owner->Report(false, CallKind::Other, "shader-gl-link", "GL cannot link a shader pair: %s", log);
        gl->glDeleteProgram(p.name);
        p.name = 0;
        p.failed = true;
        return nullptr;
    }
    p.halfPixelLocation = gl->glGetUniformLocation(p.name, "gfx_HalfPixel");
    p.alphaFunc = gl->glGetUniformLocation(p.name, "gfx_AlphaFunc");
    p.alphaRef = gl->glGetUniformLocation(p.name, "gfx_AlphaRef");
    p.vertexConstants = gl->glGetUniformLocation(p.name, "gfx_VertexConstants");
    p.pixelConstants = gl->glGetUniformLocation(p.name, "gfx_PixelConstants");
    p.vs = v->second.get();
    p.ps = f->second.get();
    return &p;
}

uint32_t GlBackendImpl::RingWrite(const void* data, uint32_t bytes, uint32_t align) {
    uint64_t at = (static_cast<uint64_t>(ringOffset) + align - 1) / align * align;
    GLbitfield access = GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT;
    gl->glBindBuffer(GL_COPY_WRITE_BUFFER, ring);
    if (bytes > ringBytes) {  // more than the ring holds: larger storage, the GPU keeps the old
        ringBytes = static_cast<uint32_t>(std::min<uint64_t>(0xFFFFFFFFu, std::max<uint64_t>(bytes, 2ull * ringBytes)));
        gl->glBufferData(GL_COPY_WRITE_BUFFER, ringBytes, nullptr, GL_STREAM_DRAW);
        at = 0;
    } else if (at + bytes > ringBytes) {  // wrap: new storage, the GPU keeps the old
        at = 0;
        access = GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT;
    }
    if (void* p = gl->glMapBufferRange(GL_COPY_WRITE_BUFFER, static_cast<GLintptr>(at), bytes, access)) {
        std::memcpy(p, data, bytes);
        gl->glUnmapBuffer(GL_COPY_WRITE_BUFFER);
    }
    ringOffset = static_cast<uint32_t>(at) + bytes;
    return static_cast<uint32_t>(at);
}

void GlBackendImpl::ApplyRaster(Context& c, const BoundState& state) {
    const auto& rs = state.states.renderStates;
    RasterState r{};
    r.blend = rs[RS_ALPHABLENDENABLE];
    if (r.blend) {
        r.blendOp = rs[RS_BLENDOP];
        r.srcBlend = rs[RS_SRCBLEND];
        r.destBlend = rs[RS_DESTBLEND];
        r.separate = rs[RS_SEPARATEALPHABLENDENABLE];
        r.blendOpAlpha = r.separate ? rs[RS_BLENDOPALPHA] : r.blendOp;
        r.srcAlpha = r.separate ? rs[RS_SRCBLENDALPHA] : r.srcBlend;
        r.destAlpha = r.separate ? rs[RS_DESTBLENDALPHA] : r.destBlend;
        r.blendFactor = rs[RS_BLENDFACTOR];
    }
    r.cull = rs[RS_CULLMODE];
    r.zEnable = state.depthStencil ? rs[RS_ZENABLE] : 0;
    r.zWrite = r.zEnable ? rs[RS_ZWRITEENABLE] : 0;
    r.zFunc = r.zEnable ? rs[RS_ZFUNC] : 0;
    r.depthBias = rs[RS_DEPTHBIAS];
    r.slopeBias = rs[RS_SLOPESCALEDEPTHBIAS];
    r.fill = rs[RS_FILLMODE];
    const bool stencilSurface = state.depthStencil && HasStencil(FindFormat(state.depthStencil->format));
    r.stencil = stencilSurface ? rs[RS_STENCILENABLE] : 0;
    if (r.stencil) {
        r.stencilFunc = rs[RS_STENCILFUNC];
        r.stencilRef = rs[RS_STENCILREF];
        r.stencilMask = rs[RS_STENCILMASK];
        r.stencilWrite = rs[RS_STENCILWRITEMASK];
        r.stencilFail = rs[RS_STENCILFAIL];
        r.stencilZFail = rs[RS_STENCILZFAIL];
        r.stencilPass = rs[RS_STENCILPASS];
    }
    r.colorWrite0 = rs[RS_COLORWRITEENABLE];
    r.colorWrite1 = rs[RS_COLORWRITEENABLE1];
    r.srgbWrite = rs[RS_SRGBWRITEENABLE];
    r.scissorTest = rs[RS_SCISSORTESTENABLE];
    r.viewport = state.viewport;
    if (r.scissorTest) r.scissor = state.scissor;
    r.depthBits = state.depthStencil && FindFormat(state.depthStencil->format)->internal == GL_DEPTH_COMPONENT16 ? 16 : 24;
    // The size the state asks for, within its minimum and maximum; the shaders write no
    // size of their own, so GL takes this one (GL_PROGRAM_POINT_SIZE stays off).
    r.pointSize = std::max(std::min(AsFloat(rs[RS_POINTSIZE]), AsFloat(rs[RS_POINTSIZE_MAX])),
                           AsFloat(rs[RS_POINTSIZE_MIN]));
    if (!(r.pointSize >= 1.0f)) r.pointSize = 1.0f;  // NaN or below a pixel
    r.pointSize = std::min(r.pointSize, kMaxPointSize);
    if (c.rasterValid && r == c.raster) return;
    // Only the groups that changed are sent (some GL state changes make the driver
    // revalidate much more than the state itself).
    const bool all = !c.rasterValid;
    const RasterState o = c.raster;
    c.raster = r;
    c.rasterValid = true;
    auto differ = [all](auto a, auto b) { return all || a != b; };

    auto enable = [this](GLenum cap, bool on) { on ? gl->glEnable(cap) : gl->glDisable(cap); };
    if (differ(r.blend, o.blend)) enable(GL_BLEND, r.blend != 0);
    if (r.blend && (all || !o.blend || r.blendOp != o.blendOp || r.blendOpAlpha != o.blendOpAlpha))
        gl->glBlendEquationSeparate(BlendEquation(r.blendOp), BlendEquation(r.blendOpAlpha));
    if (r.blend && (all || !o.blend || r.srcBlend != o.srcBlend || r.destBlend != o.destBlend || r.srcAlpha != o.srcAlpha ||
                    r.destAlpha != o.destAlpha))
        gl->glBlendFuncSeparate(BlendFactor(r.srcBlend), BlendFactor(r.destBlend), BlendFactor(r.srcAlpha),
                                BlendFactor(r.destAlpha));
    if (r.blend && (all || !o.blend || r.blendFactor != o.blendFactor)) {
        float factor[4];
        ColorToFloats(r.blendFactor, factor);
        gl->glBlendColor(factor[0], factor[1], factor[2], factor[3]);
    }
    // The original culls the winding it names: CULL_CCW culls counter-clockwise
    // triangles; clockwise ones are front faces.
    if (differ(r.cull, o.cull)) {
        enable(GL_CULL_FACE, r.cull == CULL_CW || r.cull == CULL_CCW);
        if (r.cull == CULL_CW) gl->glCullFace(GL_FRONT);
        if (r.cull == CULL_CCW) gl->glCullFace(GL_BACK);
    }
    if (differ(r.zEnable, o.zEnable)) enable(GL_DEPTH_TEST, r.zEnable != 0);
    if (differ(r.zWrite, o.zWrite)) gl->glDepthMask(r.zWrite ? GL_TRUE : GL_FALSE);
    if (r.zEnable && differ(r.zFunc, o.zFunc)) gl->glDepthFunc(Compare(r.zFunc));
    if (differ(r.depthBias, o.depthBias) || differ(r.slopeBias, o.slopeBias) || differ(r.depthBits, o.depthBits)) {
        // Depth bias is in depth units; GL counts in steps of the buffer's resolution.
        const float bias = AsFloat(r.depthBias), slope = AsFloat(r.slopeBias);
        enable(GL_POLYGON_OFFSET_FILL, bias != 0.0f || slope != 0.0f);
        gl->glPolygonOffset(slope, bias * static_cast<float>(1u << r.depthBits));
    }
    if (differ(r.fill, o.fill))
        gl->glPolygonMode(GL_FRONT_AND_BACK, r.fill == FILL_WIREFRAME ? GL_LINE : r.fill == FILL_POINT ? GL_POINT : GL_FILL);
    if (differ(r.pointSize, o.pointSize)) gl->glPointSize(r.pointSize);
    if (differ(r.stencil, o.stencil)) enable(GL_STENCIL_TEST, r.stencil != 0);
    if (r.stencil) {
        if (all || !o.stencil || r.stencilFunc != o.stencilFunc || r.stencilRef != o.stencilRef || r.stencilMask != o.stencilMask)
            gl->glStencilFunc(Compare(r.stencilFunc), static_cast<GLint>(r.stencilRef & 0xFF), r.stencilMask);
        if (all || !o.stencil || r.stencilFail != o.stencilFail || r.stencilZFail != o.stencilZFail ||
            r.stencilPass != o.stencilPass)
            gl->glStencilOp(StencilOperation(r.stencilFail), StencilOperation(r.stencilZFail),
                            StencilOperation(r.stencilPass));
    }
    if (differ(r.stencil ? r.stencilWrite : 0u, o.stencil ? o.stencilWrite : 0u) || differ(r.stencil, o.stencil))
        gl->glStencilMask(r.stencil ? r.stencilWrite : 0);
    auto mask = [this](GLuint index, uint32_t m) {
        gl->glColorMaski(index, (m & COLORWRITEENABLE_RED) != 0, (m & COLORWRITEENABLE_GREEN) != 0,
                         (m & COLORWRITEENABLE_BLUE) != 0, (m & COLORWRITEENABLE_ALPHA) != 0);
    };
    if (differ(r.colorWrite0, o.colorWrite0)) mask(0, r.colorWrite0);
    if (differ(r.colorWrite1, o.colorWrite1)) mask(1, r.colorWrite1);
    if (differ(r.srgbWrite, o.srgbWrite)) enable(GL_FRAMEBUFFER_SRGB, r.srgbWrite != 0);
    if (differ(r.scissorTest, o.scissorTest)) enable(GL_SCISSOR_TEST, r.scissorTest != 0);
    if (r.scissorTest && (all || std::memcmp(&r.scissor, &o.scissor, sizeof r.scissor) != 0 || !o.scissorTest))
        gl->glScissor(r.scissor.left, r.scissor.top, std::max(0, r.scissor.right - r.scissor.left),
                      std::max(0, r.scissor.bottom - r.scissor.top));
    if (all || std::memcmp(&r.viewport, &o.viewport, sizeof r.viewport) != 0) {
        gl->glViewport(static_cast<GLint>(r.viewport.x), static_cast<GLint>(r.viewport.y),
                       static_cast<GLsizei>(r.viewport.width), static_cast<GLsizei>(r.viewport.height));
        gl->glDepthRangef(r.viewport.minZ, r.viewport.maxZ);
    }
}

void GlBackendImpl::ApplySamplers(const BoundState& state, const Program& p) {
    Context& c = *current;
    auto bind = [&](const GlslSampler& s) {
        if (s.unit >= kSamplerStageCount) return;
        ObjectCore* t = state.textures[s.unit];
        GLenum target = s.cube ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
        GLuint name = 0;
        if (t) {
            UploadTexture(t);
            const TexMirror& m = Mirror(t);
            target = m.target;
            name = m.name;
        }
        auto unit = [&] {
            if (c.activeUnit != s.unit) gl->glActiveTexture(GL_TEXTURE0 + s.unit);
            c.activeUnit = s.unit;
        };
        if (c.unitTexture[s.unit] != name) {
            unit();
            gl->glBindTexture(target, name);
            c.unitTexture[s.unit] = name;
        }
        if (!t) return;
        const GLuint smp = samplers[s.unit];
        const auto& st = state.states.samplerStates[s.unit];
        if (!samplerStatesValid[s.unit] || !(st == samplerStates[s.unit])) {
            samplerStates[s.unit] = st;
            samplerStatesValid[s.unit] = true;
            const bool magLinear = st[SAMP_MAGFILTER] >= TEXF_LINEAR, minLinear = st[SAMP_MINFILTER] >= TEXF_LINEAR;
            GLenum minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
            if (st[SAMP_MIPFILTER] == TEXF_POINT) minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
            if (st[SAMP_MIPFILTER] >= TEXF_LINEAR) minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
            gl->glSamplerParameteri(smp, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
            gl->glSamplerParameteri(smp, GL_TEXTURE_MIN_FILTER, minFilter);
            gl->glSamplerParameteri(smp, GL_TEXTURE_WRAP_S, Address(st[SAMP_ADDRESSU]));
            gl->glSamplerParameteri(smp, GL_TEXTURE_WRAP_T, Address(st[SAMP_ADDRESSV]));
            gl->glSamplerParameteri(smp, GL_TEXTURE_WRAP_R, Address(st[SAMP_ADDRESSW]));
            float border[4];
            ColorToFloats(st[SAMP_BORDERCOLOR], border);
            gl->glSamplerParameterfv(smp, GL_TEXTURE_BORDER_COLOR, border);
            // SAMP_MAXMIPLEVEL names the largest level used.
            gl->glSamplerParameterf(smp, GL_TEXTURE_MIN_LOD, static_cast<float>(st[SAMP_MAXMIPLEVEL]));
            gl->glSamplerParameterf(smp, GL_TEXTURE_LOD_BIAS, AsFloat(st[SAMP_MIPMAPLODBIAS]));
            const bool anisotropic = st[SAMP_MINFILTER] == TEXF_ANISOTROPIC || st[SAMP_MAGFILTER] == TEXF_ANISOTROPIC;
            gl->glSamplerParameterf(smp, GL_TEXTURE_MAX_ANISOTROPY,
                                    anisotropic ? static_cast<float>(std::max(1u, st[SAMP_MAXANISOTROPY])) : 1.0f);
            gl->glSamplerParameteri(smp, GL_TEXTURE_SRGB_DECODE_EXT,
                                    st[SAMP_SRGBTEXTURE] ? kGlDecodeExt : kGlSkipDecodeExt);
        }
        if (c.unitSampler[s.unit] != smp) {
            gl->glBindSampler(s.unit, smp);
            c.unitSampler[s.unit] = smp;
        }
    };
    for (const GlslSampler& s : p.vs->glsl.samplers) bind(s);
    for (const GlslSampler& s : p.ps->glsl.samplers) bind(s);
}

void GlBackendImpl::Draw(const BoundState& state, const DrawCall& call) {
    if (!state.vertexShader || !state.pixelShader || !state.renderTargets[0]) return;
    Context& c = Current();
    // The alpha test, as gfx_AlphaFunc: 0 or ALWAYS pass everything and draw with the
    // program that has no test.
    const auto& rs = state.states.renderStates;
    const GLint alphaFunc = rs[RS_ALPHATESTENABLE] ? static_cast<GLint>(rs[RS_ALPHAFUNC]) : 0;
    const bool alphaTest = alphaFunc >= static_cast<GLint>(CMP_NEVER) && alphaFunc < static_cast<GLint>(CMP_ALWAYS);
    Program* p = GetProgram(state.vertexShader, state.pixelShader, alphaTest);
    if (!p) return;
    SurfaceImpl* rt0 = state.renderTargets[0];
    SurfaceImpl* rt1 = state.renderTargets[1];
    SurfaceImpl* depth = state.depthStencil;
    for (SurfaceImpl* s : {rt0, rt1, depth})
        if (s) Upload(s);
    Framebuffer(c, rt0, rt1, depth);
    ApplyRaster(c, state);
    if (c.program != p->name) {
        gl->glUseProgram(p->name);
        c.program = p->name;
    }
    ApplySamplers(state, *p);
    if (p->halfPixelLocation >= 0) {
        // Half a pixel right and down (after the vertex stage's y negation, down is +y),
        // in clip units: a pixel is 2 / size of them.
        const float x = 1.0f / static_cast<float>(std::max(1u, state.viewport.width));
        const float y = 1.0f / static_cast<float>(std::max(1u, state.viewport.height));
        if (x != p->halfPixel[0] || y != p->halfPixel[1]) gl->glUniform2f(p->halfPixelLocation, x, y);
        p->halfPixel[0] = x;
        p->halfPixel[1] = y;
    }
    if (p->alphaFunc >= 0) {
        const GLint func = alphaFunc;
        const float ref = static_cast<float>(rs[RS_ALPHAREF] & 0xFF);
        if (func != p->sentAlphaFunc) gl->glUniform1i(p->alphaFunc, func);
        if (ref != p->sentAlphaRef) gl->glUniform1f(p->alphaRef, ref);
        p->sentAlphaFunc = func;
        p->sentAlphaRef = ref;
    }
    // The used range of each stage's register file, once per draw.
    auto upload = [this](GLint location, uint32_t bytes, const ConstantBlock& block, std::vector<float>* sent) {
        if (location < 0 || bytes == 0) return;
        const auto registers = static_cast<GLsizei>(std::min<uint32_t>((bytes + 15) / 16, kMaxFloatConstants));
        const float* data = block.floats[0].data();
        const size_t floats = static_cast<size_t>(registers) * 4;
        if (sent->size() == floats && std::memcmp(sent->data(), data, floats * 4) == 0) return;
        sent->assign(data, data + floats);
        gl->glUniform4fv(location, registers, data);
    };
    upload(p->vertexConstants, p->vs->glsl.constantBytes, state.vertexConstants, &p->sentVertex);
    upload(p->pixelConstants, p->ps->glsl.constantBytes, state.pixelConstants, &p->sentPixel);

    // Vertex inputs by semantic from the declaration (or the FVF's element list).
    elements.clear();
    if (state.declaration) {
        for (const VertexElement& e : *state.declaration->elements)
            if (e.stream != 0xFF && e.type != DECLTYPE_UNUSED)
                elements.push_back({e.stream, e.offset, e.type, e.usage, e.usageIndex});
    } else {
        FvfElements(state.fvf, &elements);
    }
    const bool user = call.userVertices != nullptr;
    // Instancing: stream 0 marked as indexed data with a count draws the indexed
    // primitives that many times; a stream marked as instance data then advances once per
    // its divider's worth of instances. Only indexed draws from buffers draw instances;
    // every other draw reads an instance stream's first element.
    const StreamSlot& s0 = state.streams[0];
    const uint32_t instances = call.call == CallKind::DrawIndexedPrimitive && (s0.frequency & STREAMSOURCE_INDEXEDDATA)
                                   ? std::max(1u, s0.frequency & kStreamFrequencyCount)
                                   : 1;
    uint32_t userOffset = 0;
    const uint32_t vertexCount = Vertices(call.type, call.primitiveCount);
    if (user) {
        const uint32_t count = call.userIndices ? call.minIndex + call.numVertices : vertexCount;
        // Aligned to the stride, so the copy's place is a whole number of vertices.
        userOffset = RingWrite(call.userVertices, count * call.userStride, call.userStride);
    }
    // Where each input's buffer copy starts. When every per-vertex input's copy starts a
    // whole number of vertices in, the same number for all, the draw's first vertex moves
    // instead of the inputs' offsets: the inputs then look the same to GL from draw to
    // draw (a changed input layout costs the driver far more than a moved first vertex).
    // The first vertex does not move per-instance inputs, which always take their offset.
    Attribs attribs;
    uint32_t bases[32] = {};
    for (const GlslInput& in : p->vs->glsl.inputs) {
        if (in.location >= 32) continue;
        const Element* e = nullptr;
        for (const Element& x : elements)
            if (x.usage == in.usage && x.usageIndex == in.usageIndex) e = &x;
        if (!e && in.usage == DECLUSAGE_POSITION) {  // pre-transformed positions feed POSITION inputs
            for (const Element& x : elements)
                if (x.usage == DECLUSAGE_POSITIONT && x.usageIndex == in.usageIndex) e = &x;
        }
        const AttribFormat f = e ? AttribOf(e->type) : AttribFormat{};
        Attrib a{in.location, 0, 0, 0, f};
        if (e && f.size != 0 && user && e->stream == 0) {
            a.buffer = ring;
            a.offset = e->offset;
            a.stride = call.userStride;
            bases[attribs.count] = userOffset;
        } else if (e && f.size != 0 && !user && state.streams[e->stream].buffer) {
            const StreamSlot& s = state.streams[e->stream];
            a.buffer = Buffer(s.buffer, GL_ARRAY_BUFFER, &bases[attribs.count]);
            a.offset = s.offset + e->offset;
            a.stride = s.stride;
            if (s.frequency & STREAMSOURCE_INSTANCEDATA) a.divisor = std::max(1u, s.frequency & kStreamFrequencyCount);
        }
        a.white = !a.buffer && in.usage == DECLUSAGE_COLOR && in.usageIndex == 0;
        attribs.list[attribs.count++] = a;
    }
    bool shifted = true;
    int64_t vertexShift = -1;
    for (uint32_t i = 0; i < attribs.count; ++i) {
        const Attrib& a = attribs.list[i];
        if (!a.buffer || a.divisor != 0) continue;
        if (a.stride == 0 || bases[i] % a.stride != 0 || (vertexShift >= 0 && vertexShift != bases[i] / a.stride))
            shifted = false;
        else
            vertexShift = bases[i] / a.stride;
    }
    if (!shifted || vertexShift < 0) {
        for (uint32_t i = 0; i < attribs.count; ++i) attribs.list[i].offset += bases[i];
        vertexShift = 0;
    } else {
        for (uint32_t i = 0; i < attribs.count; ++i)
            if (attribs.list[i].divisor != 0) attribs.list[i].offset += bases[i];
    }
    // The same inputs from the same places as the last draw: nothing to send.
    if (!(c.attribsValid && attribs == c.attribs)) {
        uint32_t enabled = 0;
        for (uint32_t i = 0; i < attribs.count; ++i) {
            const Attrib& a = attribs.list[i];
            if (!a.buffer) {
                if (a.white) gl->glVertexAttrib4f(a.location, 1, 1, 1, 1);
                else gl->glVertexAttrib4f(a.location, 0, 0, 0, 1);
                continue;
            }
            gl->glBindBuffer(GL_ARRAY_BUFFER, a.buffer);
            gl->glVertexAttribPointer(a.location, a.format.size, a.format.type, a.format.normalised,
                                      static_cast<GLsizei>(a.stride), reinterpret_cast<const void*>(static_cast<uintptr_t>(a.offset)));
            if (c.divisors[a.location] != a.divisor) gl->glVertexAttribDivisor(a.location, a.divisor);
            c.divisors[a.location] = a.divisor;
            enabled |= 1u << a.location;
        }
        for (uint32_t i = 0; i < 32; ++i) {
            const uint32_t bit = 1u << i;
            if ((enabled & bit) && !(c.enabledAttribs & bit)) gl->glEnableVertexAttribArray(i);
            if (!(enabled & bit) && (c.enabledAttribs & bit)) gl->glDisableVertexAttribArray(i);
        }
        c.enabledAttribs = enabled;
        c.attribs = attribs;
        c.attribsValid = true;
    }

    const GLenum mode = Primitive(call.type);
    switch (call.call) {
    case CallKind::DrawPrimitive:
        gl->glDrawArrays(mode, static_cast<GLint>(call.startVertex + vertexShift), static_cast<GLsizei>(vertexCount));
        break;
    case CallKind::DrawPrimitiveUP:
        gl->glDrawArrays(mode, static_cast<GLint>(vertexShift), static_cast<GLsizei>(vertexCount));
        break;
    case CallKind::DrawIndexedPrimitive: {
        const bool wide = state.indices->format == FMT_INDEX32;
        uint32_t base = 0;
        Buffer(state.indices, GL_ELEMENT_ARRAY_BUFFER, &base);
        const void* first = reinterpret_cast<const void*>(base + static_cast<uintptr_t>(call.startIndex) * (wide ? 4 : 2));
        if (instances > 1)
            gl->glDrawElementsInstancedBaseVertex(mode, static_cast<GLsizei>(vertexCount),
                                                  wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, first,
                                                  static_cast<GLsizei>(instances),
                                                  static_cast<GLint>(call.baseVertex + vertexShift));
        else
            gl->glDrawElementsBaseVertex(mode, static_cast<GLsizei>(vertexCount),
                                         wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, first,
                                         static_cast<GLint>(call.baseVertex + vertexShift));
        break;
    }
    case CallKind::DrawIndexedPrimitiveUP: {
        const bool wide = call.userIndexFormat == FMT_INDEX32;
        const uint32_t at = RingWrite(call.userIndices, vertexCount * (wide ? 4 : 2), 16);
        gl->glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ring);
        gl->glDrawElementsBaseVertex(mode, static_cast<GLsizei>(vertexCount), wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                     reinterpret_cast<const void*>(static_cast<uintptr_t>(at)), static_cast<GLint>(vertexShift));
        break;
    }
    default: break;
    }
    for (SurfaceImpl* s : {rt0, rt1, depth})
        if (s) s->gpuDirty = true;
    Done();
}

void GlBackendImpl::Clear(const BoundState& state, const Rect& rect, uint32_t flags, Color color, float z,
                          uint32_t stencil) {
    Context& c = Current();
    SurfaceImpl* rt0 = state.renderTargets[0];
    SurfaceImpl* rt1 = state.renderTargets[1];
    SurfaceImpl* depth = state.depthStencil;
    for (SurfaceImpl* s : {rt0, rt1, depth})
        if (s) Upload(s);
    Framebuffer(c, rt0, rt1, depth);
    c.rasterValid = false;
    gl->glDisable(GL_FRAMEBUFFER_SRGB);
    gl->glEnable(GL_SCISSOR_TEST);
    gl->glScissor(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    GLbitfield bits = 0;
    if (flags & CLEAR_TARGET) {
        float rgba[4];
        ColorToFloats(color, rgba);
        gl->glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl->glColorMaski(1, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        gl->glClearColor(rgba[0], rgba[1], rgba[2], rgba[3]);
        bits |= GL_COLOR_BUFFER_BIT;
        if (rt0) rt0->gpuDirty = true;
        if (rt1) rt1->gpuDirty = true;
    }
    if ((flags & CLEAR_ZBUFFER) && depth) {
        gl->glDepthMask(GL_TRUE);
        gl->glClearDepthf(z);
        bits |= GL_DEPTH_BUFFER_BIT;
    }
    if ((flags & CLEAR_STENCIL) && depth) {
        gl->glStencilMask(0xFF);
        gl->glClearStencil(static_cast<GLint>(stencil & 0xFF));
        bits |= GL_STENCIL_BUFFER_BIT;
    }
    if (depth && (bits & (GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT))) depth->gpuDirty = true;
    if (bits) gl->glClear(bits);
    Done();
}

void GlBackendImpl::ColorFill(SurfaceImpl* surface, const Rect& rect, Color color) {
    Context& c = Current();
    Upload(surface);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, c.drawFbo);
    c.drawFramebuffer = c.drawFbo;
    Attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, surface);
    const GLenum buffer = GL_COLOR_ATTACHMENT0;
    gl->glDrawBuffers(1, &buffer);
    c.rasterValid = false;
    gl->glDisable(GL_FRAMEBUFFER_SRGB);
    gl->glEnable(GL_SCISSOR_TEST);
    gl->glScissor(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    float rgba[4];
    ColorToFloats(color, rgba);
    gl->glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl->glClearColor(rgba[0], rgba[1], rgba[2], rgba[3]);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    gl->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    surface->gpuDirty = true;
    Done();
}

void GlBackendImpl::StretchRect(SurfaceImpl* source, const Rect& sr, SurfaceImpl* dest, const Rect& dr,
                                TextureFilter filter) {
    Context& c = Current();
    Upload(source);
    Upload(dest);
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, c.readFbo);
    Attach(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, source);
    gl->glReadBuffer(GL_COLOR_ATTACHMENT0);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, c.drawFbo);
    c.drawFramebuffer = c.drawFbo;
    Attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, dest);
    const GLenum buffer = GL_COLOR_ATTACHMENT0;
    gl->glDrawBuffers(1, &buffer);
    c.rasterValid = false;
    gl->glDisable(GL_FRAMEBUFFER_SRGB);
    gl->glDisable(GL_SCISSOR_TEST);
    gl->glColorMaski(0, GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl->glBlitFramebuffer(sr.left, sr.top, sr.right, sr.bottom, dr.left, dr.top, dr.right, dr.bottom,
                          GL_COLOR_BUFFER_BIT, filter == TEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    gl->glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    dest->gpuDirty = true;
    Done();
}

void GlBackendImpl::SyncToCpu(SurfaceImpl* s) {
    if (!s->gpuDirty) return;
    Context& c = Current();
    s->gpuDirty = false;
    const GlFormat* f = FindFormat(s->format);
    if (!f || f->compressed) return;
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, c.readFbo);
    const GLenum attachment = AttachmentOf(s);
    Attach(GL_READ_FRAMEBUFFER, attachment, s);
    gl->glReadBuffer(attachment == GL_COLOR_ATTACHMENT0 ? GL_COLOR_ATTACHMENT0 : GL_NONE);
    gl->glPixelStorei(GL_PACK_ROW_LENGTH, s->texelBytes ? static_cast<GLint>(s->pitch / s->texelBytes) : 0);
    gl->glReadPixels(0, 0, s->width, s->height, f->layout, f->type, s->bytes.data());
    gl->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, attachment, GL_TEXTURE_2D, 0, 0);
    Done();
}

void GlBackendImpl::Finish() {
    if (!haveLastThread || !(lastThread == os::CurrentThreadId())) return;
    Current();
    gl->glFinish();
}

// Called while the object is destroyed: only its address (as an ObjectCore) is used.
void GlBackendImpl::Forget(ObjectCore* object) {
    locations.erase(object);
    for (auto& c : contexts) {
        for (auto it = c->fbos.begin(); it != c->fbos.end();) {
            if (it->first.color0 == object || it->first.color1 == object || it->first.depth == object) {
                c->staleFbos.push_back(it->second);
                it = c->fbos.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (auto m = buffers.find(object); m != buffers.end()) {
        deadBuffers.push_back(m->second.name);
        buffers.erase(m);
    }
    for (auto it = programs.begin(); it != programs.end();) {
        if (std::get<0>(it->first) == object || std::get<1>(it->first) == object) {
            if (it->second.name) deadPrograms.push_back(it->second.name);
            for (auto& c : contexts)
                if (c->program == it->second.name) c->program = 0;
            it = programs.erase(it);
        } else {
            ++it;
        }
    }
    if (auto m = shaders.find(object); m != shaders.end()) {
        if (m->second->shader) deadShaders.push_back(m->second->shader);
        if (m->second->alphaShader) deadShaders.push_back(m->second->alphaShader);
        shaders.erase(m);
    }
    if (auto t = textures.find(object); t != textures.end()) {
        deadTextures.push_back(t->second.name);
        textures.erase(t);
    }
}

}  // namespace

std::unique_ptr<GlBackend> GlBackend::Create(std::string* error) {
    auto backend = std::make_unique<GlBackendImpl>();
    if (!backend->Init(error)) return nullptr;
    return backend;
}

}  // namespace gfx::detail
