// The shader manager: design note.
//
// Families come from "Common/Shaders/Shaders.DefBin" (ShaderDefinitions.cpp), sorted by
// name. GetShader turns (family, options) into two shader resources: the device's
// hardware-depth options are appended to the option text, the family's variant cache
// gives the resource names, and the ResourceManager's shader pool gives the resources
// (created on first use), which are then loaded here, queued on the loader thread or
// waited for. The loader compiles a variant by asking LookupFamilyOptions for the names
// its mask digits select (ResourceShader.cpp).
//
// At start-up the built-in tables below are requested in one batch: everything is queued,
// the loader drained, and the shader objects resolved into the fixed, light and
// shadow-map groups; the post-processing chain's pairs follow the same pattern.
#include "render/shaders/ShaderManager.h"

#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "core/SortedSearch.h"
#include "core/fs/FileReader.h"
#include "render/PostProcessMath.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourceTexture.h"
#include "render/shaders/PostProcessChain.h"
#include "render/shaders/ResourceShader.h"
#include "render/shaders/ShaderDefinitions.h"

ShaderManager* gShaderManager = nullptr;

namespace {

constexpr const char* kHardwareDepth = "HARDWARE_DEPTH";
constexpr const char* kHardwareDepthRawz = "HARDWARE_DEPTH_RAWZ";

struct BuiltInVariant {
    uint32_t slot;
    const char* family;
    const char* options;
    uint32_t flags;
};

// Fixed slot 2 stays empty.
constexpr BuiltInVariant kFixedVariants[] = {
    {0, "FixedPipelineReplacement", "", 0},
    {1, "FixedPipelineReplacement", "DENORMALIZATION", 0},
    {3, "FixedPipelineReplacement", "TEXTURE", 0},
    {4, "FixedPipelineReplacement", "TEXTURE ALPHA_ONLY_TEXTURE", 0},
    {5, "FixedPipelineReplacement", "TEXTURE ALPHA_ONLY_TEXTURE FADE", 0},
    {6, "FixedPipelineReplacement", "DENORMALIZATION SKINNING", 0},
    {7, "FixedPipelineReplacement", "TEXTURE LINEAR_TEXTURES", 64},
    {8, "FixedPipelineReplacement", "TEXTURE LINEAR_TEXTURES SATURATION", 64},
    {9, "FixedPipelineReplacement", "TEXTURE SCREEN_UV CONVERT_TO_SRGB LINEAR_TEXTURES", 64},
    {10, "FixedPipelineReplacement", "TEXTURE LINEAR_TEXTURES SCREEN_BLUR", 64},
    {11, "FixedPipelineReplacement", "VIDEO", 64},
    {12, "Upscale", "", 64},
    {13, "Font", "", 0},
    {14, "Font", "OUTLINES", 0},
    {15, "iPhoneUI", "NO_TEXTURE", 0},
};

// Light tables: family, leading option and the requested indices (bit sets of
// kLightBits); other slots stay empty.
struct LightTable {
    const char* family;
    const char* option;
    std::initializer_list<uint32_t> indices;
};
const LightTable kLightTableRows[ShaderManager::kLightTables] = {
    {"Light", "POINT", {0, 1, 8, 9}},
    {"Light", "SPOT", {0, 1, 8, 9}},
    {"Light", "TUBE", {0, 8}},
    {"LightCubeGeneration", "", {0, 1}},
    {"LightFinalComponents", "", {0, 1, 2, 3, 6, 7, 8, 9, 10, 11, 14, 15}},
};
const char* const kLightBits[] = {"MASK", "SHADOWMAP", "SHADOWMAP_FILTERING", "LOWSPEC"};
// Mesh shadow-map index bits; higher bits name nothing, so index 16 + i repeats i.
const char* const kShadowMapBits[] = {"SKINNING", "ALPHA_TEST", "INSTANCING", "DISTORTION"};

// The chain's pass shaders, in PostProcessChain::PassShader order.
constexpr BuiltInVariant kPassVariants[] = {
    {PostProcessChain::PASS_GLOW_SOURCE, "GlowSource", "", 0},
    {PostProcessChain::PASS_GAUSS_BLUR, "GaussBlur", "", 0},
    {PostProcessChain::PASS_ZOOM_BLUR, "ZoomBlur", "", 0},
    {PostProcessChain::PASS_DILATE, "Dilate", "", 0},
    {PostProcessChain::PASS_DOWNSCALE_LUMINANCE, "DownscaleLuminance", "", 0},
    {PostProcessChain::PASS_FXAA, "FXAA", "", 0},
    {PostProcessChain::PASS_RGB_SHIFT, "RGBShift", "", 0},
    {PostProcessChain::PASS_OUTLINES, "Outlines", "", 64},
    {PostProcessChain::PASS_OUTLINES_LOW_SPEC, "Outlines", "LOW_SPEC_MODE", 64},
    {PostProcessChain::PASS_SSAO_PREPARE, "SSAOPrepare", "", 0},
    {PostProcessChain::PASS_SSAO_PREPARE_NORMAL_MAPS, "SSAOPrepare", "USE_NORMAL_MAPS", 0},
    {PostProcessChain::PASS_SSAO_BLUR, "SSAOBlur", "", 0},
    {PostProcessChain::PASS_SSAO_BLUR_FINAL, "SSAOBlur", "FINAL_PASS", 0},
};
static_assert(sizeof kPassVariants / sizeof kPassVariants[0] == PostProcessChain::PASS_SHADER_COUNT);

struct SystemTextureRow {
    const char* name;
    uint32_t flags;
};
constexpr SystemTextureRow kSystemTextureRows[ShaderManager::kSystemTextures] = {
    {"System/RefractionNoise.dds", 84}, {"System/White_4x4$cxy.dds", 0}, {"System/Gray_4x4$cxy.dds", 0},
    {"System/SteamAvatar0.dds", 64},    {"System/SteamAvatar1.dds", 64},
};

// A leading option and the names of an index's set bits, joined by blanks.
template <size_t N>
std::string OptionsFromBits(const char* leading, const char* const (&bits)[N], uint32_t index) {
    std::string text = leading;
    for (size_t b = 0; b < N; ++b) {
        if (!(index & (1u << b))) continue;
        if (!text.empty()) text += ' ';
        text += bits[b];
    }
    return text;
}

// Waits until the queued shader loads are done, their device shaders included: the
// loader hands each compiled shader to the render thread as a resource job.
void DrainLoader() {
    gVornexRenderer.FlushCommands(false);
    gResourceManager.Flush();
    gVornexRenderer.WaitForResourceJobs(1);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Pairs

bool ShaderPair::Acquire(const char* family, const char* options, uint32_t flags) {
    Release();
    return gShaderManager &&
           gShaderManager->GetShader(family, options, &vertexShader, &pixelShader, SHADER_LOAD_QUEUED, false, flags);
}

void ShaderPair::ResolveObjects() {
    vertexObject = vertexShader ? vertexShader->GetVertexShaderObject() : nullptr;
    pixelObject = pixelShader ? pixelShader->GetPixelShaderObject() : nullptr;
}

void ShaderPair::Release() {
    Resource* both[2] = {vertexShader, pixelShader};
    ReleaseResources(both, 2);
    *this = ShaderPair{};
}

void ShaderPair::Bind() const {
    gVornexRenderer.SetVertexShader(vertexObject ? vertexObject->DeviceShader() : nullptr);
    gVornexRenderer.SetPixelShader(pixelObject ? pixelObject->DeviceShader() : nullptr);
}

void ShaderPair::SetVertexConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) const {
    gVornexRenderer.SetVertexShaderConstants(firstRegister, data, registerCount);
}

void ShaderPair::SetPixelConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) const {
    gVornexRenderer.SetPixelShaderConstants(firstRegister, data, registerCount);
}

