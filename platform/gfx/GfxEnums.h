#pragma once
// Numeric constants of the graphics device: result codes, formats, render and sampler
// states with their values, usages, pools, lock flags, primitive and declaration types.
// The values are the original platform's documented ones, because shader definitions,
// mesh declarations, scene files and DDS files store them.
#include <cstdint>

namespace gfx {

// ---- Results (HRESULT-style: negative is failure) ----
using Result = int32_t;
constexpr bool Succeeded(Result r) { return r >= 0; }
constexpr bool Failed(Result r) { return r < 0; }

constexpr Result OK = 0;
constexpr Result OK_FALSE = 1;
constexpr Result ERR_FAIL = static_cast<Result>(0x80004005u);
constexpr Result ERR_NOTIMPL = static_cast<Result>(0x80004001u);
constexpr Result ERR_OUTOFMEMORY = static_cast<Result>(0x8007000Eu);
constexpr Result ERR_INVALIDARG = static_cast<Result>(0x80070057u);
constexpr Result ERR_OUTOFVIDEOMEMORY = static_cast<Result>(0x8876017Cu);
constexpr Result ERR_WASSTILLDRAWING = static_cast<Result>(0x8876021Cu);
constexpr Result ERR_DRIVERINTERNALERROR = static_cast<Result>(0x88760827u);
constexpr Result ERR_NOTFOUND = static_cast<Result>(0x88760866u);
constexpr Result ERR_MOREDATA = static_cast<Result>(0x88760867u);
constexpr Result ERR_DEVICELOST = static_cast<Result>(0x88760868u);
constexpr Result ERR_DEVICENOTRESET = static_cast<Result>(0x88760869u);
constexpr Result ERR_NOTAVAILABLE = static_cast<Result>(0x8876086Au);
constexpr Result ERR_INVALIDCALL = static_cast<Result>(0x8876086Cu);
constexpr Result ERR_DEVICEREMOVED = static_cast<Result>(0x88760870u);
// Texture helpers: the data is not a readable image.
constexpr Result ERR_INVALIDDATA = static_cast<Result>(0x88760B59u);

constexpr uint32_t SDK_VERSION = 32;

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// ---- Formats ----
enum Format : uint32_t {
    FMT_UNKNOWN = 0,
    FMT_R8G8B8 = 20,
    FMT_A8R8G8B8 = 21,
    FMT_X8R8G8B8 = 22,
    FMT_R5G6B5 = 23,
    FMT_X1R5G5B5 = 24,
    FMT_A1R5G5B5 = 25,
    FMT_A4R4G4B4 = 26,
    FMT_A8 = 28,
    FMT_X4R4G4B4 = 30,
    FMT_A2B10G10R10 = 31,
    FMT_A8B8G8R8 = 32,
    FMT_X8B8G8R8 = 33,
    FMT_G16R16 = 34,
    FMT_A2R10G10B10 = 35,
    FMT_A16B16G16R16 = 36,
    FMT_L8 = 50,
    FMT_A8L8 = 51,
    FMT_L16 = 81,
    FMT_D16_LOCKABLE = 70,
    FMT_D32 = 71,
    FMT_D15S1 = 73,
    FMT_D24S8 = 75,
    FMT_D24X8 = 77,
    FMT_D16 = 80,
    FMT_D32F_LOCKABLE = 82,
    FMT_INDEX16 = 101,
    FMT_INDEX32 = 102,
    FMT_R16F = 111,
    FMT_G16R16F = 112,
    FMT_A16B16G16R16F = 113,
    FMT_R32F = 114,
    FMT_G32R32F = 115,
    FMT_A32B32G32R32F = 116,
    FMT_DXT1 = MakeFourCC('D', 'X', 'T', '1'),
    FMT_DXT2 = MakeFourCC('D', 'X', 'T', '2'),
    FMT_DXT3 = MakeFourCC('D', 'X', 'T', '3'),
    FMT_DXT4 = MakeFourCC('D', 'X', 'T', '4'),
    FMT_DXT5 = MakeFourCC('D', 'X', 'T', '5'),
    // Vendor depth-texture formats, offered only when the device reports them.
    FMT_INTZ = MakeFourCC('I', 'N', 'T', 'Z'),
    FMT_RAWZ = MakeFourCC('R', 'A', 'W', 'Z'),
};

enum MultisampleType : uint32_t {
    MULTISAMPLE_NONE = 0,
    MULTISAMPLE_NONMASKABLE = 1,
    MULTISAMPLE_2_SAMPLES = 2,
    MULTISAMPLE_4_SAMPLES = 4,
    MULTISAMPLE_8_SAMPLES = 8,
    MULTISAMPLE_16_SAMPLES = 16,
};

enum Pool : uint32_t { POOL_DEFAULT = 0, POOL_MANAGED = 1, POOL_SYSTEMMEM = 2, POOL_SCRATCH = 3 };
constexpr uint32_t kPoolCount = 4;

enum ResourceType : uint32_t {
    RTYPE_SURFACE = 1,
    RTYPE_VOLUME = 2,
    RTYPE_TEXTURE = 3,
    RTYPE_VOLUMETEXTURE = 4,
    RTYPE_CUBETEXTURE = 5,
    RTYPE_VERTEXBUFFER = 6,
    RTYPE_INDEXBUFFER = 7,
};

// ---- Usages, locks, clears ----
constexpr uint32_t USAGE_RENDERTARGET = 0x1;
constexpr uint32_t USAGE_DEPTHSTENCIL = 0x2;
constexpr uint32_t USAGE_WRITEONLY = 0x8;
constexpr uint32_t USAGE_SOFTWAREPROCESSING = 0x10;
constexpr uint32_t USAGE_DONOTCLIP = 0x20;
constexpr uint32_t USAGE_POINTS = 0x40;
constexpr uint32_t USAGE_DYNAMIC = 0x200;
constexpr uint32_t USAGE_AUTOGENMIPMAP = 0x400;

constexpr uint32_t LOCK_READONLY = 0x10;
constexpr uint32_t LOCK_NOSYSLOCK = 0x800;
constexpr uint32_t LOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t LOCK_DISCARD = 0x2000;
constexpr uint32_t LOCK_DONOTWAIT = 0x4000;
constexpr uint32_t LOCK_NO_DIRTY_UPDATE = 0x8000;

constexpr uint32_t CLEAR_TARGET = 0x1;
constexpr uint32_t CLEAR_ZBUFFER = 0x2;
constexpr uint32_t CLEAR_STENCIL = 0x4;

// ---- Device creation and presentation ----
enum DeviceType : uint32_t { DEVTYPE_HAL = 1, DEVTYPE_REF = 2, DEVTYPE_SW = 3, DEVTYPE_NULLREF = 4 };

constexpr uint32_t CREATE_FPU_PRESERVE = 0x2;
constexpr uint32_t CREATE_MULTITHREADED = 0x4;
constexpr uint32_t CREATE_PUREDEVICE = 0x10;
constexpr uint32_t CREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t CREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr uint32_t CREATE_MIXED_VERTEXPROCESSING = 0x80;

enum SwapEffect : uint32_t { SWAPEFFECT_DISCARD = 1, SWAPEFFECT_FLIP = 2, SWAPEFFECT_COPY = 3 };

constexpr uint32_t PRESENT_INTERVAL_DEFAULT = 0;
constexpr uint32_t PRESENT_INTERVAL_ONE = 1;
constexpr uint32_t PRESENT_INTERVAL_TWO = 2;
constexpr uint32_t PRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

enum BackBufferType : uint32_t { BACKBUFFER_TYPE_MONO = 0, BACKBUFFER_TYPE_LEFT = 1, BACKBUFFER_TYPE_RIGHT = 2 };

enum CubeFace : uint32_t {
    CUBEMAP_FACE_POSITIVE_X = 0,
    CUBEMAP_FACE_NEGATIVE_X = 1,
    CUBEMAP_FACE_POSITIVE_Y = 2,
    CUBEMAP_FACE_NEGATIVE_Y = 3,
    CUBEMAP_FACE_POSITIVE_Z = 4,
    CUBEMAP_FACE_NEGATIVE_Z = 5,
};

// ---- Queries ----
enum QueryType : uint32_t { QUERYTYPE_EVENT = 8, QUERYTYPE_OCCLUSION = 9 };
constexpr uint32_t ISSUE_END = 0x1;
constexpr uint32_t ISSUE_BEGIN = 0x2;
constexpr uint32_t GETDATA_FLUSH = 0x1;

// ---- Drawing ----
enum PrimitiveType : uint32_t {
    PT_POINTLIST = 1,
    PT_LINELIST = 2,
    PT_LINESTRIP = 3,
    PT_TRIANGLELIST = 4,
    PT_TRIANGLESTRIP = 5,
    PT_TRIANGLEFAN = 6,
};

enum TextureFilter : uint32_t { TEXF_NONE = 0, TEXF_POINT = 1, TEXF_LINEAR = 2, TEXF_ANISOTROPIC = 3 };

// Stream frequency flags for instancing (SetStreamSourceFreq).
constexpr uint32_t STREAMSOURCE_INDEXEDDATA = 1u << 30;
constexpr uint32_t STREAMSOURCE_INSTANCEDATA = 2u << 30;

// Flexible vertex format bits.
constexpr uint32_t FVF_XYZ = 0x002;
constexpr uint32_t FVF_XYZRHW = 0x004;
constexpr uint32_t FVF_NORMAL = 0x010;
constexpr uint32_t FVF_PSIZE = 0x020;
constexpr uint32_t FVF_DIFFUSE = 0x040;
constexpr uint32_t FVF_SPECULAR = 0x080;
constexpr uint32_t FVF_TEX1 = 0x100;
constexpr uint32_t FVF_TEX2 = 0x200;
constexpr uint32_t FVF_TEXCOUNT_MASK = 0xF00;
constexpr uint32_t FVF_TEXCOUNT_SHIFT = 8;

// ---- Vertex declarations ----
enum DeclType : uint8_t {
    DECLTYPE_FLOAT1 = 0,
    DECLTYPE_FLOAT2 = 1,
    DECLTYPE_FLOAT3 = 2,
    DECLTYPE_FLOAT4 = 3,
    DECLTYPE_D3DCOLOR = 4,
    DECLTYPE_UBYTE4 = 5,
    DECLTYPE_SHORT2 = 6,
    DECLTYPE_SHORT4 = 7,
    DECLTYPE_UBYTE4N = 8,
    DECLTYPE_SHORT2N = 9,
    DECLTYPE_SHORT4N = 10,
    DECLTYPE_USHORT2N = 11,
    DECLTYPE_USHORT4N = 12,
    DECLTYPE_UDEC3 = 13,
    DECLTYPE_DEC3N = 14,
    DECLTYPE_FLOAT16_2 = 15,
    DECLTYPE_FLOAT16_4 = 16,
    DECLTYPE_UNUSED = 17,
};
enum DeclMethod : uint8_t { DECLMETHOD_DEFAULT = 0 };
enum DeclUsage : uint8_t {
    DECLUSAGE_POSITION = 0,
    DECLUSAGE_BLENDWEIGHT = 1,
    DECLUSAGE_BLENDINDICES = 2,
    DECLUSAGE_NORMAL = 3,
    DECLUSAGE_PSIZE = 4,
    DECLUSAGE_TEXCOORD = 5,
    DECLUSAGE_TANGENT = 6,
    DECLUSAGE_BINORMAL = 7,
    DECLUSAGE_TESSFACTOR = 8,
    DECLUSAGE_POSITIONT = 9,
    DECLUSAGE_COLOR = 10,
    DECLUSAGE_FOG = 11,
    DECLUSAGE_DEPTH = 12,
    DECLUSAGE_SAMPLE = 13,
};
constexpr uint32_t kMaxDeclElements = 64;  // elements before the end marker

// ---- Render states ----
enum RenderStateType : uint32_t {
    RS_ZENABLE = 7,
    RS_FILLMODE = 8,
    RS_SHADEMODE = 9,
    RS_ZWRITEENABLE = 14,
    RS_ALPHATESTENABLE = 15,
    RS_LASTPIXEL = 16,
    RS_SRCBLEND = 19,
    RS_DESTBLEND = 20,
    RS_CULLMODE = 22,
    RS_ZFUNC = 23,
    RS_ALPHAREF = 24,
    RS_ALPHAFUNC = 25,
    RS_DITHERENABLE = 26,
    RS_ALPHABLENDENABLE = 27,
    RS_FOGENABLE = 28,
    RS_SPECULARENABLE = 29,
    RS_FOGCOLOR = 34,
    RS_FOGTABLEMODE = 35,
    RS_FOGSTART = 36,
    RS_FOGEND = 37,
    RS_FOGDENSITY = 38,
    RS_RANGEFOGENABLE = 48,
    RS_STENCILENABLE = 52,
    RS_STENCILFAIL = 53,
    RS_STENCILZFAIL = 54,
    RS_STENCILPASS = 55,
    RS_STENCILFUNC = 56,
    RS_STENCILREF = 57,
    RS_STENCILMASK = 58,
    RS_STENCILWRITEMASK = 59,
    RS_TEXTUREFACTOR = 60,
    RS_WRAP0 = 128,
    RS_WRAP7 = 135,
    RS_CLIPPING = 136,
    RS_LIGHTING = 137,
    RS_AMBIENT = 139,
    RS_FOGVERTEXMODE = 140,
    RS_COLORVERTEX = 141,
    RS_LOCALVIEWER = 142,
    RS_NORMALIZENORMALS = 143,
    RS_DIFFUSEMATERIALSOURCE = 145,
    RS_SPECULARMATERIALSOURCE = 146,
    RS_AMBIENTMATERIALSOURCE = 147,
    RS_EMISSIVEMATERIALSOURCE = 148,
    RS_VERTEXBLEND = 151,
    RS_CLIPPLANEENABLE = 152,
    RS_POINTSIZE = 154,
    RS_POINTSIZE_MIN = 155,
    RS_POINTSPRITEENABLE = 156,
    RS_POINTSCALEENABLE = 157,
    RS_POINTSCALE_A = 158,
    RS_POINTSCALE_B = 159,
    RS_POINTSCALE_C = 160,
    RS_MULTISAMPLEANTIALIAS = 161,
    RS_MULTISAMPLEMASK = 162,
    RS_PATCHEDGESTYLE = 163,
    RS_DEBUGMONITORTOKEN = 165,
    RS_POINTSIZE_MAX = 166,
    RS_INDEXEDVERTEXBLENDENABLE = 167,
    RS_COLORWRITEENABLE = 168,
    RS_TWEENFACTOR = 170,
    RS_BLENDOP = 171,
    RS_POSITIONDEGREE = 172,
    RS_NORMALDEGREE = 173,
    RS_SCISSORTESTENABLE = 174,
    RS_SLOPESCALEDEPTHBIAS = 175,
    RS_ANTIALIASEDLINEENABLE = 176,
    RS_MINTESSELLATIONLEVEL = 178,
    RS_MAXTESSELLATIONLEVEL = 179,
    RS_ADAPTIVETESS_X = 180,
    RS_ADAPTIVETESS_Y = 181,
    RS_ADAPTIVETESS_Z = 182,
    RS_ADAPTIVETESS_W = 183,
    RS_ENABLEADAPTIVETESSELLATION = 184,
    RS_TWOSIDEDSTENCILMODE = 185,
    RS_CCW_STENCILFAIL = 186,
    RS_CCW_STENCILZFAIL = 187,
    RS_CCW_STENCILPASS = 188,
    RS_CCW_STENCILFUNC = 189,
    RS_COLORWRITEENABLE1 = 190,
    RS_COLORWRITEENABLE2 = 191,
    RS_COLORWRITEENABLE3 = 192,
    RS_BLENDFACTOR = 193,
    RS_SRGBWRITEENABLE = 194,
    RS_DEPTHBIAS = 195,
    RS_WRAP8 = 198,
    RS_WRAP15 = 205,
    RS_SEPARATEALPHABLENDENABLE = 206,
    RS_SRCBLENDALPHA = 207,
    RS_DESTBLENDALPHA = 208,
    RS_BLENDOPALPHA = 209,
};
constexpr uint32_t kRenderStateCount = 210;  // states are indexed 0..209; unnamed ones are refused

// Render-state values.
enum ZBufferType : uint32_t { ZB_FALSE = 0, ZB_TRUE = 1, ZB_USEW = 2 };
enum FillMode : uint32_t { FILL_POINT = 1, FILL_WIREFRAME = 2, FILL_SOLID = 3 };
enum ShadeMode : uint32_t { SHADE_FLAT = 1, SHADE_GOURAUD = 2 };
enum Blend : uint32_t {
    BLEND_ZERO = 1,
    BLEND_ONE = 2,
    BLEND_SRCCOLOR = 3,
    BLEND_INVSRCCOLOR = 4,
    BLEND_SRCALPHA = 5,
    BLEND_INVSRCALPHA = 6,
    BLEND_DESTALPHA = 7,
    BLEND_INVDESTALPHA = 8,
    BLEND_DESTCOLOR = 9,
    BLEND_INVDESTCOLOR = 10,
    BLEND_SRCALPHASAT = 11,
    BLEND_BLENDFACTOR = 14,
    BLEND_INVBLENDFACTOR = 15,
};
enum BlendOp : uint32_t { BLENDOP_ADD = 1, BLENDOP_SUBTRACT = 2, BLENDOP_REVSUBTRACT = 3, BLENDOP_MIN = 4, BLENDOP_MAX = 5 };
enum Cull : uint32_t { CULL_NONE = 1, CULL_CW = 2, CULL_CCW = 3 };
enum CmpFunc : uint32_t {
    CMP_NEVER = 1,
    CMP_LESS = 2,
    CMP_EQUAL = 3,
    CMP_LESSEQUAL = 4,
    CMP_GREATER = 5,
    CMP_NOTEQUAL = 6,
    CMP_GREATEREQUAL = 7,
    CMP_ALWAYS = 8,
};
enum StencilOp : uint32_t {
    STENCILOP_KEEP = 1,
    STENCILOP_ZERO = 2,
    STENCILOP_REPLACE = 3,
    STENCILOP_INCRSAT = 4,
    STENCILOP_DECRSAT = 5,
    STENCILOP_INVERT = 6,
    STENCILOP_INCR = 7,
    STENCILOP_DECR = 8,
};
constexpr uint32_t COLORWRITEENABLE_RED = 0x1;
constexpr uint32_t COLORWRITEENABLE_GREEN = 0x2;
constexpr uint32_t COLORWRITEENABLE_BLUE = 0x4;
constexpr uint32_t COLORWRITEENABLE_ALPHA = 0x8;
enum MaterialColorSource : uint32_t { MCS_MATERIAL = 0, MCS_COLOR1 = 1, MCS_COLOR2 = 2 };
enum DegreeType : uint32_t { DEGREE_LINEAR = 1, DEGREE_QUADRATIC = 2, DEGREE_CUBIC = 3, DEGREE_QUINTIC = 5 };

// ---- Sampler states ----
enum SamplerStateType : uint32_t {
    SAMP_ADDRESSU = 1,
    SAMP_ADDRESSV = 2,
    SAMP_ADDRESSW = 3,
    SAMP_BORDERCOLOR = 4,
    SAMP_MAGFILTER = 5,
    SAMP_MINFILTER = 6,
    SAMP_MIPFILTER = 7,
    SAMP_MIPMAPLODBIAS = 8,
    SAMP_MAXMIPLEVEL = 9,
    SAMP_MAXANISOTROPY = 10,
    SAMP_SRGBTEXTURE = 11,
    SAMP_ELEMENTINDEX = 12,
    SAMP_DMAPOFFSET = 13,
};
constexpr uint32_t kSamplerStateCount = 14;  // indexed 0..13; 0 is unused
constexpr uint32_t kSamplerStageCount = 16;
enum TextureAddress : uint32_t {
    TADDRESS_WRAP = 1,
    TADDRESS_MIRROR = 2,
    TADDRESS_CLAMP = 3,
    TADDRESS_BORDER = 4,
    TADDRESS_MIRRORONCE = 5,
};

// ---- Shader constants ----
constexpr uint32_t kVertexShaderFloatConstants = 256;
constexpr uint32_t kPixelShaderFloatConstants = 224;  // ps_3_0; the device accepts up to 256 with a warning
constexpr uint32_t kMaxFloatConstants = 256;
constexpr uint32_t kIntConstants = 16;
constexpr uint32_t kBoolConstants = 16;
constexpr uint32_t kMaxStreams = 16;
constexpr uint32_t kMaxRenderTargets = 4;

// Shader version tokens (the first word of a shader's code).
constexpr uint32_t kVertexShaderVersion30 = 0xFFFE0300u;
constexpr uint32_t kPixelShaderVersion30 = 0xFFFF0300u;
constexpr uint32_t kShaderEndToken = 0x0000FFFFu;

}  // namespace gfx
