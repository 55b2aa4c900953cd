#pragma once
// ShaderManager (global gShaderManager): the one registry of shader families. It reads
// the definitions (ShaderDefinitions.h), turns a family and an option string into the
// two shader resources of a variant and has them loaded, and at start-up requests the
// built-in variants and system textures that the passes use without naming them.
//
// Threads: LoadDefinitions, LoadBuiltInShaders, InitPostProcessShaders, ReloadShaders
// and Close on the main thread; GetShader, LookupFamilyOptions, FixHardwareDepthBits and
// GetDefinitionStamp on any thread (the loader compiles through them). Locks: the
// manager lock guards the families, their variant caches and the stamp; it is taken
// before the ResourceManager's lock, which comes before the global resource lock.
// ShaderPair::Bind and the constant uploads run on the render thread.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Sync.h"

class DeviceObjectHandle;
class PixelShaderObject;
class PostProcessChain;
class ResourceShader;
class ResourceTexture;
class ShaderFamily;
class VertexShaderObject;

// A vertex and a pixel shader resource of one family and option string, with their
// shader objects once resolved; drawing code uses a pair only while it is valid.
struct ShaderPair {
    ResourceShader* vertexShader = nullptr;
    ResourceShader* pixelShader = nullptr;
    VertexShaderObject* vertexObject = nullptr;
    PixelShaderObject* pixelObject = nullptr;

    // GetShader with load mode 1 (queued) and no wait.
    bool Acquire(const char* family, const char* options, uint32_t flags);
    // The shader object of each resource (null when absent).
    void ResolveObjects();
    // Releases both resources and clears the pair.
    void Release();
    bool IsValid() const { return vertexObject && pixelObject; }
    // Render thread: both shaders through the renderer's state cache (none for an
    // invalid pair's missing half).
    void Bind() const;
    void SetVertexConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) const;
    void SetPixelConstants(uint32_t firstRegister, const float* data, uint32_t registerCount) const;
};

// Load modes of GetShader.
enum : uint32_t { SHADER_LOAD_HERE = 0, SHADER_LOAD_QUEUED = 1 };

class ShaderManager {
public:
    static constexpr uint32_t kFixedSlots = 16;
    static constexpr uint32_t kLightTables = 5;
    static constexpr uint32_t kLightSlots = 256;
    static constexpr uint32_t kShadowMapSlots = 256;
    static constexpr uint32_t kSystemTextures = 5;
    static constexpr uint32_t kMaxOptionText = 2047;

    ShaderManager() = default;
    ~ShaderManager();
    ShaderManager(const ShaderManager&) = delete;
    ShaderManager& operator=(const ShaderManager&) = delete;

    // Reads "Common/Shaders/Shaders.DefBin" when not loaded, then LoadBuiltInShaders;
    // on failure logs "Unable to load shader definition file", closes and returns false.
    bool LoadDefinitions();
    void LoadBuiltInShaders();
    // The post-processing chain's pairs: 32 composite variants and the pass shaders.
    void InitPostProcessShaders(PostProcessChain& chain);
    // False (one line, outputs untouched) for an unknown family or an option text that
    // does not fit a variant record. Load mode: with wait, Resource::Load with the mode
    // as its loader-thread flag; else queued for mode 1, loaded here for mode 0.
    bool GetShader(const char* family, const char* options, ResourceShader** vertex, ResourceShader** pixel,
                   uint32_t loadMode, bool wait, uint32_t flags);
    // The option names a resource name selects for its stage (vertex for a "vs"
    // extension, else pixel); false for a name without a slash or an extension, an
    // unknown family or unreadable mask digits.
    bool LookupFamilyOptions(const char* resourceName, std::vector<std::string>* names, bool skipHardwareDepth);
    // Rewrites the hardware-depth bits of a "family/digits.ext" name for this device.
    void FixHardwareDepthBits(char* resourceName);
    uint64_t GetDefinitionStamp();
    void ReloadShaders();
    void Close();

    bool IsLoaded() const { return loaded; }
    uint32_t FamilyCount();
    // Under the lock (tests): the family of that name, or null.
    ShaderFamily* FindFamilyLocked(const char* name);
    CriticalSection& Lock() { return lock; }

    const ShaderPair& Fixed(uint32_t slot) const { return fixed[slot]; }
    const ShaderPair& Light(uint32_t table, uint32_t slot) const { return lights[table][slot]; }
    const ShaderPair& ShadowMap(uint32_t slot) const { return shadowMaps[slot]; }
    ResourceTexture* SystemTextureResource(uint32_t i) const { return systemTextures[i].resource; }
    DeviceObjectHandle* SystemTexture(uint32_t i) const { return systemTextures[i].texture; }

private:
    bool ReadDefinitions();
    void DiscardFamilies();
    void ReleaseGroups();
    int32_t FindFamilyIndex(const char* name) const;

    bool loaded = false;
    uint64_t stamp = 0;
    std::vector<ShaderFamily*> families;  // sorted by name, case-insensitively
    CriticalSection lock;
    ShaderPair fixed[kFixedSlots];
    ShaderPair lights[kLightTables][kLightSlots];
    ShaderPair shadowMaps[kShadowMapSlots];
    struct SystemTextureSlot {
        ResourceTexture* resource = nullptr;
        DeviceObjectHandle* texture = nullptr;
    } systemTextures[kSystemTextures];
};

// Built and destroyed by the ordered start-up (kRenderStaticInit, module 6).
extern ShaderManager* gShaderManager;