// ---------------------------------------------------------------------------------------
// Definitions

ShaderManager::~ShaderManager() {
    // The groups' resources belong to the pools, which may already be gone: Close
    // releases them while the pools exist.
    for (ShaderFamily* f : families) delete f;
}

void ShaderManager::DiscardFamilies() {
    for (ShaderFamily* f : families) delete f;
    families.clear();
    stamp = 0;
}

bool ShaderManager::ReadDefinitions() {
    FileReader reader("Shaders", "DefBin", "Common/Shaders");
    if (!reader.IsOpen()) return false;
    uint64_t fileStamp = 0;
    if (!ReadShaderDefBin(reader, &fileStamp, &families)) return false;
    std::stable_sort(families.begin(), families.end(), [](const ShaderFamily* a, const ShaderFamily* b) {
        return RTTIStricmp(a->name.CStr(), b->name.CStr()) < 0;
    });
    stamp = fileStamp;
    return true;
}

bool ShaderManager::LoadDefinitions() {
    if (loaded) return true;
    bool ok;
    {
        CriticalSectionGuard guard(&lock);
        DiscardFamilies();
        ok = ReadDefinitions();
    }
    if (!ok) {
        gLog.Error(LogCategory::Engine, "Unable to load shader definition file");
        Close();
        return false;
    }
    LoadBuiltInShaders();
    loaded = true;
    return true;
}

int32_t ShaderManager::FindFamilyIndex(const char* name) const {
    if (!name) return -1;
    const SortedSearchResult r = FindSortedEqual(static_cast<uint32_t>(families.size()), [&](uint32_t i) {
        return RTTIStricmp(name, families[i]->name.CStr());
    });
    return r.found ? static_cast<int32_t>(r.index) : -1;
}

ShaderFamily* ShaderManager::FindFamilyLocked(const char* name) {
    const int32_t i = FindFamilyIndex(name);
    return i < 0 ? nullptr : families[static_cast<uint32_t>(i)];
}

uint32_t ShaderManager::FamilyCount() {
    CriticalSectionGuard guard(&lock);
    return static_cast<uint32_t>(families.size());
}

uint64_t ShaderManager::GetDefinitionStamp() {
    CriticalSectionGuard guard(&lock);
    return stamp;
}

// ---------------------------------------------------------------------------------------
// Variants

bool ShaderManager::GetShader(const char* family, const char* options, ResourceShader** vertex,
                              ResourceShader** pixel, uint32_t loadMode, bool wait, uint32_t flags) {
    std::string text = options ? options : "";
    if (gVornexRenderer.HardwareDepth()) {
        text += std::string(" ") + kHardwareDepth;
        if (gVornexRenderer.RawzDepth()) text += std::string(" ") + kHardwareDepthRawz;
    }
    ResourceShader* vs = nullptr;
    ResourceShader* ps = nullptr;
    bool found = false;
    if (text.size() <= kMaxOptionText) {
        CriticalSectionGuard guard(&lock);
        const char* vertexName = nullptr;
        const char* pixelName = nullptr;
        ShaderFamily* f = FindFamilyLocked(family);
        if (f && f->GetVariantNames(text.c_str(), &vertexName, &pixelName)) {
            found = true;
            vs = static_cast<ResourceShader*>(gResourceManager.GetResource(RESOURCE_SHADER, vertexName, 0, true, flags));
            ps = static_cast<ResourceShader*>(gResourceManager.GetResource(RESOURCE_SHADER, pixelName, 0, true, flags));
        }
    }
    if (!found) {
        gLog.Error(LogCategory::RenderDevice, "Cannot load shader %s with options %s", family ? family : "",
                   text.c_str());
        return false;
    }
    *vertex = vs;
    *pixel = ps;
    for (ResourceShader* r : {vs, ps}) {
        if (!r) continue;
        if (wait) r->Load(loadMode != SHADER_LOAD_HERE);
        else if (loadMode != SHADER_LOAD_HERE) r->QueueLoad();
        else r->Load(false);
    }
    return true;
}

bool ShaderManager::LookupFamilyOptions(const char* resourceName, std::vector<std::string>* names,
                                        bool skipHardwareDepth) {
    const char* slash = resourceName ? std::strchr(resourceName, '/') : nullptr;
    const char* dot = resourceName ? std::strrchr(resourceName, '.') : nullptr;
    if (!slash || !dot || dot < slash) return false;
    bool vertexStage = false;  // anything but "vs" lists the pixel stage
    ShaderStageOfExtension(dot + 1, &vertexStage);
    const std::string family(resourceName, slash);
    CriticalSectionGuard guard(&lock);
    const ShaderFamily* f = FindFamilyLocked(family.c_str());
    return f && f->ListOptions(slash + 1, vertexStage, skipHardwareDepth, names);
}

void ShaderManager::FixHardwareDepthBits(char* resourceName) {
    char* slash = resourceName ? std::strchr(resourceName, '/') : nullptr;
    const char* dot = resourceName ? std::strrchr(resourceName, '.') : nullptr;
    if (!slash || !dot || dot != slash + 1 + kShaderMaskDigits) return;
    bool vertexStage = false;  // anything but "vs" counts as the pixel stage here
    ShaderStageOfExtension(dot + 1, &vertexStage);
    uint32_t words[kShaderMaskWords];
    if (!ShaderMaskFromText(slash + 1, words)) return;
    const std::string family(resourceName, slash);
    CriticalSectionGuard guard(&lock);
    const ShaderFamily* f = FindFamilyLocked(family.c_str());
    if (!f) return;
    bool applies = false;
    auto fix = [&](const char* option, bool on) {
        const int32_t i = f->FindOption(option, std::strlen(option));
        if (i < 0 || static_cast<uint32_t>(i) >= kMaxShaderOptionBits) return;
        const ShaderOption& o = f->options[static_cast<uint32_t>(i)];
        if (!(vertexStage ? o.affectsVertexShader : o.affectsPixelShader)) return;
        const uint32_t bit = 1u << (i & 31);
        if (on) words[i >> 5] |= bit;
        else words[i >> 5] &= ~bit;
        applies = true;
    };
    fix(kHardwareDepth, gVornexRenderer.HardwareDepth());
    fix(kHardwareDepthRawz, gVornexRenderer.RawzDepth());
    if (!applies) return;
    char digits[kShaderMaskDigits + 1];
    ShaderMaskToText(words, digits);
    std::memcpy(slash + 1, digits, kShaderMaskDigits);
}

// ---------------------------------------------------------------------------------------
// Built-in shaders

void ShaderManager::LoadBuiltInShaders() {
    for (const BuiltInVariant& v : kFixedVariants) fixed[v.slot].Acquire(v.family, v.options, v.flags);
    for (uint32_t t = 0; t < kLightTables; ++t)
        for (uint32_t i : kLightTableRows[t].indices)
            lights[t][i].Acquire(kLightTableRows[t].family, OptionsFromBits(kLightTableRows[t].option, kLightBits, i).c_str(), 0);
    for (uint32_t i = 0; i < kShadowMapSlots; ++i)
        shadowMaps[i].Acquire("MeshShadowMap", OptionsFromBits("", kShadowMapBits, i).c_str(), 0);
    for (uint32_t i = 0; i < kSystemTextures; ++i) {
        SystemTextureSlot& s = systemTextures[i];
        if (s.resource) s.resource->Release();
        s = SystemTextureSlot{};
        s.resource = static_cast<ResourceTexture*>(
            gResourceManager.GetResource(RESOURCE_TEXTURE, kSystemTextureRows[i].name, 0, true, kSystemTextureRows[i].flags));
        if (s.resource) s.resource->QueueLoad();
    }
    DrainLoader();
    for (ShaderPair& p : fixed) p.ResolveObjects();
    for (auto& table : lights)
        for (ShaderPair& p : table) p.ResolveObjects();
    for (ShaderPair& p : shadowMaps) p.ResolveObjects();
    for (SystemTextureSlot& s : systemTextures) {
        if (!s.resource) continue;
        s.resource->Load(true);
        s.texture = s.resource->Handle();
    }
}

void ShaderManager::InitPostProcessShaders(PostProcessChain& chain) {
    for (uint32_t i = 0; i < PostProcessChain::kCompositeShaderCount; ++i)
        chain.compositeShaders[i].Acquire("Postprocess", CompositeOptionString(i).c_str(), 0);
    for (const BuiltInVariant& v : kPassVariants) chain.passShaders[v.slot].Acquire(v.family, v.options, v.flags);
    DrainLoader();
    for (ShaderPair& p : chain.compositeShaders) p.ResolveObjects();
    for (ShaderPair& p : chain.passShaders) p.ResolveObjects();
}

// ---------------------------------------------------------------------------------------
// Reload and close

void ShaderManager::ReloadShaders() {
    gLog.Print(LogSeverity::Progress, LogCategory::Resources, "Reloading shaders - begin");
    gVornexRenderer.FlushCommands(true);
    {
        // The standalone definitions are read again, so the families survive.
        CriticalSectionGuard guard(&lock);
        DiscardFamilies();
        ReadDefinitions();
    }
    gResourceManager.PostReload(1u << RESOURCE_SHADER, true);
    gVornexRenderer.PostResetOverride();
    gLog.Print(LogSeverity::Progress, LogCategory::Resources, "Reloading shaders - end");
}

void ShaderManager::ReleaseGroups() {
    for (ShaderPair& p : fixed) p.Release();
    for (auto& table : lights)
        for (ShaderPair& p : table) p.Release();
    for (ShaderPair& p : shadowMaps) p.Release();
    for (SystemTextureSlot& s : systemTextures) {
        if (s.resource) s.resource->Release();
        s = SystemTextureSlot{};
    }
}

void ShaderManager::Close() {
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "ShaderManager closing...");
    {
        CriticalSectionGuard guard(&lock);
        DiscardFamilies();
        ReleaseGroups();
    }
    loaded = false;
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "ShaderManager closed");
}
